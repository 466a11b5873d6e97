#include "xpath/functions/detail/messages.h"

#include "xpath/quote.h"

namespace tovarn::xpath::detail::msg {

std::string unknown_function(std::string_view name) {
  std::string out = "unknown function ";
  out += name;
  out += "()";
  return out;
}

std::string not_implemented(std::string_view name) {
  std::string out(name);
  out += "() is not implemented yet — tovarn refuses to guess at a value the form will act on";
  return out;
}

std::string wrong_arity(std::string_view name, std::span<const std::size_t> allowed,
                        std::size_t given) {
  std::string out(name);
  out += "() takes ";
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    if (i > 0) out += " or ";
    out += std::to_string(allowed[i]);
  }
  out += " argument(s), got ";
  out += std::to_string(given);
  return out;
}

std::string missing_argument(std::string_view name, std::size_t position) {
  std::string out(name);
  out += "() needs an argument in position ";
  out += std::to_string(position);
  return out;
}

std::string sum_needs_nodeset(std::string_view kind) {
  std::string out = "sum() adds up a node-set, and was given ";
  out += kind;
  return out;
}

std::string count_needs_nodeset(std::string_view kind) {
  std::string out = "count() counts nodes, and was given ";
  out += kind;
  return out;
}

std::string name_needs_nodeset(std::string_view name, std::string_view kind) {
  std::string out(name);
  out += "() names a node, and was given ";
  out += kind;
  return out;
}

std::string not_a_date(std::string_view name, std::string_view text) {
  std::string out(name);
  out += "(): ";
  out += quote_text(text);
  out += " is not an ISO date or date-time";
  return out;
}

std::string bare_percent() { return "a date format ends with a bare %"; }

std::string needs_language(std::string_view code) {
  std::string out = "%";
  out += code;
  out += " names a day or month in the form's language, and this evaluator has none — it will "
         "not guess one";
  return out;
}

std::string unknown_date_code(std::string_view code) {
  std::string out = "unknown date format code %";
  out += code;
  return out;
}

std::string bad_pattern(std::string_view pattern, std::string_view why) {
  std::string out = "regex(): ";
  out += quote_text(pattern);
  out += " is not a pattern this engine can build — ";
  out += why;
  return out;
}

std::string_view pattern_refusal(PatternRefusal why) {
  static constexpr std::string_view kTexts[] = {
      "class set operations (&&, --, ~~) are not supported",
      "nested character classes are not supported",
      "a class such as \\w cannot begin a range",
      "a '{' must begin a counted repetition such as {2} or {2,5}; write \\{ for the character",
      "\\< and \\> (start and end of a word) are not supported",
      "\\b and \\B know only ASCII word characters here, and the value is not ASCII",
      "\\C (any single byte) is not supported",
      "\\Q...\\E quoting is not supported",
      "backreferences and octal escapes are not supported",
      "the pattern nests deeper than 250 levels",
      "patterns are limited to 500000 bytes",
      "its \\d, \\w and \\s classes expand to more than 16 MiB",
  };
  return kTexts[static_cast<int>(why)];
}

std::string no_choice(std::string_view name, std::string_view value, std::string_view path) {
  std::string out(name);
  out += "(): no choice ";
  out += quote_text(value);
  out += " for ";
  out += path;
  out += " — the evaluator was given no choice list for that question";
  return out;
}

std::string no_table(std::string_view id) {
  std::string out = "pulldata() cannot find the table '";
  out += id;
  out += "' — the form declares it as an external file, and nothing has loaded it";
  return out;
}

}  // namespace tovarn::xpath::detail::msg
