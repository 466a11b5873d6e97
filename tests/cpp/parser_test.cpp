#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "xpath/detail/dump.h"
#include "xpath/expr.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::xpath {
namespace {

using test_support::repeat;

// The dump of the tree, or "error: " and the message.
std::string parsed(std::string_view text) {
  auto expr = parse_expression(text);
  if (!expr) return "error: " + expr.error();
  return detail::dump(*expr);
}

struct Case {
  std::string_view text;
  std::string_view want;
};

constexpr Case kTrees[] = {
    // Primaries.
    {"1", "num{1}"},
    {" 1 ", "num{1}"},
    {"2.5", "num{2.5}"},
    {"'abc'", "lit{\"abc\"}"},
    {"\"it's\"", "lit{\"it's\"}"},
    {"$x", "var{x}"},
    {"$", "var{}"},
    {"(1)", "num{1}"},
    {"((a))", "path{child:a}"},
    // Calls.
    {"f()", "call{f}"},
    {"count (a)", "call{count path{child:a}}"},
    {"jr:choice-name(., /a)", "call{jr:choice-name path{self:*} abs{child:a}}"},
    {"concat('a', $b, 3)", "call{concat lit{\"a\"} var{b} num{3}}"},
    {"count(text())", "call{count path{child:text()}}"},
    {"child(1)", "call{child num{1}}"},
    // Location paths.
    {"/", "abs{}"},
    {"//a", "abs{descendant-or-self:* child:a}"},
    {"/a/b", "abs{child:a child:b}"},
    {"a//b", "path{child:a descendant-or-self:* child:b}"},
    {"a/b[1]", "path{child:a child:b[num{1}]}"},
    {"a[1][b]", "path{child:a[num{1}][path{child:b}]}"},
    {"/jr:x", "abs{child:x}"},
    {"a:", "path{child:}"},
    {"text", "path{child:text}"},
    {"text()", "path{child:text()}"},
    {"node()", "path{child:*}"},
    {"self::text()/ancestor::comment()", "path{self:text() ancestor:comment()}"},
    {"processing-instruction", "path{child:processing-instruction}"},
    {"comment()/processing-instruction()",
     "path{child:comment() child:processing-instruction()}"},
    {"child::a", "path{child:a}"},
    {"attribute::node()", "path{attribute:*}"},
    {"@*", "path{attribute:*}"},
    {"@id", "path{attribute:id}"},
    {"@jr:x", "path{attribute:x}"},
    {".", "path{self:*}"},
    {"..", "path{parent:*}"},
    {".[1]", "path{self:*[num{1}]}"},
    {"..[2]", "path{parent:*[num{2}]}"},
    {"../x", "path{parent:* child:x}"},
    {"*", "path{child:*}"},
    {"a/*", "path{child:a child:*}"},
    {"ancestor-or-self::x/following-sibling::*/preceding::y",
     "path{ancestor-or-self:x following-sibling:* preceding:y}"},
    {"descendant::a/descendant-or-self::b/ancestor::c/self::d",
     "path{descendant:a descendant-or-self:b ancestor:c self:d}"},
    {"parent::p/following::f/preceding-sibling::s",
     "path{parent:p following:f preceding-sibling:s}"},
    {"/a[/b]", "abs{child:a[abs{child:b}]}"},
    // Filter paths.
    {"f()[1]", "filter{call{f}[num{1}]}"},
    {"f()/a", "filter{call{f} child:a}"},
    {"instance('x')/root/item", "filter{call{instance lit{\"x\"}} child:root child:item}"},
    {"(a | b)[1]", "filter{union{path{child:a} path{child:b}}[num{1}]}"},
    {"$v/x", "filter{var{v} child:x}"},
    {"$v//x", "filter{var{v} descendant-or-self:* child:x}"},
    {"'abc'[1]", "filter{lit{\"abc\"}[num{1}]}"},
    {"(a)[1][2]/b", "filter{path{child:a}[num{1}][num{2}] child:b}"},
    // Operators.
    {"/ = /", "eq{abs{} abs{}}"},
    {"1 - 2 - 3", "sub{sub{num{1} num{2}} num{3}}"},
    {"a = b = c", "eq{eq{path{child:a} path{child:b}} path{child:c}}"},
    {"a or b and c", "or{path{child:a} and{path{child:b} path{child:c}}}"},
    {"x or y and z = 1 + 2 * 3",
     "or{path{child:x} and{path{child:y} eq{path{child:z} add{num{1} mul{num{2} num{3}}}}}}"},
    {"1 * 2 + 3 = 4 and 5 or 6",
     "or{and{eq{add{mul{num{1} num{2}} num{3}} num{4}} num{5}} num{6}}"},
    {"a != b", "ne{path{child:a} path{child:b}}"},
    {"1 < 2 <= 3 > 4 >= 5", "ge{gt{le{lt{num{1} num{2}} num{3}} num{4}} num{5}}"},
    {"a < b = c > d", "eq{lt{path{child:a} path{child:b}} gt{path{child:c} path{child:d}}}"},
    {"6 div 3 mod 2 * 1", "mul{mod{div{num{6} num{3}} num{2}} num{1}}"},
    {"div div div", "div{path{child:div} path{child:div}}"},
    {"* * *", "mul{path{child:*} path{child:*}}"},
    {"a*b", "mul{path{child:a} path{child:b}}"},
    {"or", "path{child:or}"},
    {"a/or", "path{child:a child:or}"},
    {"or or or", "or{path{child:or} path{child:or}}"},
    {"mod mod mod mod mod", "mod{mod{path{child:mod} path{child:mod}} path{child:mod}}"},
    {"a|b|c", "union{union{path{child:a} path{child:b}} path{child:c}}"},
    {"-a|b", "neg{union{path{child:a} path{child:b}}}"},
    {"--1", "neg{neg{num{1}}}"},
    {"2 - -3", "sub{num{2} neg{num{3}}}"},
    {"2 * -3", "mul{num{2} neg{num{3}}}"},
    {"5-3", "sub{num{5} num{3}}"},
    {"a-b", "path{child:a-b}"},
    {"1 + 2 * 3 - 4", "sub{add{num{1} mul{num{2} num{3}}} num{4}}"},
    {"(1 + 2) * 3", "mul{add{num{1} num{2}} num{3}}"},
    {". > 5 and . < 10", "and{gt{path{self:*} num{5}} lt{path{self:*} num{10}}}"},
};

TEST(Parse, Trees) {
  for (const Case& c : kTrees) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parsed(c.text), c.want);
  }
}

