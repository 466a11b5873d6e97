#include "unicode/unicode.h"
#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {

EvalResult fn_choice_name(const CallSite& call) {
  auto value = eval_arg_string(call, 1);
  if (!value) return std::unexpected(std::move(value.error()));
  // A blank answer has no label to look for, and is no error.
  if (unicode::is_blank(*value)) return std::string();
  auto path = eval_arg_string(call, 2);
  if (!path) return std::unexpected(std::move(path.error()));
  std::string_view question = unicode::trim(*path);
  std::optional<std::string> label = call.environment.choice_label(*value, question);
  if (!label) return std::unexpected(msg::no_choice(call.name, *value, question));
  return std::move(*label);
}

}  // namespace tovarn::xpath::detail
