#include <cmath>

#include "unicode/unicode.h"
#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

// Characters [first, last) of valid UTF-8 text; first < last <= its length.
std::string cut_characters(std::string_view text, std::size_t first, std::size_t last) {
  std::size_t i = 0;
  std::size_t begin = 0;
  for (std::size_t k = 0; k < last; ++k) {
    if (k == first) begin = i;
    unicode::decode(text, i);
  }
  return std::string(text.substr(begin, i - begin));
}

EvalResult cut_or_empty(std::string_view text, double first, double last, std::size_t n) {
  if (!(first < last)) return std::string();
  return cut_characters(text, saturate_index(first, n), saturate_index(last, n));
}

}  // namespace

// Positions count from 1 and are rounded, halves away from zero. A NaN start
// lets an infinite length (or none) run over the whole text, while any finite
// length after a NaN start, and a NaN length, select nothing.
EvalResult fn_substring(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  auto start = eval_arg_number(call, 2);
  if (!start) return std::unexpected(std::move(start.error()));
  double length = INFINITY;
  if (call.args.size() == 3) {
    auto given = eval_arg_number(call, 3);
    if (!given) return std::unexpected(std::move(given.error()));
    length = *given;
  }
  const std::size_t n = unicode::length(*text);
  const double r = round_half_away(*start);
  double first = r - 1;
  if (!(first >= 0)) first = 0;
  double last = static_cast<double>(n);
  if (!std::isinf(length)) {
    const double end = r - 1 + round_half_away(length);
    if (!(end >= 0)) {
      last = 0;
    } else if (end < last) {
      last = end;
    }
  }
  return cut_or_empty(*text, first, last, n);
}

// Positions count from 0, the end is exclusive, negatives count from the end
// and NaN stands for the end of the text.
EvalResult fn_substr(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  const std::size_t n = unicode::length(*text);
  const double size = static_cast<double>(n);
  auto place = [size](double x) {
    if (std::isnan(x)) return size;
    if (x < 0) return std::fmax(x + size, 0.0);
    return std::fmin(x, size);
  };
  auto start = eval_arg_number(call, 2);
  if (!start) return std::unexpected(std::move(start.error()));
  double end = size;
  if (call.args.size() == 3) {
    auto given = eval_arg_number(call, 3);
    if (!given) return std::unexpected(std::move(given.error()));
    end = place(*given);
  }
  return cut_or_empty(*text, std::trunc(place(*start)), std::trunc(end), n);
}

}  // namespace tovarn::xpath::detail
