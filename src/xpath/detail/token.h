#pragma once
// The tokens of the expression language and their printed forms in messages.
// Only the parser tokenizes; tests and dumps use the rest.

#include <cstdint>
#include <expected>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

namespace tovarn::xpath::detail {

// In the order of their printed names (token_kind_name). There are no keyword
// tokens: "or", "div", axis and node-type names are Names that the parser
// recognises by where they stand.
enum class TokenKind : std::uint8_t {
  name,
  number,
  literal,
  variable,
  slash,
  double_slash,
  dot,
  double_dot,
  at,
  star,
  left_paren,
  right_paren,
  left_bracket,
  right_bracket,
  comma,
  pipe,
  plus,
  minus,
  equal,
  not_equal,
  less,
  less_equal,
  greater,
  greater_equal,
  double_colon,
};

// A token records no position. Its text views the tokenized text, so a token
// list lives no longer than that text; the parser copies what the tree keeps.
struct Token {
  TokenKind kind;
  std::string_view text;  // Name as written, Literal between its quotes, Variable without "$"
  double number = 0;      // Number: never negative, never NaN

  // Kind and payload: texts byte for byte, numbers by float equality.
  friend bool operator==(const Token& a, const Token& b) {
    return a.kind == b.kind && a.text == b.text && a.number == b.number;
  }
};

// The tokens of `text` in order, or the message of the first character that
// starts no token, of an unterminated literal (its position in characters from
// 1) or of a numeral with two points. One pass, no backtracking.
[[nodiscard]] std::expected<std::vector<Token>, std::string> tokenize(std::string_view text);
// The same into `tokens`, which it clears first: the parser keeps its list in
// memory of its own.
[[nodiscard]] std::expected<void, std::string> tokenize_into(std::string_view text,
                                                             std::pmr::vector<Token>& tokens);

// Whether c may continue a name or a variable name: Alphabetic, numeric
// (Nd, Nl, No), "-", "." or "_"; never ":".
bool is_name_char(char32_t c);

// "RightParen", "Name", ...
std::string_view token_kind_name(TokenKind kind);

// RightParen, Name("jr:choice-name"), Number(2.0).
std::string describe_token(const Token& token);
// "None" for no token (the end of the list), otherwise Some(...).
std::string describe_optional_token(const Token* token);

// The float form of a number in token descriptions: shortest round-trip
// digits, positional with at least one fractional digit from 1e-4 up to 1e16,
// exponent form (1e16, 2.5e-5) outside; "inf", "NaN".
std::string float_form(double value);

}  // namespace tovarn::xpath::detail
