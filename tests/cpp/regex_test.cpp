#include "xpath/functions/detail/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovarn::xpath::detail {
namespace {

struct MatchCase {
  const char* value;
  const char* pattern;
  bool matches;
};

TEST(RegexMatches, WholeValue) {
  const MatchCase cases[] = {
      {"abc", "b", false},
      {"abc", "a.c", true},
      {"ab", "a|ab", true},
      {"", "", true},
      {"a", "", false},
      {"ab", "^ab$", true},
      {"a\nb", "a.b", false},
      {"a\nb", "(?s)a.b", true},
      {"ABC", "abc", false},
      {"ABC", "(?i)abc", true},
      {"x\n", "x$", false},
      {"x\ny", "(?m)x$\\ny", true},
      // Unicode characters are single characters.
      {"é", ".", true},
      {"日本", "..", true},
      {"💡", "^.$", true},
      {"a{2}", "a\\{2\\}", true},
      {"aa", "a{2}", true},
      {"aaa", "a{2,}", true},
      {"a", "a{0,1}", true},
      {"a_b", "a\\_b", true},
      {"[x]", "\\[x\\]", true},
      {"a]", "[]a]+", true},
      {"-", "[a-]", true},
      {"-", "[a-c-e]", true},
      {"-", "[[:alpha:]-z]", true},
      {"b", "[[:alpha:]]", true},
      {"1", "[[:^alpha:]]", true},
      {"é", "\\pL", true},
      {"é", "\\p{Latin}", true},
      {"A", "\\x41", true},
      {"é", "\\x{E9}", true},
      {"ab cd", "\\bab\\b \\bcd\\b", true},
      {"abcd", "ab\\Bcd", true},
      {"abcd", "ab\\bcd", false},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " ~ " << c.pattern);
    auto result = regex_matches(c.value, c.pattern);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(*result, c.matches);
  }
}

TEST(RegexMatches, PatternCannotEscapeTheAnchors) {
  // Pasted between "^(?:" and ")$" this would read (^(?:a)|(b)$) and match
  // any value that starts with a.
  auto result = regex_matches("abc", "a)|(b");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "regex(): \"a)|(b\" is not a pattern this engine can build — unexpected ): a)|(b");
  result = regex_matches("abc", "(a)|b)(c");
  ASSERT_FALSE(result);
}

TEST(RegexMatches, UnicodeClasses) {
  const MatchCase cases[] = {
      {"٣", "\\d", true},  // ARABIC-INDIC DIGIT THREE
      {"५", "\\d", true},  // DEVANAGARI DIGIT FIVE
      {"²", "\\d", false},   // No, not Nd
      {"Ⅳ", "\\d", false},   // Nl
      {"x", "\\D", true},
      {"٣", "\\D", false},
      {"é", "\\w", true},
      {"ж", "\\w", true},
      {"日", "\\w", true},
      {"Ⅳ", "\\w", true},       // Nl is Alphabetic
      {"ⓐ", "\\w", true},       // So, but Other_Alphabetic
      {"e\u0301", "\\w\\w", true},  // a combining mark
      {"_", "\\w", true},
      {"‿", "\\w", true},  // Pc
      {"\u200d", "\\w", true},  // Join_Control
      {"-", "\\w", false},
      {"é", "\\W", false},
      {"-", "\\W", true},
      {"\u00a0", "\\s", true},
      {"\u2003", "\\s", true},
      {"\u3000", "\\s", true},
      {"\u0085", "\\s", true},
      {"\v", "\\s", true},
      {"\u200b", "\\s", false},  // ZERO WIDTH SPACE is no White_Space
      {"x", "\\S", true},
      {"\u00a0", "\\S", false},
      // Inside classes, negated and not.
      {"é", "[\\w]", true},
      {"-", "[\\w-]", true},
      {"é", "[^\\W]", true},
      {"é", "[^\\W_]", true},
      {"_", "[^\\W_]", false},
      {"1", "[^\\W\\d]", false},
      {"-", "[\\W]", true},
      {"é", "[\\W]", false},
      {"٣", "[\\d]", true},
      {"٣", "[^\\D]", true},
      {"x", "[\\D]", true},
      {"\u00a0", "[\\s]", true},
      {"\u00a0", "[^\\S]", true},
      {"\u00a0", "[\\S]", false},
      {"x", "[\\Sa]", true},
      {"7", "[a\\d]", true},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " ~ " << c.pattern);
    auto result = regex_matches(c.value, c.pattern);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(*result, c.matches);
  }
}

