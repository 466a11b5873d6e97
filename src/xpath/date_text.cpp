#include "xpath/detail/date_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "unicode/unicode.h"

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

}  // namespace tovarn::xpath::detail
