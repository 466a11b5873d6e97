#include "unicode/unicode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tovarn::unicode {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

#include "unicode/tables.inc"

template <std::size_t N>
bool in_table(const Range (&table)[N], char32_t c) {
  const Range* after = std::upper_bound(table, table + N, c,
                                        [](char32_t v, const Range& r) { return v < r.first; });
  return after != table && c <= after[-1].last;
}

constexpr char32_t kReplacement = 0xFFFD;

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The start of the character that ends just before `end`.
std::size_t previous_boundary(std::string_view text, std::size_t end) {
  std::size_t i = end - 1;
  while (i > 0 && is_continuation(static_cast<unsigned char>(text[i]))) --i;
  return i;
}

}  // namespace

char32_t decode(std::string_view text, std::size_t& i) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char b = s[i];
  if (b < 0x80) {
    ++i;
    return b;
  }
  // Malformed input (which callers never pass) decodes as U+FFFD one byte at a
  // time instead of reading past the end.
  std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) {
    ++i;
    return kReplacement;
  }
  char32_t c = b & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if (!is_continuation(s[i + k])) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (s[i + k] & 0x3F);
  }
  i += n;
  return c;
}

std::size_t length(std::string_view text) {
  std::size_t n = 0;
  for (char ch : text) n += !is_continuation(static_cast<unsigned char>(ch));
  return n;
}

bool is_valid_utf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    // Most text is ASCII: check eight bytes at a time while it lasts.
    if (i + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 3;
      if (b == 0xE0) lo = 0xA0;  // overlong
      if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 4;
      if (b == 0xF0) lo = 0x90;  // overlong
      if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (size - i < n || s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < n; ++k) {
      if (!is_continuation(s[i + k])) return false;
    }
    i += n;
  }
  return true;
}

std::size_t boundary_at_most(std::string_view text, std::size_t max_bytes) {
  if (max_bytes >= text.size()) return text.size();
  std::size_t i = max_bytes;
  while (i > 0 && is_continuation(static_cast<unsigned char>(text[i]))) --i;
  return i;
}

bool is_white_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
  return in_table(kWhiteSpace, c);
}

std::string_view trim(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!is_white_space(decode(text, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = previous_boundary(text, end);
    std::size_t at = start;
    if (!is_white_space(decode(text, at))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool is_blank(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (!is_white_space(decode(text, i))) return false;
  }
  return true;
}

bool is_alphabetic(char32_t c) {
  if (c < 0x80) return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
  return in_table(kAlphabetic, c);
}

bool is_decimal_digit(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return in_table(kDecimalDigit, c);
}

bool is_numeric(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return in_table(kNumeric, c);
}

bool is_grapheme_extend(char32_t c) { return c >= 0x300 && in_table(kGraphemeExtend, c); }

bool is_printable(char32_t c) {
  if (c < 0x80) return c >= 0x20 && c < 0x7F;
  return in_table(kPrintable, c);
}

}  // namespace tovarn::unicode