struct RefusalCase {
  const char* pattern;
  const char* reason;  // after the dash
};

TEST(RegexMatches, RefusedPatterns) {
  const RefusalCase cases[] = {
      {"(", "missing ): ("},
      {"a**", "bad repetition operator: **"},
      {"a{1001}", "invalid repetition size: {1001}"},
      {"(?<n>a)", "invalid perl operator: (?<"},
      {"\\", "trailing \\"},
      {"[a", "missing ]: [a"},
      {"\\8", "backreferences and octal escapes are not supported"},
      {"(a)\\1", "backreferences and octal escapes are not supported"},
      {"\\012", "backreferences and octal escapes are not supported"},
      {"[a&&b]", "class set operations (&&, --, ~~) are not supported"},
      {"[a-z--c]", "class set operations (&&, --, ~~) are not supported"},
      {"[a~~b]", "class set operations (&&, --, ~~) are not supported"},
      {"[a[b]]", "nested character classes are not supported"},
      {"[[]", "nested character classes are not supported"},
      {"[[:alpha]", "nested character classes are not supported"},
      {"a{", "a '{' must begin a counted repetition such as {2} or {2,5}; write \\{ for the "
             "character"},
      {"a{x}", "a '{' must begin a counted repetition such as {2} or {2,5}; write \\{ for the "
               "character"},
      {"a{,3}", "a '{' must begin a counted repetition such as {2} or {2,5}; write \\{ for the "
                "character"},
      {"\\b{start}", "a '{' must begin a counted repetition such as {2} or {2,5}; write \\{ for "
                     "the character"},
      {"\\<a\\>", "\\< and \\> (start and end of a word) are not supported"},
      {"a\\C", "\\C (any single byte) is not supported"},
      {"\\Qa.b\\E", "\\Q...\\E quoting is not supported"},
      // RE2 quotes the piece it could not read; an expanded class is not the
      // form's text, so only the reason is given.
      {"[z-\\d]", "invalid character class range"},
      {"[\\w-z]", "a class such as \\w cannot begin a range"},
      {"[\\pL-z]", "a class such as \\w cannot begin a range"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto result = regex_matches("a", c.pattern);
    ASSERT_FALSE(result);
    std::string prefix = "regex(): ";
    EXPECT_EQ(result.error().substr(result.error().find(" — ") + std::string(" — ").size()),
              c.reason);
  }
}

TEST(RegexMatches, NestingLimit) {
  auto nested = [](std::size_t depth) {
    return std::string(depth, '(') + "a" + std::string(depth, ')');
  };
  auto ok = regex_matches("a", nested(kMaxPatternNesting));
  ASSERT_TRUE(ok) << ok.error();
  EXPECT_TRUE(*ok);
  auto deep = regex_matches("a", nested(kMaxPatternNesting + 1));
  ASSERT_FALSE(deep);
  EXPECT_TRUE(deep.error().ends_with("— the pattern nests deeper than 250 levels"));
  auto hostile = regex_matches("a", nested(1000000));
  ASSERT_FALSE(hostile);
  auto in_class = regex_matches("a", std::string(kMaxPatternNesting, '(') + "[a]" +
                                         std::string(kMaxPatternNesting, ')'));
  EXPECT_FALSE(in_class);
}

// Every group, bracketed class, repetition, alternation of two or more
// branches and sequence of two or more items is a level of its own.
TEST(RegexMatches, NestingCountsEveryLevel) {
  auto around = [](std::size_t groups, const std::string& inner) {
    return std::string(groups, '(') + inner + std::string(groups, ')');
  };
  auto chain = [](std::size_t groups) {  // (a(a(a...))): two levels per group
    std::string p;
    for (std::size_t i = 0; i < groups; ++i) p += "(a";
    return p + std::string(groups, ')');
  };
  auto non_capturing = [](std::size_t groups) {
    std::string p;
    for (std::size_t i = 0; i < groups; ++i) p += "(?:";
    return p + "a" + std::string(groups, ')');
  };
  struct Case {
    std::string pattern;
    bool accepted;
  };
  const Case cases[] = {
      {chain(125), true},
      {non_capturing(250), true},
      {non_capturing(251), false},
      {around(249, "(?P<n>a)"), true},
      {around(249, "(?i-s:a)"), true},
      {chain(126), false},
      {around(249, "a*"), true},
      {around(250, "a*"), false},
      {around(249, "a{2}"), true},
      {around(250, "a{2}?"), false},
      {around(249, "a|b"), true},
      {around(250, "a|"), false},
      {around(249, "ab"), true},
      {around(250, "ab"), false},
      {"a" + around(250, "a"), false},
      {around(250, "é"), true},
      {around(250, "(?i)"), true},
      {around(249, "(?i)a"), true},
      {around(250, "(?i)a"), false},
      {around(249, "[a-z]"), true},
      {around(249, "[^\\d]"), true},
      {around(249, "[\\x41-\\x{5A}]"), true},
      {around(249, "[é-ü]"), true},
      {around(248, "[ab]"), true},
      {around(249, "[ab]"), false},
      {around(249, "[a-]"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 300) + "... " + std::to_string(c.pattern.size()));
    auto result = regex_matches("a", c.pattern);
    if (c.accepted) {
      EXPECT_TRUE(result) << result.error().substr(result.error().find(" — "));
    } else if (result) {
      ADD_FAILURE() << "accepted";
    } else {
      EXPECT_TRUE(result.error().ends_with("— the pattern nests deeper than 250 levels"))
          << result.error().substr(result.error().find(" — "));
    }
  }
}

TEST(RegexMatches, WordBoundariesOnlyForAsciiValues) {
  // RE2 would answer false: its \b sees no word character in é.
  auto result = regex_matches("é", "\\b.\\b");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "regex(): \"\\\\b.\\\\b\" is not a pattern this engine can build — \\b and \\B know "
            "only ASCII word characters here, and the value is not ASCII");
  EXPECT_FALSE(regex_matches("naïve", "\\Bnaïve"));
  auto ascii = regex_matches("e", "\\b.\\b");
  ASSERT_TRUE(ascii) << ascii.error();
  EXPECT_TRUE(*ascii);
}

