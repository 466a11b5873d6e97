#pragma once
// Reading ISO date texts, which both the number conversion (a date counts as
// its days) and the date functions need.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tovarn::xpath::detail {

// A clock reading as written: the zone suffix is dropped, never applied. The
// day is not checked against the month (2023-02-31 is a DateTime), and the
// time fields are not range-checked at all.
struct DateTime {
  std::int64_t year = 0;
  std::uint32_t month = 1;
  std::uint32_t day = 1;
  std::uint32_t hour = 0;
  std::uint32_t minute = 0;
  std::uint32_t second = 0;
  std::uint32_t millis = 0;

  bool operator==(const DateTime&) const = default;
};

// Strict about the date (year-month-day, each an optional '+' and digits that
// fit the field, month 1 to 12, day 1 to 31), lenient about the time after
// 'T' or a space (a field that does not read is 0). None when the text is no
// date.
std::optional<DateTime> parse_date_time(std::string_view text);

// Days from 1970-01-01 to the clock reading, the time of day as a fraction. A
// day past the month's end carries over (2021-02-30 counts as 2021-03-02).
// Defined for every year; for years far beyond any calendar in use it is only
// approximate.
double days_since_1970(const DateTime& date);

}  // namespace tovarn::xpath::detail
