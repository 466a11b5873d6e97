#include "unicode/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tovarn::unicode {
namespace {

TEST(Utf8, Validation) {
  struct Case {
    std::string_view bytes;
    bool valid;
  };
  static const Case cases[] = {
      {"", true},
      {"plain ascii, longer than eight bytes", true},
      {"\xC3\xA9", true},                          // é
      {"\xE2\x82\xAC", true},                      // €
      {"\xF0\x9F\x98\x80", true},                  // U+1F600
      {"\xF4\x8F\xBF\xBF", true},                  // U+10FFFF
      {"\xED\x9F\xBF", true},                      // U+D7FF
      {"\xEE\x80\x80", true},                      // U+E000
      {"abcdefg\xC3\xA9xyz", true},                // multibyte straddling the fast path
      {"\x80", false},                             // lone continuation
      {"\xC3", false},                             // truncated
      {"abcdefgh\xE2\x82", false},                 // truncated at the end
      {"\xC0\xAF", false},                         // overlong '/'
      {"\xC1\xBF", false},                         // overlong
      {"\xE0\x9F\xBF", false},                     // overlong three-byte
      {"\xF0\x8F\xBF\xBF", false},                 // overlong four-byte
      {"\xED\xA0\x80", false},                     // surrogate U+D800
      {"\xED\xBF\xBF", false},                     // surrogate U+DFFF
      {"\xF4\x90\x80\x80", false},                 // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"\xE2\x28\xA1", false},                     // bad continuation
      {"\xF0\x9F\x98\x28", false},
      {std::string_view("a\0b", 3), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
  }
}

TEST(Utf8, DecodeAndLength) {
  const std::string_view text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::size_t i = 0;
  EXPECT_EQ(decode(text, i), U'a');
  EXPECT_EQ(decode(text, i), U'\u00E9');
  EXPECT_EQ(decode(text, i), U'\u20AC');
  EXPECT_EQ(decode(text, i), U'\U0001F600');
  EXPECT_EQ(i, text.size());
  EXPECT_EQ(length(text), 4u);
  EXPECT_EQ(length(""), 0u);
}

TEST(Utf8, DecodeNeverReadsPastTheEnd) {
  const std::string_view truncated = "\xF0\x9F";
  std::size_t i = 0;
  EXPECT_EQ(decode(truncated, i), U'\uFFFD');
  EXPECT_EQ(i, 1u);
}

TEST(Utf8, BoundaryAtMost) {
  struct Case {
    std::string_view text;
    std::size_t max;
    std::size_t boundary;
  };
  static const Case cases[] = {
      {"abc", 2, 2},
      {"abc", 3, 3},
      {"abc", 10, 3},
      {"a\xE2\x82\xAC", 1, 1},
      {"a\xE2\x82\xAC", 2, 1},
      {"a\xE2\x82\xAC", 3, 1},
      {"a\xE2\x82\xAC", 4, 4},
      {"\xF0\x9F\x98\x80", 3, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)) + " " + std::to_string(c.max));
    EXPECT_EQ(boundary_at_most(c.text, c.max), c.boundary);
  }
}

TEST(WhiteSpace, TrimAndBlank) {
  struct Case {
    std::string_view text;
    std::string_view trimmed;
  };
  static const Case cases[] = {
      {"", ""},
      {"  a b  ", "a b"},
      {"\t\n\v\f\r x \r\n", "x"},
      {"\xC2\x85x\xC2\xA0", "x"},                  // U+0085, U+00A0
      {"\xE3\x80\x80x\xE2\x80\xA8\xE2\x80\xAF", "x"},  // U+3000, U+2028, U+202F
      {"\xE1\x9A\x80\xE2\x80\x8A", ""},            // U+1680, U+200A
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},          // U+200B is not white space
      {"\xEF\xBB\xBF", "\xEF\xBB\xBF"},            // nor is the byte order mark
      {"\xC3\xA9 ", "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(trim(c.text), c.trimmed);
    EXPECT_EQ(is_blank(c.text), c.trimmed.empty());
  }
}

