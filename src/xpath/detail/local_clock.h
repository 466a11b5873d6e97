#pragma once
// The texts of the local clock, apart from reading it.

#include <ctime>
#include <string>

namespace tovarn::xpath::detail {

// "2024-05-31" of a broken-down local time.
std::string local_date(const std::tm& local);
// "2024-05-31T14:03:09.120+02:00" of a broken-down local time (its offset in
// tm_gmtoff, "Z" for none) and the milliseconds past its second.
std::string local_date_time(const std::tm& local, int millis);

}  // namespace tovarn::xpath::detail
