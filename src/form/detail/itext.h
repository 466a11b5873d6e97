#pragma once
#include <string_view>

namespace tovarn::form::detail {

// What a label reference or a message begins with, after leading white space,
// when it names a text of the form's itext.
inline constexpr std::string_view kItextPrefix = "jr:itext(";

}  // namespace tovarn::form::detail
