#include "xpath/detail/token.h"

#include <array>
#include <charconv>
#include <cmath>

#include "xpath/quote.h"

namespace tovarn::xpath::detail {

namespace {

constexpr std::array<std::string_view, 25> kKindNames = {
    "Name",        "Number",     "Literal",     "Variable",     "Slash",
    "DoubleSlash", "Dot",        "DoubleDot",   "At",           "Star",
    "LeftParen",   "RightParen", "LeftBracket", "RightBracket", "Comma",
    "Pipe",        "Plus",       "Minus",       "Equal",        "NotEqual",
    "Less",        "LessEqual",  "Greater",     "GreaterEqual", "DoubleColon",
};
static_assert(kKindNames.size() == static_cast<std::size_t>(TokenKind::double_colon) + 1);

}  // namespace

std::string_view token_kind_name(TokenKind kind) {
  return kKindNames[static_cast<std::size_t>(kind)];
}

std::string float_form(double value) {
  if (std::isnan(value)) return "NaN";
  std::string out;
  if (std::signbit(value)) out += '-';
  const double magnitude = std::fabs(value);
  if (std::isinf(magnitude)) return out + "inf";

  // Shortest round-trip digits as d[.ddd]e±x; the layout is ours.
  char buf[32];
  const auto end =
      std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific).ptr;
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e = sci.find('e');
  std::string digits(sci.substr(0, e));
  if (digits.size() > 1) digits.erase(1, 1);  // the point
  int exponent = 0;
  const char* exp_begin = sci.data() + e + 1;
  if (*exp_begin == '+') ++exp_begin;
  std::from_chars(exp_begin, sci.data() + sci.size(), exponent);

  if (magnitude != 0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += std::to_string(exponent);
    return out;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    out += digits;
    out.append(whole - digits.size(), '0');
    out += ".0";
  } else {
    out.append(digits, 0, whole);
    out += '.';
    out.append(digits, whole);
  }
  return out;
}

std::string describe_token(const Token& token) {
  std::string out(token_kind_name(token.kind));
  switch (token.kind) {
    case TokenKind::name:
    case TokenKind::literal:
    case TokenKind::variable:
      out += '(';
      out += quote_text(token.text);
      out += ')';
      break;
    case TokenKind::number:
      out += '(';
      out += float_form(token.number);
      out += ')';
      break;
    default: break;
  }
  return out;
}

std::string describe_optional_token(const Token* token) {
  if (token == nullptr) return "None";
  return "Some(" + describe_token(*token) + ")";
}

}  // namespace tovarn::xpath::detail
