#include "unicode/unicode.h"
#include "xpath/functions/detail/core.h"

// A choice list is a text of items separated by runs of white space; items
// compare byte for byte.
namespace tovarn::xpath::detail {

EvalResult fn_selected(const CallSite& call) {
  auto list = eval_arg_string(call, 1);
  if (!list) return std::unexpected(std::move(list.error()));
  auto value = eval_arg_string(call, 2);
  if (!value) return std::unexpected(std::move(value.error()));
  const std::string_view wanted = unicode::trim(*value);
  if (wanted.empty()) return false;
  std::size_t pos = 0;
  while (auto item = next_word(*list, pos)) {
    if (*item == wanted) return true;
  }
  return false;
}

// The item at index n (from 0, truncated); a negative n, or one at or past the
// number of items, gives the empty text, and NaN counts as 0.
EvalResult fn_selected_at(const CallSite& call) {
  auto list = eval_arg_string(call, 1);
  if (!list) return std::unexpected(std::move(list.error()));
  auto n = eval_arg_number(call, 2);
  if (!n) return std::unexpected(std::move(n.error()));
  if (*n < 0) return std::string();
  // No list has SIZE_MAX items, so saturation cannot land on a real index.
  std::size_t index = saturate_index(*n, SIZE_MAX);
  std::size_t pos = 0;
  while (auto item = next_word(*list, pos)) {
    if (index-- == 0) return std::string(*item);
  }
  return std::string();
}

EvalResult fn_count_selected(const CallSite& call) {
  auto list = eval_arg_string(call, 1);
  if (!list) return std::unexpected(std::move(list.error()));
  std::size_t count = 0;
  std::size_t pos = 0;
  while (next_word(*list, pos)) ++count;
  return static_cast<double>(count);
}

}  // namespace tovarn::xpath::detail
