#include "xpath/detail/date_text.h"
#include "xpath/functions/detail/dates.h"

#include <gtest/gtest.h>

#include <optional>

namespace tovarn::xpath::detail {

void PrintTo(const DateTime& d, std::ostream* os) {
  *os << d.year << '-' << d.month << '-' << d.day << 'T' << d.hour << ':' << d.minute << ':'
      << d.second << '.' << d.millis;
}

namespace {

struct ParseCase {
  const char* text;
  std::optional<DateTime> expected;
};

constexpr std::optional<DateTime> kNoDate = std::nullopt;

DateTime date(std::int64_t y, std::uint32_t mo, std::uint32_t d, std::uint32_t h = 0,
              std::uint32_t mi = 0, std::uint32_t s = 0, std::uint32_t ms = 0) {
  return {y, mo, d, h, mi, s, ms};
}

TEST(ParseDateTime, StrictDateLenientTime) {
  const ParseCase cases[] = {
      {"2024-03-05", date(2024, 3, 5)},
      {"  2024-03-05\t", date(2024, 3, 5)},
      {"2024-1-5", date(2024, 1, 5)},
      {"+2024-01-05", date(2024, 1, 5)},
      {"2024-+01-+05", date(2024, 1, 5)},
      {"0002024-0001-0005", date(2024, 1, 5)},
      {"2023-02-31", date(2023, 2, 31)},
      {"2024-01-05-junk", date(2024, 1, 5)},
      {"9223372036854775807-12-31", date(INT64_MAX, 12, 31)},
      {"2024-13-01", kNoDate},
      {"2024-00-10", kNoDate},
      {"2024-01-00", kNoDate},
      {"2024-01-32", kNoDate},
      {"2024-01", kNoDate},
      {"2024-01-05Z", kNoDate},
      {"2024/01/05", kNoDate},
      {"-2024-01-05", kNoDate},
      {"2024--05", kNoDate},
      {"+-01-05", kNoDate},
      {"2024-01-5.0", kNoDate},
      {"", kNoDate},
      {"T12:00", kNoDate},
      // Fields that overflow their type are no date, never a wrapped one.
      {"9223372036854775808-01-01", kNoDate},
      {"2024-4294967297-01", kNoDate},
      {"2024-01-4294967297", kNoDate},
      {"2024-03-05t07:08", kNoDate},
      // The time part.
      {"2024-03-05T07:08:09.5+02:00", date(2024, 3, 5, 7, 8, 9, 500)},
      {"2024-03-05T07:08:09.5-05:00", date(2024, 3, 5, 7, 8, 9, 500)},
      {"2024-03-05T07:08:09.123456Z", date(2024, 3, 5, 7, 8, 9, 123)},
      {"2024-03-05T07:08:09.05z", date(2024, 3, 5, 7, 8, 9, 50)},
      {"2024-03-05T07:08:09.", date(2024, 3, 5, 7, 8, 9, 0)},
      {"2024-03-05 07:08", date(2024, 3, 5, 7, 8)},
      {"2024-03-05T25:61:99", date(2024, 3, 5, 25, 61, 99)},
      {"2024-03-05T12:30:45,5", date(2024, 3, 5, 12, 30, 0)},
      {"2024-03-05T12", date(2024, 3, 5, 12)},
      {"2024-03-05T", date(2024, 3, 5)},
      {"2024-03-05Tjunk:xx:yy.zz", date(2024, 3, 5)},
      {"2024-03-05T4294967296:4294967295", date(2024, 3, 5, 0, 4294967295u)},
      // The zone cuts come first: a '+' ends the time, a '-' cuts at the last one.
      {"2024-03-05T+7:+8:+9.+5", date(2024, 3, 5)},
      {"2024-03-05T07:08:09:10", date(2024, 3, 5, 7, 8, 9)},
      {"2024-03-05T07:08:09.1x", date(2024, 3, 5, 7, 8, 9, 0)},
      {"2024-03-05T07-08-09", date(2024, 3, 5)},
      {"2024-03-05T07:08-09:10", date(2024, 3, 5, 7, 8)},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_date_time(c.text), c.expected);
  }
}

struct FormatCase {
  DateTime date;
  const char* pattern;
  const char* expected;  // the text, or the message
  bool fails;
};

TEST(FormatDate, EveryCode) {
  const DateTime d = date(2024, 3, 5, 7, 8, 9, 5);
  const FormatCase cases[] = {
      {d, "%Y/%m/%d", "2024/03/05", false},
      {d, "%e.%n.%y", "5.3.24", false},
      {d, "%H:%M:%S.%3", "07:08:09.005", false},
      {d, "%h", "7", false},
      {d, "%%Y", "%Y", false},
      {d, "", "", false},
      {d, "no codes, ünïcode", "no codes, ünïcode", false},
      {date(5, 1, 1), "%Y", "0005", false},
      {date(12345, 1, 1), "%Y", "12345", false},
      {date(INT64_MAX, 1, 1), "%Y %y", "9223372036854775807 07", false},
      {date(2005, 1, 1), "%y", "05", false},
      {date(2000, 12, 31), "%y %n %e", "00 12 31", false},
      {date(1, 1, 1, 123, 4294967295u, 100, 1000), "%H %M %S %3", "123 4294967295 100 1000",
       false},
      {d, "%", "a date format ends with a bare %", true},
      {d, "x%", "a date format ends with a bare %", true},
      {d, "%q", "unknown date format code %q", true},
      {d, "%Y%é", "unknown date format code %é", true},
      {d, "%Y %D", "unknown date format code %D", true},
      {d, "%a",
       "%a names a day or month in the form's language, and this evaluator has none — it will "
       "not guess one",
       true},
      {d, "%Y %b",
       "%b names a day or month in the form's language, and this evaluator has none — it will "
       "not guess one",
       true},
      // The first failing code ends the formatting.
      {d, "%q%", "unknown date format code %q", true},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto result = format_date(c.date, c.pattern);
    if (c.fails) {
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error(), c.expected);
    } else {
      ASSERT_TRUE(result) << result.error();
      EXPECT_EQ(*result, c.expected);
    }
  }
}

}  // namespace
}  // namespace tovarn::xpath::detail