TEST(RegexMatches, LengthLimit) {
  const std::string refusal = "— patterns are limited to 500000 bytes";
  auto longest = regex_matches("", std::string(kMaxPatternBytes, '|'));
  EXPECT_TRUE(longest || !longest.error().ends_with(refusal));  // RE2 may refuse it as too large
  auto too_long = regex_matches("", std::string(kMaxPatternBytes + 1, '|'));
  ASSERT_FALSE(too_long);
  EXPECT_TRUE(too_long.error().ends_with(refusal));
}

// Each \w is some 12 KB of Unicode class: unchecked, a pattern of \w alone
// within the length limit made RE2 parse gigabytes before it gave up.
TEST(RegexMatches, ExpansionLimit) {
  const std::string refusal = "— its \\d, \\w and \\s classes expand to more than 16 MiB";
  std::string words;
  for (std::size_t i = 0; i < kMaxPatternBytes / 2; ++i) words += "\\w";
  auto expanded = regex_matches("é", words);
  ASSERT_FALSE(expanded);
  EXPECT_TRUE(expanded.error().ends_with(refusal)) << expanded.error().substr(0, 200);
  auto in_class = rewrite_pattern("[" + words.substr(0, 20000) + "]");
  ASSERT_FALSE(in_class);
  EXPECT_EQ(in_class.error(), refusal.substr(4));
  auto ascii = rewrite_pattern(words, ClassMembers::ascii);  // ASCII classes stay short
  EXPECT_TRUE(ascii) << ascii.error();
}

