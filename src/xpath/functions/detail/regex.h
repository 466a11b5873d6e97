#pragma once
// regex(): whole-value matching in the Unicode dialect forms are written in,
// run by RE2.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace tovarn::xpath::detail {

inline constexpr std::size_t kMaxPatternNesting = 250;

// The pattern as RE2 must read it to mean what the dialect means: \d, \w, \s
// and their negations become the Unicode classes (Nd; Alphabetic, M, Nd, Pc and
// Join_Control; White_Space), and "\_" a plain '_'. Refused, with the reason,
// is what RE2 would read differently without a word: class set operations
// (&&, --, ~~), nested classes, a '{' that starts no counted repetition,
// \<, \>, \C, \Q, \E, digit escapes, and nesting deeper than kMaxPatternNesting.
// Everything else is left for RE2 to accept or refuse.
[[nodiscard]] std::expected<std::string, std::string> rewrite_pattern(std::string_view pattern);

// Whether the whole value matches, or the regex() message for a pattern that
// cannot be built. Compiles the pattern on every call.
[[nodiscard]] std::expected<bool, std::string> regex_matches(std::string_view value,
                                                             std::string_view pattern);

}  // namespace tovarn::xpath::detail
