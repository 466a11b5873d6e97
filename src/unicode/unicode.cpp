#include "unicode/unicode.h"

// Placeholder until the generated tables land.
namespace tovarn::unicode {
char32_t decode(std::string_view text, std::size_t& i) { return static_cast<unsigned char>(text[i++]); }
std::size_t length(std::string_view text) { return text.size(); }
bool is_valid_utf8(std::string_view) { return true; }
std::size_t boundary_at_most(std::string_view text, std::size_t max_bytes) {
  return text.size() < max_bytes ? text.size() : max_bytes;
}
bool is_white_space(char32_t c) { return c == ' ' || (c >= 9 && c <= 13); }
std::string_view trim(std::string_view text) {
  while (!text.empty() && is_white_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_white_space(text.back())) text.remove_suffix(1);
  return text;
}
bool is_blank(std::string_view text) { return trim(text).empty(); }
bool is_alphabetic(char32_t) { return false; }
bool is_decimal_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_numeric(char32_t c) { return c >= '0' && c <= '9'; }
bool is_grapheme_extend(char32_t) { return false; }
bool is_printable(char32_t c) { return c >= 32; }
}  // namespace tovarn::unicode