TEST(RegexMatches, AsciiClassesAgreeOnAsciiValues) {
  const char* patterns[] = {
      "\\d", "\\D", "\\w", "\\W", "\\s", "\\S", "[\\d]", "[\\D]", "[\\w]", "[\\W]",
      "[\\s]", "[\\S]", "[^\\d]", "[^\\D]", "[^\\w]", "[^\\W]", "[^\\s]", "[^\\S]",
      "[^\\W_]", "[\\W\\d]", "[a\\S]", "(?i)\\w", "(?i)\\W", "(?i)[^\\w]", "(?i)[^\\W]",
      "(?i)[\\W]", "(?i)[^\\Wk]", "(?i)\\S", "(?i)[^\\D]",
  };
  // Every class boundary of ASCII, and the letters that other characters
  // case-fold to (K: KELVIN SIGN, S: LATIN SMALL LETTER LONG S).
  static constexpr char kChars[] = "\0\x01\x08\t\n\v\f\r\x0e\x1f !/09:@AKSZ[^_`aksz{~\x7f";
  std::vector<std::string> values;
  for (char c : std::string_view(kChars, sizeof kChars - 1)) values.emplace_back(1, c);
  for (const char* p : patterns) {
    for (const std::string& v : values) {
      SCOPED_TRACE(testing::Message() << p << " against char " << int(v[0]));
      auto full = regex_matches_with(v, p, ClassMembers::unicode);
      auto ascii = regex_matches_with(v, p, ClassMembers::ascii);
      ASSERT_TRUE(full && ascii);
      EXPECT_EQ(*full, *ascii);
    }
  }
}

TEST(RewritePattern, LeavesPlainPatternsAlone) {
  const char* plain[] = {"", "abc", "a|b", "(?i)x[a-z]+\\.\\*", "\\p{Greek}+\\P{L}", "\\x{1F600}",
                         "日本+", "[^]a]"};
  for (const char* p : plain) {
    SCOPED_TRACE(p);
    auto r = rewrite_pattern(p);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(*r, p);
  }
}

struct RewriteCase {
  const char* pattern;
  const char* rewritten;
};

TEST(RewritePattern, AsciiClassSpellings) {
  const RewriteCase cases[] = {
      {"\\d{3}", "[\\x{30}-\\x{39}]{3}"},
      {"\\D", "[^\\x{30}-\\x{39}]"},
      {"[\\d.]", "[\\x{30}-\\x{39}.]"},
      {"[^\\D]", "[^\\x{0}-\\x{2F}\\x{3A}-\\x{7F}]"},
      {"[^\\W_]", "[^\\x{0}-\\x{2F}\\x{3A}-\\x{40}\\x{5B}-\\x{5E}\\x{60}\\x{7B}-\\x{7F}_]"},
      {"\\s+", "[\\x{9}-\\x{D}\\x{20}]+"},
      {"a\\_b", "a_b"},
      {"[\\_]", "[_]"},
      // Escapes that hold braces or letters are passed through whole.
      {"\\x{64}{2}", "\\x{64}{2}"},
      {"\\p{Nd}\\pL\\P{Lu}", "\\p{Nd}\\pL\\P{Lu}"},
      {"\\\\d", "\\\\d"},
      {"[\\]\\d]", "[\\]\\x{30}-\\x{39}]"},
      {"[]\\d]", "[]\\x{30}-\\x{39}]"},
      {"[[:digit:]\\d]", "[[:digit:]\\x{30}-\\x{39}]"},
  };
  for (const RewriteCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto r = rewrite_pattern(c.pattern, ClassMembers::ascii);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(*r, c.rewritten);
  }
}

}  // namespace
}  // namespace tovarn::xpath::detail