TEST(Properties, Table) {
  struct Case {
    char32_t c;
    bool white_space, alphabetic, decimal_digit, numeric, grapheme_extend, printable;
  };
  static const Case cases[] = {
      // c        ws     alpha  nd     num    gext   print
      {U' ',      true,  false, false, false, false, true},
      {U'\t',     true,  false, false, false, false, false},
      {U'\0',     false, false, false, false, false, false},
      {0x7F,      false, false, false, false, false, false},
      {U'~',      false, false, false, false, false, true},
      {U'a',      false, true,  false, false, false, true},
      {U'Z',      false, true,  false, false, false, true},
      {U'7',      false, false, true,  true,  false, true},
      {0x0085,    true,  false, false, false, false, false},  // NEL, Cc
      {0x00A0,    true,  false, false, false, false, false},  // no-break space, Zs
      {0x00AD,    false, false, false, false, false, false},  // soft hyphen, Cf
      {0x00B2,    false, false, false, true,  false, true},   // superscript two, No
      {0x00E9,    false, true,  false, false, false, true},
      {0x0301,    false, false, false, false, true,  true},   // combining acute
      {0x0345,    false, true,  false, false, true,  true},   // Mn and Alphabetic
      {0x0378,    false, false, false, false, false, false},  // unassigned
      {0x061C,    false, false, false, false, false, false},  // Arabic letter mark, Cf
      {0x0663,    false, false, true,  true,  false, true},   // Arabic-Indic three
      {0x16EE,    false, true,  false, true,  false, true},   // runic, Nl
      {0x200B,    false, false, false, false, false, false},  // zero width space, Cf
      {0x200C,    false, false, false, false, true,  false},  // ZWNJ: Cf and extender
      {0x200D,    false, false, false, false, false, false},  // ZWJ: Cf, not an extender
      {0x2028,    true,  false, false, false, false, false},  // Zl
      {0x2029,    true,  false, false, false, false, false},  // Zp
      {0x2163,    false, true,  false, true,  false, true},   // Roman four, Nl
      {0x3000,    true,  false, false, false, false, false},
      {0x3007,    false, true,  false, true,  false, true},
      {0xD800,    false, false, false, false, false, false},  // surrogate
      {0xE000,    false, false, false, false, false, false},  // private use
      {0xFE0F,    false, false, false, false, true,  true},   // variation selector
      {0xFEFF,    false, false, false, false, false, false},  // BOM, Cf
      {0xFF10,    false, false, true,  true,  false, true},   // fullwidth zero
      {0xFFFD,    false, false, false, false, false, true},
      {0xFFFF,    false, false, false, false, false, false},
      {0x1D7CE,   false, false, true,  true,  false, true},   // mathematical bold zero
      {0x1F600,   false, false, false, false, false, true},
      {0x1F3FB,   false, false, false, false, false, true},   // skin tone modifier, Sk
      {0x20000,   false, true,  false, false, false, true},   // CJK extension B
      {0x2A6DF,   false, true,  false, false, false, true},
      {0x2A6E0,   false, false, false, false, false, false},
      {0x31350,   false, true,  false, false, false, true},   // CJK extension H (15.0)
      {0xE0001,   false, false, false, false, false, false},  // language tag, Cf
      {0xE0100,   false, false, false, false, true,  true},   // variation selector 17
      {0xF0000,   false, false, false, false, false, false},
      {0x10FFFF,  false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<std::uint32_t>(c.c));
    EXPECT_EQ(is_white_space(c.c), c.white_space);
    EXPECT_EQ(is_alphabetic(c.c), c.alphabetic);
    EXPECT_EQ(is_decimal_digit(c.c), c.decimal_digit);
    EXPECT_EQ(is_numeric(c.c), c.numeric);
    EXPECT_EQ(is_grapheme_extend(c.c), c.grapheme_extend);
    EXPECT_EQ(is_printable(c.c), c.printable);
  }
}

}  // namespace
}  // namespace tovarn::unicode
