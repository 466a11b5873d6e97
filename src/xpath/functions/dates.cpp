#include "xpath/functions/detail/dates.h"

#include <algorithm>
#include <charconv>

#include "unicode/unicode.h"
#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {
namespace {

// An optional '+' and one or more ASCII digits whose value fits T.
template <typename T>
std::optional<T> read_unsigned_field(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  T value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Time fields never fail: what does not read is 0.
std::uint32_t read_time_field(std::string_view text) {
  return read_unsigned_field<std::uint32_t>(text).value_or(0);
}

// The piece before the next `separator`, which `rest` then loses (with the
// separator); the whole rest when there is none.
std::string_view take_until(std::string_view& rest, char separator) {
  std::size_t at = rest.find(separator);
  std::string_view piece = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view{} : rest.substr(at + 1);
  return piece;
}

void read_time(std::string_view time, DateTime& out) {
  // Drops a zone such as Z, +02:00 or -05:00.
  time = time.substr(0, time.find_first_of("+Zz"));
  if (std::size_t minus = time.rfind('-'); minus != std::string_view::npos) {
    time = time.substr(0, minus);
  }
  // A missing piece reads as the empty text, which is 0.
  std::string_view rest = time;
  out.hour = read_time_field(take_until(rest, ':'));
  out.minute = read_time_field(take_until(rest, ':'));
  std::string_view seconds = take_until(rest, ':');
  std::size_t point = seconds.find('.');
  out.second = read_time_field(seconds.substr(0, point));
  if (point == std::string_view::npos) return;
  // The first three characters of the fraction, padded with '0'. A character
  // that is no ASCII digit spoils the number whatever its width, so counting
  // bytes gives the same result as counting characters.
  std::string fraction(seconds.substr(point + 1, 3));
  fraction.resize(3, '0');
  out.millis = read_time_field(fraction);
}

bool is_leap_year(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days from 0000-01-01 to January 1st of the year, for 0 <= year <= 400:
// every year before it, and a leap day for each leap year among them.
constexpr std::int64_t days_before_year(std::int64_t year) {
  return 365 * year + (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400;
}

constexpr std::int64_t kDaysPerCycle = days_before_year(400);  // 400 years
constexpr std::int64_t kDaysTo1970 = days_before_year(1970 % 400) + 1970 / 400 * kDaysPerCycle;
constexpr double kMillisPerDay = 86'400'000;

void append_padded(std::string& out, std::uint64_t value, std::size_t width) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  (void)error;  // 24 characters hold every 64-bit value
  std::size_t length = static_cast<std::size_t>(end - digits);
  if (length < width) out.append(width - length, '0');
  out.append(digits, length);
}

}  // namespace

std::optional<DateTime> parse_date_time(std::string_view text) {
  text = unicode::trim(text);
  std::size_t cut = text.find_first_of("T ");
  std::string_view date = text.substr(0, cut);

  if (std::count(date.begin(), date.end(), '-') < 2) return std::nullopt;
  std::string_view rest = date;
  auto year = read_unsigned_field<std::int64_t>(take_until(rest, '-'));
  auto month = read_unsigned_field<std::uint32_t>(take_until(rest, '-'));
  auto day = read_unsigned_field<std::uint32_t>(take_until(rest, '-'));
  if (!year || !month || !day) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31) return std::nullopt;

  DateTime out;
  out.year = *year;
  out.month = *month;
  out.day = *day;
  if (cut != std::string_view::npos) read_time(text.substr(cut + 1), out);
  return out;
}

double days_since_1970(const DateTime& date) {
  // The calendar repeats every 400 years. Whole cycles are counted in floating
  // point, so that no year overflows; the year within its cycle exactly.
  static constexpr std::int64_t kBeforeMonth[12] = {0,   31,  59,  90,  120, 151,
                                                    181, 212, 243, 273, 304, 334};
  const std::int64_t year = date.year % 400;
  std::int64_t days = days_before_year(year) + kBeforeMonth[date.month - 1] + date.day - 1;
  if (date.month > 2 && is_leap_year(year)) ++days;
  const double whole = static_cast<double>(date.year / 400) * kDaysPerCycle +
                       static_cast<double>(days - kDaysTo1970);

  // No field is range-checked, but even 2^32 - 1 hours fit in 64 bits of
  // milliseconds.
  const std::uint64_t millis = std::uint64_t{date.hour} * 3'600'000 +
                               std::uint64_t{date.minute} * 60'000 +
                               std::uint64_t{date.second} * 1'000 + date.millis;
  if (millis == 0) return whole;
  // One division of the whole reading rounds once.
  return (whole * kMillisPerDay + static_cast<double>(millis)) / kMillisPerDay;
}

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
