#pragma once
#include <string>
#include <string_view>

namespace tovarn::xpath {

// The quoted form of a text used in messages: double quotes, backslash escapes
// for '"', '\\', tab, line feed, carriage return and NUL, and \u{hex} for
// grapheme extenders and characters that are not printable.
std::string quote_text(std::string_view text);

}  // namespace tovarn::xpath