constexpr Case kErrors[] = {
    {"", "expected a node test, found None"},
    {"   ", "expected a node test, found None"},
    // Trailing input.
    {"1e3", "unexpected trailing input in \"1e3\" at token 1"},
    {"1 2", "unexpected trailing input in \"1 2\" at token 1"},
    {"a b", "unexpected trailing input in \"a b\" at token 1"},
    {"@child::x", "unexpected trailing input in \"@child::x\" at token 2"},
    {"a AND b", "unexpected trailing input in \"a AND b\" at token 1"},
    {" a )", "unexpected trailing input in \" a )\" at token 1"},
    {"\"q\"\t]", "unexpected trailing input in \"\\\"q\\\"\\t]\" at token 1"},
    {"a\\", "unexpected character '\\'"},
    // Missing closers.
    {"f(1", "expected RightParen, found None"},
    {"(1 2)", "expected RightParen, found Some(Number(2.0))"},
    {"(1 0.5)", "expected RightParen, found Some(Number(0.5))"},
    {"a[1", "expected RightBracket, found None"},
    {"a[1)", "expected RightBracket, found Some(RightParen)"},
    {"node(1)", "expected RightParen, found Some(Number(1.0))"},
    {"f(a b)", "expected RightParen, found Some(Name(\"b\"))"},
    {"processing-instruction('x')", "expected RightParen, found Some(Literal(\"x\"))"},
    {"f(1, 'a' $v)", "expected RightParen, found Some(Variable(\"v\"))"},
    {"(a", "expected RightParen, found None"},
    // Missing steps.
    {"f(,)", "expected a node test, found Some(Comma)"},
    {"f(1,)", "expected a node test, found Some(RightParen)"},
    {"a[]", "expected a node test, found Some(RightBracket)"},
    {"a = = b", "expected a node test, found Some(Equal)"},
    {"()", "expected a node test, found Some(RightParen)"},
    {"a/", "expected a node test, found None"},
    {"//", "expected a node test, found None"},
    {"a | -b", "expected a node test, found Some(Minus)"},
    {"a or", "expected a node test, found None"},
    {"1 +", "expected a node test, found None"},
    {"-", "expected a node test, found None"},
    {"@", "expected a node test, found None"},
    {"@.", "expected a node test, found Some(Dot)"},
    {"child::", "expected a node test, found None"},
    {"child::1", "expected a node test, found Some(Number(1.0))"},
    {"a/'x'", "expected a node test, found Some(Literal(\"x\"))"},
    {"a/$x", "expected a node test, found Some(Variable(\"x\"))"},
    {"f()/", "expected a node test, found None"},
    {"//@", "expected a node test, found None"},
    {"/ /", "unexpected trailing input in \"/ /\" at token 1"},
    {"a//", "expected a node test, found None"},
    {"::", "expected a node test, found Some(DoubleColon)"},
    // Axes.
    {"namespace::x", "unsupported axis 'namespace'"},
    {"Child::x", "unsupported axis 'Child'"},
    {"a/jr:child::x", "unsupported axis 'jr:child'"},
    // Tokenizer messages come back unchanged.
    {"1.2.3", "'1.2.3' is not a number"},
    {"selected(${x}, 'a')", "unexpected character '{'"},
    {"x = 'abc", "unterminated string starting at character 5"},
    {"(((", "expected a node test, found None"},
};

