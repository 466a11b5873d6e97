#include "xpath/functions/detail/dates.h"

#include <charconv>
#include <cstdint>

#include "unicode/unicode.h"
#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {
namespace {

void append_padded(std::string& out, std::uint64_t value, std::size_t width) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  (void)error;  // 24 characters hold every 64-bit value
  std::size_t length = static_cast<std::size_t>(end - digits);
  if (length < width) out.append(width - length, '0');
  out.append(digits, length);
}

}  // namespace

std::expected<std::string, std::string> format_date(const DateTime& date,
                                                    std::string_view pattern) {
  std::string out;
  out.reserve(pattern.size() + 8);
  std::size_t i = 0;
  while (i < pattern.size()) {
    std::size_t start = i;
    char32_t c = unicode::decode(pattern, i);
    if (c != '%') {
      out.append(pattern.substr(start, i - start));
      continue;
    }
    if (i == pattern.size()) return std::unexpected(msg::bare_percent());
    std::size_t code_start = i;
    char32_t code = unicode::decode(pattern, i);
    switch (code) {
      // The year is never negative: the reader takes no minus sign.
      case 'Y': append_padded(out, static_cast<std::uint64_t>(date.year), 4); break;
      case 'y': append_padded(out, static_cast<std::uint64_t>(date.year % 100), 2); break;
      case 'm': append_padded(out, date.month, 2); break;
      case 'n': append_padded(out, date.month, 1); break;
      case 'd': append_padded(out, date.day, 2); break;
      case 'e': append_padded(out, date.day, 1); break;
      case 'H': append_padded(out, date.hour, 2); break;
      case 'h': append_padded(out, date.hour, 1); break;
      case 'M': append_padded(out, date.minute, 2); break;
      case 'S': append_padded(out, date.second, 2); break;
      case '3': append_padded(out, date.millis, 3); break;
      case '%': out += '%'; break;
      case 'a':
      case 'b':
        return std::unexpected(msg::needs_language(pattern.substr(code_start, i - code_start)));
      default:
        return std::unexpected(msg::unknown_date_code(pattern.substr(code_start, i - code_start)));
    }
  }
  return out;
}

EvalResult fn_today(const CallSite& call) { return std::string(call.environment.today()); }

EvalResult fn_now(const CallSite& call) { return std::string(call.environment.now()); }

EvalResult fn_format_date(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  if (unicode::is_blank(*text)) return std::string();
  std::optional<DateTime> date = parse_date_time(*text);
  if (!date) return std::unexpected(msg::not_a_date(call.name, *text));
  auto pattern = eval_arg_string(call, 2);
  if (!pattern) return std::unexpected(std::move(pattern.error()));
  auto formatted = format_date(*date, *pattern);
  if (!formatted) return std::unexpected(std::move(formatted.error()));
  return std::move(*formatted);
}

}  // namespace tovarn::xpath::detail
