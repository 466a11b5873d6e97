#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {

EvalResult fn_true(const CallSite&) { return true; }

EvalResult fn_false(const CallSite&) { return false; }

EvalResult fn_boolean(const CallSite& call) {
  auto b = eval_arg_boolean(call);
  if (!b) return std::unexpected(std::move(b.error()));
  return *b;
}

EvalResult fn_not(const CallSite& call) {
  auto b = eval_arg_boolean(call);
  if (!b) return std::unexpected(std::move(b.error()));
  return !*b;
}

// Exactly "1", or four bytes that lower to "true" in ASCII; nothing is trimmed.
EvalResult fn_boolean_from_string(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  const std::string& s = *text;
  if (s == "1") return true;
  if (s.size() != 4) return false;
  constexpr std::string_view kTrue = "true";
  for (std::size_t i = 0; i < 4; ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kTrue[i]) return false;
  }
  return true;
}

// Only the chosen branch is evaluated, and its value comes back unconverted.
EvalResult fn_if(const CallSite& call) {
  auto condition = eval_arg_boolean(call);
  if (!condition) return std::unexpected(std::move(condition.error()));
  return eval_arg(call, *condition ? 2 : 3);
}

}  // namespace tovarn::xpath::detail
