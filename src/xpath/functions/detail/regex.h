#pragma once
// regex(): whole-value matching in the Unicode dialect forms are written in,
// run by RE2.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace tovarn::xpath::detail {

inline constexpr std::size_t kMaxPatternNesting = 250;
// RE2's walkers give up after a million nodes and write a line to standard
// error for each node beyond that; a pattern has at most one node per byte.
inline constexpr std::size_t kMaxPatternBytes = 500000;
// A Unicode \w alone is some 12 KB of class items. RE2 fails to compile any
// run of classes this long, after parsing all of it first.
inline constexpr std::size_t kMaxExpandedBytes = std::size_t{16} << 20;

// The pattern as RE2 must read it to mean what the dialect means: \d, \w, \s
// and their negations become the Unicode classes (Nd; Alphabetic, M, Nd, Pc and
// Join_Control; White_Space), and "\_" a plain '_'. Refused, with the reason,
// is what RE2 would read differently without a word: class set operations
// (&&, --, ~~), nested classes, a range from a class ("[\w-z]"), a '{' that
// starts no counted repetition, \<, \>, \C, \Q, \E, digit escapes, nesting
// deeper than kMaxPatternNesting, patterns longer than kMaxPatternBytes, and
// patterns that the classes make longer than kMaxExpandedBytes.
// Everything else is left for RE2 to accept or refuse.
//
// With ClassMembers::ascii the classes keep only their ASCII members. Against
// a value of ASCII characters alone that matches exactly as the full classes
// do (no character beyond ASCII case-folds to an ASCII digit, space or
// non-word character), and RE2 compiles it a hundred times faster. RE2's \b
// and \B are exact there too; with ClassMembers::unicode they are refused.
enum class ClassMembers { unicode, ascii };
[[nodiscard]] std::expected<std::string, std::string> rewrite_pattern(
    std::string_view pattern, ClassMembers members = ClassMembers::unicode);

// Whether the whole value matches, or the regex() message for a pattern that
// cannot be built. Compiles the pattern on every call, with ASCII classes when
// the value is ASCII.
[[nodiscard]] std::expected<bool, std::string> regex_matches(std::string_view value,
                                                             std::string_view pattern);
// The same with the class members chosen by the caller.
[[nodiscard]] std::expected<bool, std::string> regex_matches_with(std::string_view value,
                                                                  std::string_view pattern,
                                                                  ClassMembers members);

}  // namespace tovarn::xpath::detail
