#pragma once
// Every message of the tokenizer and the parser, one function per template.

#include <cstddef>
#include <string>
#include <string_view>

#include "xpath/detail/token.h"

namespace tovarn::xpath::detail::msg {

// `character` is the character's own UTF-8, unescaped.
std::string unexpected_character(std::string_view character);
// `position` counts characters from 1.
std::string unterminated_string(std::size_t position);
std::string not_a_number(std::string_view numeral);

// `found` is null at the end of the tokens.
std::string expected_token(const Token& expected, const Token* found);
std::string expected_node_test(const Token* found);
std::string unsupported_axis(std::string_view name);
// The whole text in its quoted form; `token_index` counts from 0.
std::string trailing_input(std::string_view text, std::size_t token_index);
std::string nests_too_deep(int limit);

}  // namespace tovarn::xpath::detail::msg
