#include "xpath/functions/detail/regex.h"

#include <re2/re2.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {
namespace {

#include "xpath/functions/detail/perl_classes.inc"

using Refusal = msg::PatternRefusal;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A character of "(?i-s)": a letter or the '-' that turns flags off.
bool is_flag(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'; }

// Bytes of the UTF-8 character whose lead byte is `lead`.
std::size_t char_width(char lead) {
  auto b = static_cast<unsigned char>(lead);
  return b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

// The items of \d, \w and \s and of their complements, without brackets.
struct ClassItems {
  std::string_view digit, not_digit, word, not_word, space, not_space;
  // RE2's \b and \B look at ASCII word characters only, which is exact
  // only where the value is ASCII.
  bool word_boundaries;
};

constexpr ClassItems kUnicodeItems = {kDigitItems, kNotDigitItems, kWordItems,
                                      kNotWordItems, kSpaceItems, kNotSpaceItems,
                                      false};
constexpr ClassItems kAsciiItems = {kAsciiDigitItems, kAsciiNotDigitItems, kAsciiWordItems,
                                    kAsciiNotWordItems, kAsciiSpaceItems, kAsciiNotSpaceItems,
                                    true};

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One left-to-right pass; RE2 parses the result, so this pass only has to know
// where escapes, classes, groups and braces begin and end, and how deep the
// dialect counts them to nest.
class Rewriter {
 public:
  Rewriter(std::string_view pattern, const ClassItems& items) : in_(pattern), items_(items) {
    out_.reserve(pattern.size());
  }

  std::expected<std::string, std::string> run() {
    if (in_.size() > kMaxPatternBytes) {
      return std::unexpected(std::string(msg::pattern_refusal(Refusal::too_long)));
    }
    while (i_ < in_.size()) {
      char c = in_[i_];
      std::optional<Refusal> refused;
      const bool repeats = after_repeat_;
      after_repeat_ = false;
      if (c == '\\') {
        refused = escape(false);
        item(0);
      } else if (c == '[') {
        std::size_t class_depth = 0;
        refused = bracket_class(class_depth);
        item(class_depth);
      } else if (c == '(') {
        if (flags_only()) {
          item(0);
        } else {
          refused = enter();
          levels_.emplace_back();
          group_opening();
        }
      } else if (c == ')') {
        if (depth_ > 0) --depth_;
        if (levels_.size() > 1) {
          const std::size_t group = level_depth(levels_.back()) + 1;
          levels_.pop_back();
          item(group);
          if (group > kMaxPatternNesting) refused = Refusal::too_deep;
        }
        copy(1);
      } else if (c == '{') {
        refused = counted_repetition();
        repeat();
      } else if (c == '*' || c == '+' || (c == '?' && !repeats)) {
        copy(1);
        repeat();
      } else if (c == '|') {
        Level& level = levels_.back();
        level.deepest_branch = std::max(level.deepest_branch, concat_depth(level));
        ++level.bars;
        level.items = level.before = level.last = 0;
        copy(1);
      } else {
        copy(char_width(c));  // a lazy '?' too
        if (c != '?') item(0);
      }
      if (refused) return std::unexpected(std::string(msg::pattern_refusal(*refused)));
    }
    if (levels_.size() == 1 && level_depth(levels_.front()) > kMaxPatternNesting) {
      return std::unexpected(std::string(msg::pattern_refusal(Refusal::too_deep)));
    }
    return std::move(out_);
  }

 private:
  void copy(std::size_t n) {
    n = std::min(n, in_.size() - i_);
    out_.append(in_.substr(i_, n));
    i_ += n;
  }

  // Copies through the '}' that closes a brace at i_ (or to the end, for RE2
  // to refuse).
  void copy_braced() {
    std::size_t close = in_.find('}', i_);
    copy(close == std::string_view::npos ? in_.size() - i_ : close - i_ + 1);
  }

  std::optional<Refusal> enter() {
    if (++depth_ > kMaxPatternNesting) return Refusal::too_deep;
    return std::nullopt;
  }

  // The dialect's nesting depth: a group, a bracketed class, a repetition, an
  // alternation of two or more branches and a sequence of two or more items
  // each lie one level above what they hold.
  struct Level {             // an open group, or the whole pattern
    std::size_t items = 0;   // of the current branch
    std::size_t before = 0;  // the deepest item before the last
    std::size_t last = 0;    // the last item, which a repetition wraps
    std::size_t bars = 0;
    std::size_t deepest_branch = 0;
  };

  static std::size_t concat_depth(const Level& level) {
    if (level.items == 0) return 0;
    return std::max(level.before, level.last) + (level.items > 1 ? 1 : 0);
  }

  static std::size_t level_depth(const Level& level) {
    return std::max(level.deepest_branch, concat_depth(level)) + (level.bars > 0 ? 1 : 0);
  }

  void item(std::size_t depth) {
    Level& level = levels_.back();
    if (level.items > 0) level.before = std::max(level.before, level.last);
    level.last = depth;
    ++level.items;
  }

  void repeat() {
    if (levels_.back().items > 0) ++levels_.back().last;  // else RE2 refuses
    after_repeat_ = true;
  }

  // "(", "(?:", "(?i-s:", "(?P<name>" or "(?<name>" at i_, copied whole.
  void group_opening() {
    copy(1);
    if (i_ >= in_.size() || in_[i_] != '?') return;
    copy(1);
    if (i_ < in_.size() && in_[i_] == 'P') copy(1);
    if (i_ < in_.size() && in_[i_] == '<') {
      std::size_t close = in_.find('>', i_);
      copy(close == std::string_view::npos ? 1 : close - i_ + 1);
      return;
    }
    while (i_ < in_.size() && is_flag(in_[i_])) copy(1);
    if (i_ < in_.size() && in_[i_] == ':') copy(1);
  }

  // "(?i)", "(?-s)" and the like at i_, copied whole: flags, not a group.
  bool flags_only() {
    if (in_.substr(i_, 2) != "(?") return false;
    std::size_t j = i_ + 2;
    while (j < in_.size() && is_flag(in_[j])) ++j;
    if (j >= in_.size() || in_[j] != ')') return false;
    copy(j + 1 - i_);
    return true;
  }

  // RE2 takes a '{' that does not form {n}, {n,} or {n,m} as a character,
  // where the dialect refuses the pattern.
  std::optional<Refusal> counted_repetition() {
    std::size_t j = i_ + 1;
    std::size_t digits_start = j;
    while (j < in_.size() && is_digit(in_[j])) ++j;
    if (j == digits_start) return Refusal::bad_brace;
    if (j < in_.size() && in_[j] == ',') {
      ++j;
      while (j < in_.size() && is_digit(in_[j])) ++j;
    }
    if (j >= in_.size() || in_[j] != '}') return Refusal::bad_brace;
    copy(j - i_ + 1);
    return std::nullopt;
  }

  // A backslash at i_; `in_class` tells which spelling a class takes.
  std::optional<Refusal> escape(bool in_class) {
    if (i_ + 1 >= in_.size()) {
      copy(1);  // RE2 reports the trailing backslash
      return std::nullopt;
    }
    char e = in_[i_ + 1];
    switch (e) {
      case 'd': return perl_class(in_class, items_.digit, items_.not_digit, false);
      case 'D': return perl_class(in_class, items_.digit, items_.not_digit, true);
      case 'w': return perl_class(in_class, items_.word, items_.not_word, false);
      case 'W': return perl_class(in_class, items_.word, items_.not_word, true);
      case 's': return perl_class(in_class, items_.space, items_.not_space, false);
      case 'S': return perl_class(in_class, items_.space, items_.not_space, true);
      case '_':  // the dialect allows escaping it; RE2 does not
        out_ += '_';
        i_ += 2;
        return std::nullopt;
      case '<':
      case '>': return Refusal::word_edge_escape;
      case 'b':
      case 'B':
        if (!in_class && !items_.word_boundaries) return Refusal::word_boundary;
        copy(2);
        return std::nullopt;
      case 'C': return Refusal::byte_escape;
      case 'Q':
      case 'E': return Refusal::quote_escape;
      case 'p':
      case 'P':
      case 'x':
        copy(2);
        if (i_ < in_.size() && in_[i_] == '{') {
          copy_braced();
        } else if (e == 'x') {
          for (int k = 0; k < 2 && i_ < in_.size() && is_hex(in_[i_]); ++k) copy(1);  // \x41
        } else if (i_ < in_.size()) {
          copy(char_width(in_[i_]));  // \pL: one letter
        }
        return std::nullopt;
      default:
        if (is_digit(e)) return Refusal::digit_escape;
        copy(1 + char_width(e));
        return std::nullopt;
    }
  }

  std::optional<Refusal> perl_class(bool in_class, std::string_view items,
                                    std::string_view complement, bool negated) {
    if (out_.size() + std::max(items.size(), complement.size()) + 3 > kMaxExpandedBytes) {
      return Refusal::too_expanded;
    }
    i_ += 2;
    if (in_class) {
      out_ += negated ? complement : items;
    } else {
      out_ += negated ? "[^" : "[";
      out_ += items;
      out_ += ']';
    }
    return std::nullopt;
  }

  // A '[' at i_ outside a class. `depth` becomes its nesting depth: one
  // level, and one more when it holds two or more items (a range is one).
  std::optional<Refusal> bracket_class(std::size_t& depth) {
    if (auto refused = enter()) return refused;
    copy(1);
    if (i_ < in_.size() && in_[i_] == '^') copy(1);
    std::size_t items = 0;
    bool range_start = false;  // the last item may begin a range
    bool range_end = false;    // the next item ends one
    auto primitive = [&] {
      range_start = !range_end;
      if (!range_end) ++items;
      range_end = false;
    };
    if (i_ < in_.size() && in_[i_] == ']') {  // a leading ']' is a character
      copy(1);
      primitive();
    }
    bool after_class = false;  // the last item was \w, \pL and the like
    while (i_ < in_.size()) {
      char c = in_[i_];
      char next = i_ + 1 < in_.size() ? in_[i_ + 1] : '\0';
      if (c == ']') {
        copy(1);
        --depth_;
        depth = items > 1 ? 2 : 1;
        return std::nullopt;
      }
      // RE2 reads "[\w-z]" as three items; the dialect refuses the range.
      if (c == '-' && after_class && next != ']') return Refusal::class_range;
      after_class = false;
      if (c == '-' && range_start && next != ']' && next != '-') {
        copy(1);
        range_start = false;
        range_end = true;
        continue;
      }
      primitive();
      if (c == '\\') {
        after_class = std::string_view("dDwWsSpP").find(next) != std::string_view::npos;
        if (auto refused = escape(true)) return refused;
      } else if (c == '[') {
        if (next != ':' || !posix_class()) return Refusal::nested_class;
      } else if ((c == '&' || c == '-' || c == '~') && next == c) {
        return Refusal::set_operation;
      } else {
        copy(char_width(c));
      }
    }
    return std::nullopt;  // unclosed: RE2 reports it
  }

  // "[:name:]" or "[:^name:]" at i_, copied whole; false when it is not one.
  bool posix_class() {
    std::size_t j = i_ + 2;
    if (j < in_.size() && in_[j] == '^') ++j;
    std::size_t name_start = j;
    while (j < in_.size() && in_[j] >= 'a' && in_[j] <= 'z') ++j;
    if (j == name_start || in_.substr(j, 2) != ":]") return false;
    copy(j + 2 - i_);
    return true;
  }

  std::string_view in_;
  const ClassItems& items_;
  std::string out_;
  std::size_t i_ = 0;
  std::size_t depth_ = 0;  // open groups and classes
  std::vector<Level> levels_ = std::vector<Level>(1);
  bool after_repeat_ = false;  // a '?' here makes the repetition lazy
};

// RE2's message, unless it quotes a piece of the rewritten pattern that the
// form never wrote (an expanded class): then only the reason, without the piece.
std::string re2_reason(const RE2& re, std::string_view pattern) {
  const std::string& error = re.error();
  const std::string& piece = re.error_arg();
  if (piece.empty() || pattern.find(piece) != std::string_view::npos) return error;
  std::string suffix = ": " + piece;
  if (error.size() > suffix.size() && error.ends_with(suffix)) {
    return error.substr(0, error.size() - suffix.size());
  }
  return error;
}

}  // namespace

std::expected<std::string, std::string> rewrite_pattern(std::string_view pattern,
                                                        ClassMembers members) {
  return Rewriter(pattern, members == ClassMembers::ascii ? kAsciiItems : kUnicodeItems).run();
}

std::expected<bool, std::string> regex_matches(std::string_view value, std::string_view pattern) {
  // The full Unicode classes cost RE2 most of a millisecond to compile; ASCII
  // answers (numbers, codes, phone numbers) are the common case.
  return regex_matches_with(value, pattern,
                            is_ascii(value) ? ClassMembers::ascii : ClassMembers::unicode);
}

std::expected<bool, std::string> regex_matches_with(std::string_view value,
                                                    std::string_view pattern,
                                                    ClassMembers members) {
  auto rewritten = rewrite_pattern(pattern, members);
  if (!rewritten) return std::unexpected(msg::bad_pattern(pattern, rewritten.error()));
  RE2::Options options;  // UTF-8, case-sensitive, '.' stops at a line feed
  options.set_log_errors(false);
  options.set_never_capture(true);
  // The pattern is compiled as written and matched whole: pasting it between
  // anchors would let "a)|(b" escape them and match part of the value.
  RE2 re(*rewritten, options);
  if (!re.ok()) return std::unexpected(msg::bad_pattern(pattern, re2_reason(re, pattern)));
  return RE2::FullMatch(value, re);
}

EvalResult fn_regex(const CallSite& call) {
  auto value = eval_arg_string(call, 1);
  if (!value) return std::unexpected(std::move(value.error()));
  auto pattern = eval_arg_string(call, 2);
  if (!pattern) return std::unexpected(std::move(pattern.error()));
  auto matched = regex_matches(*value, *pattern);
  if (!matched) return std::unexpected(std::move(matched.error()));
  return *matched;
}

}  // namespace tovarn::xpath::detail
