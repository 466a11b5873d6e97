#include "xpath/detail/local_clock.h"

#include "xpath/environment.h"

namespace tovarn::xpath {
namespace detail {
namespace {

// Wide enough for every field of any tm, and the separators between them.
constexpr std::size_t kTextSize = 160;

// Writes the value's decimal digits at `out`, zero-padded on the left to
// `width`, and returns the end. A text is built in a buffer and becomes a
// string once: appended to a string field by field, it took about 1,300
// instructions, three times the clock's own reading.
char* put(char* out, long long value, int width) {
  if (width == 2 && value >= 0 && value < 100) {  // most fields
    *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
  }
  if (value < 0) *out++ = '-';
  const unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                : static_cast<unsigned long long>(value);
  char digits[20];  // backwards
  int count = 0;
  for (unsigned long long rest = magnitude; count == 0 || rest != 0; rest /= 10)
    digits[count++] = static_cast<char>('0' + rest % 10);
  for (int pad = width - count; pad > 0; --pad) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* put_date(char* out, const std::tm& local) {
  out = put(out, static_cast<long long>(local.tm_year) + 1900, 4);
  *out++ = '-';
  out = put(out, static_cast<long long>(local.tm_mon) + 1, 2);
  *out++ = '-';
  return put(out, local.tm_mday, 2);
}

}  // namespace

std::string local_date(const std::tm& local) {
  char text[kTextSize];
  return std::string(text, put_date(text, local));
}

std::string local_date_time(const std::tm& local, int millis) {
  char text[kTextSize];
  char* out = put_date(text, local);
  *out++ = 'T';
  out = put(out, local.tm_hour, 2);
  *out++ = ':';
  out = put(out, local.tm_min, 2);
  *out++ = ':';
  out = put(out, local.tm_sec, 2);
  *out++ = '.';
  out = put(out, millis, 3);
  // Whole minutes: an offset has seconds only in historic zones.
  const long offset = local.tm_gmtoff;
  const unsigned long long minutes =
      (offset < 0 ? 0ULL - static_cast<unsigned long long>(offset)
                  : static_cast<unsigned long long>(offset)) /
      60;
  if (minutes == 0) {
    *out++ = 'Z';
  } else {
    *out++ = offset < 0 ? '-' : '+';
    out = put(out, static_cast<long long>(minutes / 60), 2);
    *out++ = ':';
    out = put(out, static_cast<long long>(minutes % 60), 2);
  }
  return std::string(text, out);
}

}  // namespace detail

Clock local_clock(std::optional<std::string> today, std::optional<std::string> now) {
  if (!today || !now) {
    std::timespec read{};
    std::timespec_get(&read, TIME_UTC);
    std::tm local{};
    // localtime_r, unlike localtime, shares no buffer between threads. It
    // fails only for a year an int cannot hold, which no machine's clock shows.
    localtime_r(&read.tv_sec, &local);
    if (!now) {
      now = detail::local_date_time(local, static_cast<int>(read.tv_nsec / 1'000'000));
      if (!today) today = now->substr(0, now->find('T'));
    }
    if (!today) today = detail::local_date(local);
  }
  return Clock(std::move(*today), std::move(*now));
}

}  // namespace tovarn::xpath
