#pragma once
// Every message of the function library, one function per template. Names are
// printed as written.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tovarn::xpath::detail::msg {

std::string unknown_function(std::string_view name);
std::string not_implemented(std::string_view name);
// `allowed` is ascending; printed joined with " or ".
std::string wrong_arity(std::string_view name, std::span<const std::size_t> allowed,
                        std::size_t given);
std::string missing_argument(std::string_view name, std::size_t position);

std::string sum_needs_nodeset(std::string_view kind);
std::string count_needs_nodeset(std::string_view kind);
std::string name_needs_nodeset(std::string_view name, std::string_view kind);

// Date and time, regex, choice-name and pulldata.

// "{name}(): {quoted text} is not an ISO date or date-time"
std::string not_a_date(std::string_view name, std::string_view text);
std::string bare_percent();
// `code` is the character after the %, as it stands in the pattern.
std::string needs_language(std::string_view code);  // %a and %b
std::string unknown_date_code(std::string_view code);

// "regex(): {quoted pattern} is not a pattern this engine can build — {why}"
std::string bad_pattern(std::string_view pattern, std::string_view why);

// Patterns the dialect reads one way and RE2 another (or not at all).
enum class PatternRefusal {
  set_operation,
  nested_class,
  class_range,
  bad_brace,
  word_edge_escape,
  word_boundary,
  byte_escape,
  quote_escape,
  digit_escape,
  too_deep,
  too_long,
  too_expanded,
};
std::string_view pattern_refusal(PatternRefusal why);

// "{name}(): no choice {quoted value} for {path} — ..."
std::string no_choice(std::string_view name, std::string_view value, std::string_view path);

std::string no_table(std::string_view id);

}  // namespace tovarn::xpath::detail::msg
