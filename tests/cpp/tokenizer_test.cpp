#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "xpath/detail/token.h"
#include "xpath/quote.h"

namespace tovarn::xpath::detail {
namespace {

// The tokens' printed forms joined by spaces, or the tokenizer's message.
std::string scan(std::string_view text) {
  auto tokens = tokenize(text);
  if (!tokens) return "error: " + tokens.error();
  std::string out;
  for (const Token& token : *tokens) {
    if (!out.empty()) out += ' ';
    out += describe_token(token);
  }
  return out;
}

struct Case {
  std::string_view text;
  std::string_view want;
};

constexpr Case kTokens[] = {
    {"", ""},
    {" \t\r\n ", ""},
    {"/ // . .. @ * ( ) [ ] , | + - = != < <= > >= ::",
     "Slash DoubleSlash Dot DoubleDot At Star LeftParen RightParen LeftBracket RightBracket Comma "
     "Pipe Plus Minus Equal NotEqual Less LessEqual Greater GreaterEqual DoubleColon"},
    {"///", "DoubleSlash Slash"},
    {"...", "DoubleDot Dot"},
    {"a<=b>=c", "Name(\"a\") LessEqual Name(\"b\") GreaterEqual Name(\"c\")"},
    // Numerals: no sign, no exponent.
    {"1e3", "Number(1.0) Name(\"e3\")"},
    {"1.5e3", "Number(1.5) Name(\"e3\")"},
    {"5.", "Number(5.0)"},
    {".5", "Number(0.5)"},
    {".5.5", "Number(0.5) Number(0.5)"},
    {"..5", "DoubleDot Number(5.0)"},
    {"-1", "Minus Number(1.0)"},
    {"007", "Number(7.0)"},
    {"0.0001", "Number(0.0001)"},
    {"0.00001", "Number(1e-5)"},
    {"0.000025", "Number(2.5e-5)"},
    {"9999999999999998", "Number(9999999999999998.0)"},
    {"10000000000000000", "Number(1e16)"},
    {"150000000000000000000", "Number(1.5e20)"},
    {"0.1", "Number(0.1)"},
    {"123.456", "Number(123.456)"},
    {"0", "Number(0.0)"},
    // Names and operators.
    {"a-b", "Name(\"a-b\")"},
    {"a -b", "Name(\"a\") Minus Name(\"b\")"},
    {"a - b", "Name(\"a\") Minus Name(\"b\")"},
    {"5-3", "Number(5.0) Minus Number(3.0)"},
    {"jr:choice-name", "Name(\"jr:choice-name\")"},
    {"a.b e3 x-1 _x", "Name(\"a.b\") Name(\"e3\") Name(\"x-1\") Name(\"_x\")"},
    {"a:", "Name(\"a:\")"},
    {"a:b:c", "Name(\"a:b:c\")"},
    {"child::x", "Name(\"child\") DoubleColon Name(\"x\")"},
    {"a != b", "Name(\"a\") NotEqual Name(\"b\")"},
    {"a == b", "Name(\"a\") Equal Equal Name(\"b\")"},
    {"div div div", "Name(\"div\") Name(\"div\") Name(\"div\")"},
    // Variables.
    {"$x-1", "Variable(\"x-1\")"},
    {"$", "Variable(\"\")"},
    {"$1a", "Variable(\"1a\")"},
    {"$x/y", "Variable(\"x\") Slash Name(\"y\")"},
    // Literals: no escapes, the other quote allowed, may span lines.
    {"'it''s'", "Literal(\"it\") Literal(\"s\")"},
    {"''", "Literal(\"\")"},
    {"\"say 'hi'\"", "Literal(\"say 'hi'\")"},
    {"'a \"b\"'", "Literal(\"a \\\"b\\\"\")"},
    {"'line\nbreak\\'", "Literal(\"line\\nbreak\\\\\")"},
};

TEST(Tokenize, Tokens) {
  for (const Case& c : kTokens) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(scan(c.text), c.want);
  }
}

constexpr Case kErrors[] = {
    {"1.2.3", "'1.2.3' is not a number"},
    {"1..2", "'1..2' is not a number"},
    {"x = 1.2.", "'1.2.' is not a number"},
    {"a:::b", "unexpected character ':'"},
    {"$a:b", "unexpected character ':'"},
    {"a : b", "unexpected character ':'"},
    {"!a", "unexpected character '!'"},
    {"a !", "unexpected character '!'"},
    {"#", "unexpected character '#'"},
    {"%", "unexpected character '%'"},
    {"&", "unexpected character '&'"},
    {";", "unexpected character ';'"},
    {"?", "unexpected character '?'"},
    {"\\", "unexpected character '\\'"},
    {"^", "unexpected character '^'"},
    {"{", "unexpected character '{'"},
    {"}", "unexpected character '}'"},
    {"~", "unexpected character '~'"},
    {"`", "unexpected character '`'"},
    {"'abc", "unterminated string starting at character 1"},
    {"x = 'abc", "unterminated string starting at character 5"},
    {"\"abc'", "unterminated string starting at character 1"},
    // The whole text is scanned before parsing, so a later fault still shows.
    {"f(( # ", "unexpected character '#'"},
    // The first fault wins.
    {"'a' # 'b", "unexpected character '#'"},
};

TEST(Tokenize, Errors) {
  for (const Case& c : kErrors) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(scan(c.text), std::string("error: ") + std::string(c.want));
  }
}

