#include <array>
#include <charconv>
#include <limits>
#include <system_error>

#include "unicode/unicode.h"
#include "xpath/detail/parse_messages.h"
#include "xpath/detail/token.h"

namespace tovarn::xpath::detail {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Names are most of an expression's bytes: one load a byte, not five compares.
constexpr std::array<bool, 128> kAsciiNameChars = [] {
  std::array<bool, 128> table{};
  for (unsigned c = 0; c < 128; ++c)
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_';
  return table;
}();

// For c below 0x80.
bool is_ascii_name_char(unsigned char c) { return kAsciiNameChars[c]; }

// Walks one expression text. Bytes below 0x80 are whole characters, so only
// the rest is decoded.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  template <class Tokens>
  [[nodiscard]] std::expected<void, std::string> run(Tokens& tokens) {
    tokens.clear();
    // Real expressions average well over three bytes a token.
    tokens.reserve(text_.size() / 3 + 2);
    while (i_ < text_.size()) {
      // One push for every kind, so that it is inlined once.
      Token token{};
      const auto byte = static_cast<unsigned char>(text_[i_]);
      if (byte >= 0x80) {
        std::size_t next = i_;
        const char32_t c = unicode::decode(text_, next);
        if (unicode::is_white_space(c)) {
          i_ = next;
          continue;
        }
        if (!unicode::is_alphabetic(c))
          return std::unexpected(msg::unexpected_character(text_.substr(i_, next - i_)));
        tokens.push_back(Token{TokenKind::name, scan_name(next)});
        continue;
      }
      bool made = true;
      switch (byte) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r': ++i_; continue;
        case '/': token = pair('/', TokenKind::double_slash, TokenKind::slash); break;
        case '<': token = pair('=', TokenKind::less_equal, TokenKind::less); break;
        case '>': token = pair('=', TokenKind::greater_equal, TokenKind::greater); break;
        case '!':
          if (!next_is(1, '=')) return std::unexpected(msg::unexpected_character("!"));
          token = double_char(TokenKind::not_equal);
          break;
        case ':':
          if (!next_is(1, ':')) return std::unexpected(msg::unexpected_character(":"));
          token = double_char(TokenKind::double_colon);
          break;
        case '.':
          if (i_ + 1 < text_.size() && is_digit(text_[i_ + 1])) {
            made = false;  // a numeral
            break;
          }
          token = pair('.', TokenKind::double_dot, TokenKind::dot);
          break;
        case '@': token = single(TokenKind::at); break;
        case '*': token = single(TokenKind::star); break;
        case '(': token = single(TokenKind::left_paren); break;
        case ')': token = single(TokenKind::right_paren); break;
        case '[': token = single(TokenKind::left_bracket); break;
        case ']': token = single(TokenKind::right_bracket); break;
        case ',': token = single(TokenKind::comma); break;
        case '|': token = single(TokenKind::pipe); break;
        case '+': token = single(TokenKind::plus); break;
        case '-': token = single(TokenKind::minus); break;
        case '=': token = single(TokenKind::equal); break;
        case '\'':
        case '"': {
          auto literal = scan_literal();
          if (!literal) return std::unexpected(std::move(literal.error()));
          token = *literal;
          break;
        }
        case '$': {
          const std::size_t start = ++i_;
          i_ = name_chars_end(i_);
          token = Token{TokenKind::variable, text_.substr(start, i_ - start)};
          break;
        }
        default: made = false; break;
      }
      if (!made) {
        if (byte == '.' || is_digit(static_cast<char>(byte))) {
          auto number = scan_numeral();
          if (!number) return std::unexpected(std::move(number.error()));
          token = *number;
        } else if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte == '_') {
          token = Token{TokenKind::name, scan_name(i_ + 1)};
        } else {
          return std::unexpected(msg::unexpected_character(text_.substr(i_, 1)));
        }
      }
      tokens.push_back(token);
    }
    return {};
  }

 private:
  bool next_is(std::size_t ahead, char c) const {
    return i_ + ahead < text_.size() && text_[i_ + ahead] == c;
  }

  Token single(TokenKind kind) {
    ++i_;
    return Token{kind, {}};
  }

  Token double_char(TokenKind kind) {
    i_ += 2;
    return Token{kind, {}};
  }

  // `two` when the next character is `second` (both taken), else `one`.
  Token pair(char second, TokenKind two, TokenKind one) {
    if (next_is(1, second)) {
      i_ += 2;
      return Token{two, {}};
    }
    ++i_;
    return Token{one, {}};
  }

  // The end of the run of name characters from byte offset `from`.
  std::size_t name_chars_end(std::size_t from) const {
    std::size_t j = from;
    while (j < text_.size()) {
      const auto byte = static_cast<unsigned char>(text_[j]);
      if (byte < 0x80) {
        if (!is_ascii_name_char(byte)) break;
        ++j;
        continue;
      }
      std::size_t next = j;
      if (!is_name_char(unicode::decode(text_, next))) break;
      j = next;
    }
    return j;
  }

  // A name whose first character ends at `rest`: name characters and single
  // colons, stopping before "::".
  std::string_view scan_name(std::size_t rest) {
    const std::size_t start = i_;
    std::size_t j = name_chars_end(rest);
    while (j < text_.size() && text_[j] == ':' && !(j + 1 < text_.size() && text_[j + 1] == ':')) {
      j = name_chars_end(j + 1);
    }
    i_ = j;
    return text_.substr(start, j - start);
  }

  [[nodiscard]] std::expected<Token, std::string> scan_literal() {
    const char quote = text_[i_];
    const std::size_t close = text_.find(quote, i_ + 1);
    if (close == std::string_view::npos) {
      return std::unexpected(msg::unterminated_string(unicode::length(text_.substr(0, i_)) + 1));
    }
    const std::string_view inside = text_.substr(i_ + 1, close - i_ - 1);
    i_ = close + 1;
    return Token{TokenKind::literal, inside};
  }

  // A digit starts a run of digits and points; a point starts a point and
  // the digits after it.
  [[nodiscard]] std::expected<Token, std::string> scan_numeral() {
    const std::size_t start = i_;
    std::size_t points = 0;
    if (text_[i_] == '.') {
      points = 1;
      ++i_;
      while (i_ < text_.size() && is_digit(text_[i_])) ++i_;
    } else {
      while (i_ < text_.size() && (is_digit(text_[i_]) || text_[i_] == '.')) {
        points += text_[i_] == '.';
        ++i_;
      }
    }
    const std::string_view numeral = text_.substr(start, i_ - start);
    if (points > 1) return std::unexpected(msg::not_a_number(numeral));

    double value = 0;
    const auto [ptr, ec] = std::from_chars(numeral.data(), numeral.data() + numeral.size(), value,
                                           std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range) {
      // Out of range without a sign is too large or too small: a nonzero digit
      // before the point means too large.
      const std::string_view whole = numeral.substr(0, numeral.find('.'));
      value = whole.find_first_not_of('0') == std::string_view::npos
                  ? 0.0
                  : std::numeric_limits<double>::infinity();
    }
    return Token{TokenKind::number, {}, value};
  }

  std::string_view text_;
  std::size_t i_ = 0;
};

}  // namespace

bool is_name_char(char32_t c) {
  if (c < 0x80) return is_ascii_name_char(static_cast<unsigned char>(c));
  return unicode::is_alphabetic(c) || unicode::is_numeric(c);
}

std::expected<std::vector<Token>, std::string> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  auto scanned = Scanner(text).run(tokens);
  if (!scanned) return std::unexpected(std::move(scanned.error()));
  return tokens;
}

std::expected<void, std::string> tokenize_into(std::string_view text,
                                               std::pmr::vector<Token>& tokens) {
  return Scanner(text).run(tokens);
}

}  // namespace tovarn::xpath::detail
