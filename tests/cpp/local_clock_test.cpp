#include "xpath/detail/local_clock.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <string>

#include "xpath/environment.h"

namespace tovarn::xpath {
namespace {

struct ClockCase {
  int year, month, day, hour, minute, second, millis;
  long offset;  // seconds east of UTC
  const char* date;
  const char* date_time;
};

TEST(LocalClock, Texts) {
  const ClockCase cases[] = {
      {2024, 5, 31, 14, 3, 9, 120, 7200, "2024-05-31", "2024-05-31T14:03:09.120+02:00"},
      {2024, 1, 2, 3, 4, 5, 6, 0, "2024-01-02", "2024-01-02T03:04:05.006Z"},
      {2024, 12, 31, 23, 59, 59, 999, -12600, "2024-12-31", "2024-12-31T23:59:59.999-03:30"},
      {2025, 1, 1, 0, 0, 0, 0, 50400, "2025-01-01", "2025-01-01T00:00:00.000+14:00"},
      {2024, 6, 30, 12, 0, 0, 0, -43200, "2024-06-30", "2024-06-30T12:00:00.000-12:00"},
      {2024, 6, 30, 12, 0, 0, 0, 19800, "2024-06-30", "2024-06-30T12:00:00.000+05:30"},
      // A leap second, and offsets with seconds (historic zones) cut to minutes.
      {2016, 12, 31, 23, 59, 60, 500, 1172, "2016-12-31", "2016-12-31T23:59:60.500+00:19"},
      {2016, 12, 31, 23, 59, 60, 500, -1172, "2016-12-31", "2016-12-31T23:59:60.500-00:19"},
      {2016, 12, 31, 23, 59, 60, 500, -59, "2016-12-31", "2016-12-31T23:59:60.500Z"},
      // Years keep four digits at least, and every digit they have.
      {5, 3, 4, 1, 2, 3, 4, 0, "0005-03-04", "0005-03-04T01:02:03.004Z"},
      {12345, 3, 4, 1, 2, 3, 4, 0, "12345-03-04", "12345-03-04T01:02:03.004Z"},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.date_time);
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month - 1;
    local.tm_mday = c.day;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    local.tm_sec = c.second;
    local.tm_gmtoff = c.offset;
    EXPECT_EQ(detail::local_date(local), c.date);
    EXPECT_EQ(detail::local_date_time(local, c.millis), c.date_time);
  }
}

// No field of a tm, however large, overflows the texts or their arithmetic.
TEST(LocalClock, ExtremeFields) {
  std::tm local{};
  local.tm_year = INT_MAX;
  local.tm_mon = INT_MAX;
  local.tm_mday = INT_MIN;
  local.tm_hour = -1;
  local.tm_min = 100;
  local.tm_sec = INT_MAX;
  local.tm_gmtoff = LONG_MIN;
  EXPECT_EQ(detail::local_date(local), "2147485547-2147483648--2147483648");
  EXPECT_EQ(detail::local_date_time(local, INT_MIN),
            "2147485547-2147483648--2147483648T-01:100:2147483647.-2147483648"
            "-2562047788015215:30");
  local.tm_year = INT_MIN;
  local.tm_gmtoff = LONG_MAX;
  EXPECT_EQ(detail::local_date(local), "-2147481748-2147483648--2147483648");
}

TEST(LocalClock, GivenTextsWin) {
  const Clock both = local_clock("t", "n");
  EXPECT_EQ(both.today(), "t");
  EXPECT_EQ(both.now(), "n");
  const Clock empty = local_clock("", "");
  EXPECT_EQ(empty.today(), "");
  EXPECT_EQ(empty.now(), "");
  EXPECT_EQ(local_clock("t", std::nullopt).today(), "t");
  EXPECT_EQ(local_clock(std::nullopt, "n").now(), "n");
}

TEST(LocalClock, NowStartsWithToday) {
  const Clock clock = local_clock(std::nullopt, std::nullopt);
  const std::string_view now = clock.now();
  ASSERT_EQ(clock.today().size(), 10u);
  EXPECT_EQ(now.substr(0, 10), clock.today());
  EXPECT_EQ(now.substr(10, 1), "T");
  EXPECT_TRUE(now.size() == 24 ? now.back() == 'Z' : now.size() == 29) << now;
}

}  // namespace
}  // namespace tovarn::xpath
