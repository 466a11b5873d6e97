// Inputs built to break an engine: extreme numbers in every numeric function,
// documents a million deep walked by expressions, and paths of a million steps.
// Each must give a correct value or a clear error; the sanitizer pass of the
// suite turns any undefined behaviour on the way into a failure.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"
#include "support.h"

namespace tovarn::xpath {
namespace {

using test_support::read;
using test_support::repeat;

// The value as text, or "error: " and the message.
std::string eval(std::string_view expression, const tree::Document& doc) {
  auto expr = parse_expression(expression);
  if (!expr) return "error: " + expr.error();
  const Clock clock("2024-05-01", "2024-05-01T10:11:12.000+02:00");
  auto value = evaluate(*expr, doc, EvalContext{.node = *doc.root()}, clock);
  if (!value) return "error: " + value.error();
  return value_to_string(*value);
}

// Literals, since expressions have no exponent syntax: 1e308, the least
// subnormal 5e-324 and its negatives, and the results of division by zero.
const std::string kHuge = "1" + repeat("0", 308);
const std::string kTiny = "0." + repeat("0", 323) + "5";
const std::string kExtremes[] = {
    kHuge, "-" + kHuge, kTiny, "-" + kTiny, "(1 div 0)", "(-1 div 0)", "(0 div 0)", "-0",
    "9007199254740993", "18446744073709551616", "-9223372036854775809", "2147483648",
    "-2147483649", "4294967296", "/data/huge", "/data/tiny", "'1e999'"};

// Every function that reads a number, with X where the number goes.
constexpr std::string_view kNumericCalls[] = {
    "number(X)", "int(X)", "abs(X)", "floor(X)", "ceiling(X)", "round(X)", "round(X, 2)",
    "round(1.55, X)", "round(X, X)", "pow(X, 2)", "pow(2, X)", "pow(X, X)", "pow(X, 0.5)",
    "sqrt(X)", "log(X)", "log10(X)", "exp(X)", "sum(/data/*[. = X])", "min(X, 1)",
    "max(X, 1)", "string(X)", "boolean(X)", "if(X, 1, 2)", "substring('abcde', X)",
    "substring('abcde', 2, X)", "substring('abcde', X, X)", "substr('abcde', X)",
    "substr('abcde', 1, X)", "substr('abcde', X, X)", "selected-at('a b c', X)",
    "format-date(X, '%Y-%m-%d')", "format-date-time(X, '%Y-%m-%dT%H:%M:%S')",
    "format-date(concat(X, '-01-01'), '%Y')", "distance(concat(X, ' ', X, ';0 0'))",
    "area(concat(X, ' 0;0 ', X, ';1 1'))", "X * X", "X div X", "X mod X", "X mod 0", "-X",
    "X + 1 = X", "X < 1", "string-length(X)", "translate(X, '0', '')", "/data/*[X]",
    "/data/*[position() = X]", "join(X, /data/*)", "concat(X, X)"};

const tree::Document& extremes_doc() {
  static const tree::Document doc =
      read("<data><huge>" + kHuge + "</huge><tiny>" + kTiny + "</tiny><n>5</n></data>");
  return doc;
}

TEST(Hostile, ExtremeNumbersInEveryNumericFunction) {
  for (std::string_view call : kNumericCalls) {
    for (const std::string& x : kExtremes) {
      std::string expression;
      for (char c : call) {
        if (c == 'X') expression += x; else expression += c;
      }
      SCOPED_TRACE(std::string(call) + " with " + x.substr(0, 20));
      const std::string got = eval(expression, extremes_doc());
      // A value or an error that says something; never a crash.
      EXPECT_NE(got, "error: ");
    }
  }
}

TEST(Hostile, ExtremeNumbersGiveExactResults) {
  struct Case {
    std::string expression;
    std::string want;
  };
  const Case cases[] = {
      {"int(" + kHuge + ")", kHuge},
      {"floor(-" + kHuge + ")", "-" + kHuge},
      {"round(" + kHuge + ")", kHuge},
      // Scaling by 10^d overflows here, but the number has no digits to drop.
      {"round(" + kHuge + ", 2)", kHuge},
      {"round(-" + kHuge + ", 300)", "-" + kHuge},
      {"round(1.5, 400)", "NaN"},
      {"round(" + kTiny + ", 2)", "0"},
      {"abs(-" + kTiny + ") > 0", "true"},
      {kHuge + " * 10", "Infinity"},
      {"-" + kHuge + " * 10", "-Infinity"},
      {kTiny + " div 2", "0"},
      {"pow(2, 1024)", "Infinity"},
      {"pow(2, -1075)", "0"},
      {"exp(" + kHuge + ")", "Infinity"},
      {"exp(-" + kHuge + ")", "0"},
      {"log(0)", "-Infinity"},
      {"log10(" + kHuge + ")", "308"},
      {"sqrt(-" + kTiny + ")", "NaN"},
      {"sum(/data/huge | /data/huge)", kHuge},
      {"/data/huge * 2", "Infinity"},
      {"max(/data/*)", kHuge},
      {"min(/data/*)", kTiny},
      {"substring('abcde', " + kHuge + ")", ""},
      {"substring('abcde', -" + kHuge + ", 1 div 0)", "abcde"},
      {"substring('abcde', -" + kHuge + ", " + kHuge + ")", ""},
      {"substring('abcde', 2, " + kHuge + ")", "bcde"},
      {"substring('abcde', 9007199254740993)", ""},
      {"substr('abcde', -" + kHuge + ")", "abcde"},
      {"substr('abcde', " + kHuge + ")", ""},
      {"substr('abcde', 1, " + kHuge + ")", "bcde"},
      {"substr('abcde', 1, -" + kHuge + ")", ""},
      {"selected-at('a b c', " + kHuge + ")", ""},
      {"selected-at('a b c', -" + kHuge + ")", ""},
      {"/data/*[" + kHuge + "]", ""},
      {"/data/*[-" + kHuge + "]", ""},
      {"count(/data/*[position() < " + kHuge + "])", "3"},
      {kHuge + " mod 0", "NaN"},
      {"5 mod " + kTiny, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression.substr(0, 60));
    EXPECT_EQ(eval(c.expression, extremes_doc()), c.want);
  }
}

// The deepest element of a document a million levels deep, reached by one
// path of a million steps and by every axis that walks up or down.
TEST(Hostile, MillionLevelsDeepWalkedByExpressions) {
  constexpr std::size_t kDepth = 1'000'000;
  const tree::Document doc =
      read(repeat("<a>", kDepth - 1) + "<a k='v'>x</a>" + repeat("</a>", kDepth - 1));
  const std::string path = repeat("/a", kDepth);
  struct Case {
    std::string expression;
    std::string want;
  };
  const Case cases[] = {
      {path, "x"},
      {path + "/@k", "v"},
      {"count(" + path + "/ancestor::*)", std::to_string(kDepth - 1)},
            // "/" is the root element, which // does not reach.
      {"count(//a)", std::to_string(kDepth - 1)},
      {"count(/descendant-or-self::node())", std::to_string(kDepth)},
      {"string(/)", "x"},
      {"count(//a[@k]/ancestor-or-self::a[last()])", "1"},
      {"name(//*[@k]/..)", "a"},
      {"count(//a[not(a)]/preceding::*)", "0"},
      {"string-length(normalize-space(/a))", "1"},
      {"count(" + path + "/a)", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression.substr(0, 60));
    EXPECT_EQ(eval(c.expression, doc), c.want);
  }
}

// A million terms: chains are refused at the nesting limit, paths are flat.
TEST(Hostile, MillionTermExpressions) {
  constexpr std::size_t kTerms = 1'000'000;
  const tree::Document doc = read("<data><a>1</a></data>");
  const std::string too_deep = "error: expression nests deeper than 1000 levels";
  EXPECT_EQ(eval("1" + repeat("+1", kTerms - 1), doc), too_deep);
  EXPECT_EQ(eval("1" + repeat(" and 1", kTerms - 1), doc), too_deep);
  EXPECT_EQ(eval("/data/a" + repeat("|/data/a", kTerms - 1), doc), too_deep);
  EXPECT_EQ(eval("concat(" + repeat("'a',", kTerms - 1) + "'a')", doc).size(), kTerms);
  EXPECT_EQ(eval("/data" + repeat("/a", kTerms - 1), doc), "");
  EXPECT_EQ(eval("/data" + repeat("[1]", kTerms - 1) + "/a", doc), "1");
}

// Absolute paths inside predicates, nested: each level would otherwise redo
// the levels below it for every node it tests, so five levels over six hundred
// nodes, or the short expression the fuzzer found, would run for hours.
TEST(Hostile, NestedAbsolutePathsInPredicates) {
  std::string rows;
  for (int i = 0; i < 300; ++i) rows += "<r><x>" + std::to_string(i) + "</x></r>";
  const tree::Document doc = read("<d><want>7</want>" + rows + "</d>");
  struct Case {
    std::string expression;
    std::string want;
  };
  const Case cases[] = {
      {"count(//*[. = //*[. = //*[. = //*[. = //x]]]])", "601"},
      {"//*[.=//*[.=//*[.//*[.=//*[.=//*[.=/|/*]|/*|/*]|/*]=/|/*]|/*|/*]|/*]", "7"},
      {"count(/d/r[x = /d/want])", "1"},
      {"count(/d/r[x < /d/want][x > /d/r[2]/x])", "5"},
      {"/d/r[x = /d/r[last()]/x]/x", "299"},
      {"count(/d/r[x = /d/r[position() = last() - 1]/x or x = /d/r[1]/x])", "2"},
      {"count(//r[x > count(//r[x < /d/want])])", "292"},
      {"count(/d/r[x = count(/d/r[x < count(/d/r[x < /d/want])])])", "1"},
      {"sum(/d/r[x mod 100 = 0][/d/want > 5]/x)", "300"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(eval(c.expression, doc), c.want);
  }
}

}  // namespace
}  // namespace tovarn::xpath
