#pragma once
// Printing dates through %-code patterns.

#include <expected>
#include <string>
#include <string_view>

#include "xpath/detail/date_text.h"

namespace tovarn::xpath::detail {

// The pattern with every %-code replaced; the message of the first code that
// cannot be printed.
[[nodiscard]] std::expected<std::string, std::string> format_date(const DateTime& date,
                                                                  std::string_view pattern);

}  // namespace tovarn::xpath::detail
