#include "xpath/detail/parse_messages.h"

#include "xpath/expr.h"
#include "xpath/quote.h"

namespace tovarn::xpath::detail::msg {

std::string unexpected_character(std::string_view character) {
  std::string out = "unexpected character '";
  out += character;
  out += '\'';
  return out;
}

std::string unterminated_string(std::size_t position) {
  return "unterminated string starting at character " + std::to_string(position);
}

std::string not_a_number(std::string_view numeral) {
  std::string out = "'";
  out += numeral;
  out += "' is not a number";
  return out;
}

std::string expected_token(const Token& expected, const Token* found) {
  return "expected " + describe_token(expected) + ", found " + describe_optional_token(found);
}

std::string expected_node_test(const Token* found) {
  return "expected a node test, found " + describe_optional_token(found);
}

std::string unsupported_axis(std::string_view name) {
  std::string out = "unsupported axis '";
  out += name;
  out += '\'';
  return out;
}

std::string trailing_input(std::string_view text, std::size_t token_index) {
  return "unexpected trailing input in " + quote_text(text) + " at token " +
         std::to_string(token_index);
}

std::string nests_too_deep(int limit) {
  return "expression nests deeper than " + std::to_string(limit) + " levels";
}

}  // namespace tovarn::xpath::detail::msg