// Positions count characters; names and white space follow the Unicode properties.
constexpr Case kUnicode[] = {
    {"\u00e9 'abc", "error: unterminated string starting at character 3"},
    {"\u00e9\u00e9 \"", "error: unterminated string starting at character 4"},
    {"\u20ac", "error: unexpected character '\u20ac'"},
    {"\u0301", "error: unexpected character '\u0301'"},
    {"e\u0301", "error: unexpected character '\u0301'"},
    {"a\u00a0b\u3000c\u2028d\u0085e",
     "Name(\"a\") Name(\"b\") Name(\"c\") Name(\"d\") Name(\"e\")"},
    {"\u00e9t\u00e9 \u0436\u0443\u043a \u4e2d\u6587",
     "Name(\"\u00e9t\u00e9\") Name(\"\u0436\u0443\u043a\") Name(\"\u4e2d\u6587\")"},
    {"x\u00b2 \u0663", "error: unexpected character '\u0663'"},
    {"\u00b2x", "error: unexpected character '\u00b2'"},
    {"x\u00b2\u0663\u2167", "Name(\"x\u00b2\u0663\u2167\")"},
    {"$\u00e9\u00b2", "Variable(\"\u00e9\u00b2\")"},
    {"'\u00e9\u0301'", "Literal(\"\u00e9\\u{301}\")"},
};

TEST(Tokenize, Unicode) {
  for (const Case& c : kUnicode) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(scan(c.text), c.want);
  }
}

TEST(Tokenize, ExtremeNumerals) {
  const std::string nines(400, '9');
  EXPECT_EQ(scan(nines), "Number(inf)");
  EXPECT_EQ(scan(nines + ".5"), "Number(inf)");
  EXPECT_EQ(scan("0." + std::string(400, '0') + "1"), "Number(0.0)");
  EXPECT_EQ(scan("." + std::string(400, '0') + "1"), "Number(0.0)");
  EXPECT_EQ(scan("0." + std::string(323, '0') + "3"), "Number(5e-324)");  // nearest subnormal
  EXPECT_EQ(scan("17976931348623157" + std::string(292, '0')), "Number(1.7976931348623157e308)");
}

TEST(Tokenize, NumbersRoundToNearest) {
  auto tokens = tokenize("0.1 9007199254740993 1.7976931348623157");
  ASSERT_TRUE(tokens);
  ASSERT_EQ(tokens->size(), 3u);
  EXPECT_EQ((*tokens)[0].number, 0.1);
  EXPECT_EQ((*tokens)[1].number, 9007199254740992.0);  // tie to even
  EXPECT_EQ((*tokens)[2].number, 1.7976931348623157);
}

TEST(Token, Equality) {
  EXPECT_EQ((Token{TokenKind::name, "or"}), (Token{TokenKind::name, "or"}));
  EXPECT_NE((Token{TokenKind::name, "or"}), (Token{TokenKind::name, "OR"}));
  EXPECT_NE((Token{TokenKind::name, "x"}), (Token{TokenKind::variable, "x"}));
  EXPECT_EQ((Token{TokenKind::number, {}, 2}), (Token{TokenKind::number, {}, 2.0}));
  EXPECT_NE((Token{TokenKind::number, {}, 2}), (Token{TokenKind::number, {}, 2.5}));
}

TEST(Token, OptionalForm) {
  const Token comma{TokenKind::comma, {}};
  const Token name{TokenKind::name, "x"};
  EXPECT_EQ(describe_optional_token(nullptr), "None");
  EXPECT_EQ(describe_optional_token(&comma), "Some(Comma)");
  EXPECT_EQ(describe_optional_token(&name), "Some(Name(\"x\"))");
}

TEST(FloatForm, Values) {
  struct {
    double value;
    std::string_view want;
  } const cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {2.0, "2.0"},
      {0.5, "0.5"},
      {0.0001, "0.0001"},
      {0.00009999, "9.999e-5"},
      {2.5e-5, "2.5e-5"},
      {1e-300, "1e-300"},
      {5e-324, "5e-324"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e16"},
      {1.5e20, "1.5e20"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {0.30000000000000004, "0.30000000000000004"},
      {-2.5, "-2.5"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), "NaN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(float_form(c.value), c.want);
  }
}

TEST(QuoteText, Ascii) {
  const Case cases[] = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"it's", "\"it's\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"\t\n\r", "\"\\t\\n\\r\""},
      {std::string_view("a\0b", 3), "\"a\\0b\""},
      {"\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(quote_text(c.text), c.want);
  }
}

TEST(QuoteText, Unicode) {
  const Case cases[] = {
      {"caf\u00e9 \u20ac \u4e2d", "\"caf\u00e9 \u20ac \u4e2d\""},
      {"e\u0301", "\"e\\u{301}\""},
      {"\u200d\u200b", "\"\\u{200d}\\u{200b}\""},  // format characters
      {"a\u00a0b\u3000c", "\"a\\u{a0}b\\u{3000}c\""},
      {"\u2028\u2029", "\"\\u{2028}\\u{2029}\""},
      {"\u0085", "\"\\u{85}\""},
      {"\ue000", "\"\\u{e000}\""},
      {"\U0001f600", "\"\U0001f600\""},
      {"\xf3\xa0\x80\x81", "\"\\u{e0001}\""},  // a tag character, Cf
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(quote_text(c.text), c.want);
  }
}

}  // namespace
}  // namespace tovarn::xpath::detail
