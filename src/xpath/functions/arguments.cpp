#include "tree/query.h"
#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/core.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {

EvalResult eval_arg(const CallSite& call, std::size_t p) {
  if (p == 0 || p > call.args.size()) return std::unexpected(msg::missing_argument(call.name, p));
  return evaluate(call.args[p - 1], call.document, call.context, call.environment);
}

std::expected<std::string, std::string> eval_arg_string(const CallSite& call, std::size_t p) {
  EvalResult value = eval_arg(call, p);
  if (!value) return std::unexpected(std::move(value.error()));
  if (auto* text = std::get_if<std::string>(&*value)) return std::move(*text);
  return value_to_string(*value);
}

std::expected<double, std::string> eval_arg_number(const CallSite& call, std::size_t p) {
  EvalResult value = eval_arg(call, p);
  if (!value) return std::unexpected(std::move(value.error()));
  return value_to_number(*value);
}

std::expected<bool, std::string> eval_arg_boolean(const CallSite& call) {
  EvalResult value = eval_arg(call, 1);
  if (!value) return std::unexpected(std::move(value.error()));
  return value_to_boolean(*value);
}

std::string context_string(const CallSite& call) {
  return tree::string_value(call.document, call.context.node);
}

}  // namespace tovarn::xpath::detail