TEST(Parse, Errors) {
  for (const Case& c : kErrors) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parsed(c.text), "error: " + std::string(c.want));
  }
}

const std::string kTooDeep = "error: expression nests deeper than 1000 levels";

// Each shape at the limit parses; one level more is refused. The limit is the
// tree's depth below its root, and the parser's nesting of its own calls.
TEST(ParseDepth, Limit) {
  static_assert(kMaxExprDepth == 1000);
  struct Shape {
    std::string_view name;
    std::string (*build)(std::size_t levels);
  };
  const Shape shapes[] = {
      {"parentheses", [](std::size_t n) { return repeat("(", n) + "1" + repeat(")", n); }},
      {"sum", [](std::size_t n) { return "1" + repeat("+1", n); }},
      {"or chain", [](std::size_t n) { return "a" + repeat(" or a", n); }},
      {"union", [](std::size_t n) { return "a" + repeat("|a", n); }},
      {"negation", [](std::size_t n) { return repeat("-", n) + "1"; }},
      {"predicates", [](std::size_t n) { return repeat("a[", n) + "1" + repeat("]", n); }},
      {"arguments", [](std::size_t n) { return repeat("f(", n) + "1" + repeat(")", n); }},
      {"filter paths", [](std::size_t n) { return repeat("$v[", n) + "1" + repeat("]", n); }},
      {"right-nested sums", [](std::size_t n) { return repeat("1+(", n) + "1" + repeat(")", n); }},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    EXPECT_NE(parsed(shape.build(kMaxExprDepth)), kTooDeep);
    EXPECT_EQ(parsed(shape.build(kMaxExprDepth + 1)), kTooDeep);
  }
}

// Each rung opens five tighter operator levels and a parenthesis: six levels.
TEST(ParseDepth, OperatorLadder) {
  const auto ladder = [](std::size_t rungs) {
    return repeat("a or b and c = d < e + f * (", rungs) + "1" + repeat(")", rungs);
  };
  EXPECT_NE(parsed(ladder(kMaxExprDepth / 6)), kTooDeep);
  EXPECT_EQ(parsed(ladder(kMaxExprDepth / 6 + 1)), kTooDeep);
}

// Levels add up across shapes: parentheses around chains around chains.
TEST(ParseDepth, MixedShapesAddUp) {
  // Each level: a parenthesised chain of 100 links, so 10 levels make 1000.
  std::string text = "1";
  for (int level = 0; level < 10; ++level) text = "(" + text + repeat("+1", 100) + ")";
  EXPECT_NE(parsed(text), kTooDeep);
  EXPECT_EQ(parsed("(" + text + "+1)"), kTooDeep);
  EXPECT_EQ(parsed("-" + text), kTooDeep);
}

TEST(ParseDepth, Hostile) {
  EXPECT_EQ(parsed("1" + repeat("+1", 200000)), kTooDeep);
  EXPECT_EQ(parsed(repeat("(", 100000) + "1" + repeat(")", 100000)), kTooDeep);
  EXPECT_EQ(parsed(repeat("-", 1000000) + "1"), kTooDeep);
  EXPECT_EQ(parsed(repeat("a[", 100000) + "1" + repeat("]", 100000)), kTooDeep);
  EXPECT_EQ(parsed(repeat("f(", 100000) + repeat(")", 100000)), kTooDeep);
  EXPECT_EQ(parsed("a" + repeat(" or a", 200000)), kTooDeep);
  EXPECT_EQ(parsed(repeat("a or b and c = d < e + f * (", 100000) + "1" + repeat(")", 100000)),
            kTooDeep);
}

// A long path is one node however many steps it has.
TEST(ParseDepth, LongPathsAreFlat) {
  EXPECT_EQ(parsed("a" + repeat("/a", 200000)).size(),
            std::string("path{child:a}").size() + 200000 * std::string(" child:a").size());
}

}  // namespace
}  // namespace tovarn::xpath
