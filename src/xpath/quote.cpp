#include "xpath/quote.h"

#include "unicode/unicode.h"

namespace tovarn::xpath {

namespace {

void append_code_point_escape(std::string& out, char32_t c) {
  static constexpr char kHex[] = "0123456789abcdef";
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHex[c & 0xf];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  while (n > 0) out += digits[--n];
  out += '}';
}

}  // namespace

std::string quote_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\0': out += "\\0"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
          if (byte < 0x20 || byte == 0x7f) {
            append_code_point_escape(out, byte);
          } else {
            out += static_cast<char>(byte);
          }
      }
      continue;
    }
    const std::size_t start = i;
    const char32_t c = unicode::decode(text, i);
    if (unicode::is_grapheme_extend(c) || !unicode::is_printable(c)) {
      append_code_point_escape(out, c);
    } else {
      out.append(text, start, i - start);
    }
  }
  out += '"';
  return out;
}

}  // namespace tovarn::xpath
