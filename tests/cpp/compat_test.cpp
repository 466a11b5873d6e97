#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compat/detail/expression_checks.h"
#include "compat/detail/instance_paths.h"
#include "compat/detail/known_paths.h"
#include "compat/detail/repeat_paths.h"
#include "tree/document.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::compat::detail {
namespace {

std::string describe(const CompatIssue& issue) {
  std::string text = issue.construct;
  text += " | ";
  text += breaks_name(issue.breaks);
  text += " | ";
  text += issue.suggestion ? *issue.suggestion : "None";
  return text;
}

std::vector<std::string> expression_issues(const std::string& text) {
  const auto expr = xpath::parse_expression(text);
  EXPECT_TRUE(expr.has_value()) << expr.error();
  if (!expr) return {};
  RepeatPaths repeats;
  repeats.add("/data/rep");
  repeats.add("/data/rep/inner/");
  std::vector<CompatIssue> issues;
  check_expression(*expr, repeats, "/data/q", issues);
  std::vector<std::string> described;
  for (const CompatIssue& issue : issues) described.push_back(describe(issue));
  return described;
}

struct ExpressionCase {
  const char* expr;
  std::vector<std::string> issues;
};

const char* const kLast = "last() | Collect / KoboCollect | count() of the repeat";
const char* const kShorthand =
    "the // shorthand | Collect / KoboCollect | the full path from the instance root";
const char* const kRepQ =
    "comparing /data/rep/q, which repeats | Collect / KoboCollect | "
    "count(/data/rep/q[. = \u2026]) > 0, or indexed-repeat() to name one instance";

TEST(CompatExpression, FindsEveryConstructInWalkOrder) {
  const ExpressionCase cases[] = {
      {"/data/rep/q = 'a'", {kRepQ}},
      {"/data/rep = 'a'",
       {"comparing /data/rep, which repeats | Collect / KoboCollect | "
        "count(/data/rep[. = \u2026]) > 0, or indexed-repeat() to name one instance"}},
      {"/data/represent = 'a'", {}},
      {"../q = 'a'", {}},
      {"count(/data/rep/q) = 0", {}},
      {"/data/rep/q + 1", {}},
      {"/data/rep/q[1] = 'a'",
       {"the positional predicate [1] | Collect / KoboCollect | [position() = 1]"}},
      {"/data/rep/a = /data/rep/b",
       {"comparing /data/rep/a, which repeats | Collect / KoboCollect | "
        "count(/data/rep/a[. = \u2026]) > 0, or indexed-repeat() to name one instance",
        "comparing /data/rep/b, which repeats | Collect / KoboCollect | "
        "count(/data/rep/b[. = \u2026]) > 0, or indexed-repeat() to name one instance"}},
      // Both repeat paths cover the inner one; it is reported once.
      {"/data/rep/inner/x != 1",
       {"comparing /data/rep/inner/x, which repeats | Collect / KoboCollect | "
        "count(/data/rep/inner/x[. = \u2026]) > 0, or indexed-repeat() to name one instance"}},
      {"//q = 'a'", {kShorthand}},
      {"/data//q", {kShorthand}},
      {"a//b//c", {kShorthand, kShorthand}},
      {"descendant-or-self::node()", {kShorthand}},
      {"descendant-or-self::q | descendant::q", {}},
      {"/data/q[2.5]",
       {"the positional predicate [2.5] | Collect / KoboCollect | [position() = 2.5]"}},
      {"/data/q[-1]", {}},
      {"(/data/q)[1]", {}},
      {"/data/q[last()]", {kLast}},
      {"last() + last(1)", {kLast, kLast}},
      {"jr:last() + LAST()", {}},
      // Step by step: the step's // first, then each predicate's position and
      // what lies inside it; a call before its arguments; a comparison's
      // repeat operands before what lies inside them.
      {"a//b[1][floor(/data/rep/q[2])] = /data/rep/q",
       {kRepQ, kShorthand,
        "the positional predicate [1] | Collect / KoboCollect | [position() = 1]",
        "floor() | Collect / KoboCollect | int() for a positive number, or if(x < int(x), int(x) "
        "- 1, int(x)) for any x",
        "the positional predicate [2] | Collect / KoboCollect | [position() = 2]"}},
      {"/data/rep/q = last() or -ceiling(1) < substring('a', 1)",
       {kRepQ, kLast,
        "ceiling() | Collect / KoboCollect | if(x > int(x), int(x) + 1, int(x)), which both "
        "engines evaluate",
        "substring() | Collect / KoboCollect | substr(), remembering it counts from 0 and its end "
        "is exclusive: substring(s, 2, 3) is substr(s, 1, 4)"}},
      {"(pulldata('t', 'c', 'k', .))[area(.)]/x[distance(.)]",
       {"pulldata() | Enketo web forms | instance('file')/root/item[key = \u2026]/column, which "
        "both engines evaluate",
        "area() | both, differently | round() the result, or compare with a margin",
        "distance() | both, differently | round(distance(\u2026)) or a comparison with room to "
        "spare"}},
      {"geofence() or is-selected() or enclosed-area() or base64-decode() or extract-signed()",
       {"geofence() | Enketo web forms | None", "is-selected() | Enketo web forms | None",
        "enclosed-area() | Enketo web forms | None", "base64-decode() | Enketo web forms | None",
        "extract-signed() | Enketo web forms | None"}},
  };
  for (const ExpressionCase& c : cases) {
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(expression_issues(c.expr), c.issues);
  }
}

TEST(CompatRepeatPaths, CoversPathsInOrBelowARepeat) {
  RepeatPaths repeats;
  for (const char* path : {"/data/rep", "/data/rep/inner//", "data/rel", "/data//odd", "//", ""})
    repeats.add(path);
  const struct {
    const char* path;
    bool covered;
  } cases[] = {
      {"/data/rep", true},     {"/data/rep/q", true},       {"/data/rep/inner/x", true},
      {"/data/represent", false}, {"/data", false},         {"/", false},
      {"/data/rel", false},    {"data/rel/x", true},        {"/data//odd/x", true},
      {"/data/odd", false},    {"/other", false},           {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(repeats.covers(c.path), c.covered);
  }
  EXPECT_FALSE(RepeatPaths().covers("/data"));
}

// Inside a row both engines read the bind's own row, so a field below a
// repeat holding the bind's node does not count; the repeat itself does.
TEST(CompatRepeatPaths, FieldsOfTheBindsOwnRowDoNotCount) {
  RepeatPaths repeats;
  repeats.add("/data/rep");
  repeats.add("/data/rep/inner/");
  const struct {
    const char* path;
    const char* bind;
    bool covered;
  } cases[] = {
      {"/data/rep/q", "/data/rep/x", false},       {"/data/rep/q", "/data/rep", false},
      {"/data/rep/q", "/data/rep/g/x", false},     {"/data/rep", "/data/rep/x", true},
      {"/data/rep/q", "/data/represent", true},    {"/data/rep/q", "/data/other", true},
      {"/data/rep/q", "", true},                   {"/data/rep/inner/q", "/data/rep/x", true},
      {"/data/rep/inner/q", "/data/rep/inner/z", false}, {"/data/rep/inner", "/data/rep/inner/z", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " in " + c.bind);
    EXPECT_EQ(repeats.covers(c.path, c.bind), c.covered);
  }
}

TEST(CompatExpression, RegexAndBooleanFromString) {
  const ExpressionCase cases[] = {
      {"regex(., 'abc')",
       {"regex() with the unanchored pattern \"abc\" | both, differently | '^(?:abc)$'"}},
      {"regex(., '^\\d+$')", {}},
      {"regex(., '\\d+')",
       {"regex() with the unanchored pattern \"\\\\d+\" | both, differently | '^(?:\\d+)$'"}},
      {"regex(., '^a|b$')",
       {"regex() with alternation outside the anchors: \"^a|b$\" | both, differently | "
        "'^(?:^a|b$)$'"}},
      {"regex(., '^(a|b)$') or regex(., '^[a|b]$') or regex(., '^a\\|b$')", {}},
      {"regex(., '^(a))|b$')",
       {"regex() with alternation outside the anchors: \"^(a))|b$\" | both, differently | "
        "'^(?:^(a))|b$)$'"}},
      {"regex(., '^abc')",
       {"regex() with the unanchored pattern \"^abc\" | both, differently | '^(?:^abc)$'"}},
      {"regex(., 'abc$')",
       {"regex() with the unanchored pattern \"abc$\" | both, differently | '^(?:abc$)$'"}},
      {"regex(., '')", {"regex() with the unanchored pattern \"\" | both, differently | '^(?:)$'"}},
      // An apostrophe in the pattern: the suggestion must still parse.
      {"regex(., \"it's\")",
       {"regex() with the unanchored pattern \"it's\" | both, differently | \"^(?:it's)$\""}},
      {"regex(.)", {"regex() with a pattern that is not written out | both, differently | None"}},
      {"regex(., concat('^', 'a'))",
       {"regex() with a pattern that is not written out | both, differently | None"}},
      {"boolean-from-string('TRUE')",
       {"boolean-from-string(\"TRUE\") | both, differently | 'true' in lowercase"}},
      {"boolean-from-string('tRuE')",
       {"boolean-from-string(\"tRuE\") | both, differently | 'true' in lowercase"}},
      {"boolean-from-string('true') or boolean-from-string(/data/q) or boolean-from-string()", {}},
      {"boolean-from-string(' TRU') or boolean-from-string('yes')", {}},
  };
  for (const ExpressionCase& c : cases) {
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(expression_issues(c.expr), c.issues);
  }
}

TEST(CompatExpression, RegexSuggestionsParse) {
  for (const char* text : {"regex(., 'a|b')", "regex(., \"it's\")", "regex(., '^x')"}) {
    SCOPED_TRACE(text);
    const auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value());
    std::vector<CompatIssue> issues;
    check_expression(*expr, {}, "/data/q", issues);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_TRUE(xpath::parse_expression(*issues[0].suggestion).has_value());
  }
}

TEST(CompatExpression, TopLevelAlternation) {
  const struct {
    const char* pattern;
    bool expected;
  } cases[] = {
      {"a|b", true},  {"(a|b)", false},   {"[a|b]", false},     {"a\\|b", false}, {"(a))|b", true},
      {"[]|]", true}, {"[\\]|]", false},  {"((a)|b)", false},   {"(a)|b", true},  {"", false},
      {"\\", false},  {"\u00e9|x", true}, {"\\\u00e9|x", true}, {"[(]|x", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(has_top_level_alternation(c.pattern), c.expected);
  }
}

// An instance with root data holding the given chain of children under it,
// built through the arena so the reader is not involved.
tree::Document instance(const std::vector<std::vector<const char*>>& chains) {
  tree::Document doc;
  const tree::NodeId root = doc.new_element("data", "");
  doc.set_root(root);
  for (const auto& chain : chains) {
    tree::NodeId parent = root;
    for (const char* name : chain) {
      const tree::NodeId child = doc.new_element(name, "");
      doc.append_child(parent, child);
      parent = child;
    }
  }
  doc.reindex_document_order();
  return doc;
}

TEST(CompatKnownPaths, DistinctPathsAndUniqueEndings) {
  const tree::Document doc =
      instance({{"group", "age"}, {"a", "age"}, {"group", "name"}, {"rep"}, {"rep"}});
  const KnownPaths known(doc, *doc.root());
  EXPECT_EQ(known.root_name(), "data");
  for (const char* path :
       {"/data", "/data/group/age", "/data/a/age", "/data/group/name", "/data/rep"})
    EXPECT_TRUE(known.contains(path)) << path;
  for (const char* path : {"", "/", "data", "/data/", "/data//group", "/data/Age", "/data/age",
                           "/data/group/age/x", "/group"})
    EXPECT_FALSE(known.contains(path)) << path;
  EXPECT_EQ(known.only_path_ending_with("age"), std::nullopt);
  EXPECT_EQ(known.only_path_ending_with("name"), "/data/group/name");
  EXPECT_EQ(known.only_path_ending_with("rep"), "/data/rep");  // two elements, one path
  EXPECT_EQ(known.only_path_ending_with("data"), "/data");
  EXPECT_EQ(known.only_path_ending_with(""), std::nullopt);
}

TEST(CompatKnownPaths, DeepInstanceIsLinear) {
  constexpr int kDepth = 200000;
  tree::Document doc;
  tree::NodeId parent = doc.new_element("data", "");
  doc.set_root(parent);
  for (int i = 0; i < kDepth; ++i) {
    const tree::NodeId child = doc.new_element(i + 1 == kDepth ? "leaf" : "n", "");
    doc.append_child(parent, child);
    parent = child;
  }
  doc.reindex_document_order();
  const KnownPaths known(doc, *doc.root());
  EXPECT_TRUE(known.contains("/data/n/n"));
  EXPECT_FALSE(known.contains("/data/n/leaf"));
  const auto leaf = known.only_path_ending_with("leaf");
  ASSERT_TRUE(leaf.has_value());
  EXPECT_EQ(leaf->size(), std::string("/data").size() + (kDepth - 1) * 2 + 5);
}

struct PathCase {
  const char* bind;
  const char* expr;
  std::vector<std::string> issues;
};

TEST(CompatInstancePaths, ExaminesEachPathReadOnce) {
  const tree::Document doc = instance({{"group", "age"}, {"q"}, {"x"}, {"rep", "name"}});
  const KnownPaths known(doc, *doc.root());
  const SecondaryIds secondary = {"cities"};
  auto missing = [](const char* path, const char* suggestion) {
    std::string text = path;
    text += ", which this form's instance has no node for | both, identically and silently | ";
    text += suggestion;
    return text;
  };
  const PathCase cases[] = {
      {"/data/q", ". = 'yes' and ../x = 1 and x = 2", {missing("/data/q/x", "/data/x")}},
      {"/data/age", ".", {missing("/data/age", "/data/group/age")}},
      {"/data/q", "/date/age", {missing("/date/age", "/data/group/age")}},
      {"/data/q",
       "/date/weight",
       {missing("/date/weight",
                "a path under /data \u2014 that is this form's instance root, not /date")}},
      {"/data/q", "/data/weight", {missing("/data/weight", "None")}},
      {"/data/q", "/other/data", {missing("/other/data", "/data")}},
      {"/data/q", "/data/Age", {missing("/data/Age", "None")}},
      {"/data/q", "/data/w + /data/w * /data/w", {missing("/data/w", "None")}},
      {"/data/q",
       "/data/b = 1 or /data/a = 1",
       {missing("/data/b", "None"), missing("/data/a", "None")}},
      {"/data/q", "/data/rep[/data/flag = 1]", {missing("/data/flag", "None")}},
      {"/data/q", "/data/rep[nam = 'x'] | (nope)[1] | instance('list')/item[k = 1]", {}},
      {"/data/q", "/cities/item", {}},
      {"/data/x/@code", ".", {}},
      {"/data/q/", ".", {}},
      {"/data/q", "//item[name = 'a'] or /data//q or /data/*", {}},
      {"/data/q", "../../..", {}},
      {"/data/q", "-count(/data/m1) + sum(/data/rep/name)", {missing("/data/m1", "None")}},
      // One path however it is written: through the bind path or without it.
      {"/data/zz", ". + ../zz + /data/zz + ./. + ../../data/zz", {missing("/data/zz", "None")}},
      {"/data/q/", "../x + ../../x", {missing("/data/q/x", "/data/x")}},
      {"data/q", "../x + .", {missing("/x", "/data/x"), missing("/q", "/data/q")}},
      // The bind path's "@" and empty segments, as written.
      {"/data/q@x/r", ".", {}},
      {"/data/@x", ".", {}},
      {"/data//", ". + a:", {}},
      {"/data/zz@x", ". + a:", {missing("/data/zz@x", "None"), missing("/data/zz@x/", "None")}},
      {"/data//q", "..", {}},
      {"/data//q", ".", {missing("/data//q", "/data/q")}},
      {"/",
       ".",
       {missing("/", "a path under /data \u2014 that is this form's instance root, not /")}},
      {"/data/rep/name", "../../q + /data/group/age/.. + ../../../../x", {}},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string(c.bind) + " " + c.expr);
    const auto expr = xpath::parse_expression(c.expr);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    std::vector<CompatIssue> issues;
    check_instance_paths(*expr, c.bind, known, secondary, issues);
    std::vector<std::string> described;
    for (const CompatIssue& issue : issues) described.push_back(describe(issue));
    EXPECT_EQ(described, c.issues);
  }
}

using test_support::repeat;

TEST(CompatWalks, DeepestAcceptedTreesAreSafe) {
  const tree::Document doc = instance({{"q"}});
  const KnownPaths known(doc, *doc.root());
  // Find the deepest nesting of each shape that the parser accepts, then walk it.
  const struct {
    const char* open;
    const char* inner;
    const char* close;
  } shapes[] = {
      {"(", "/data/m", ")"}, {"floor(", "/data/m", ")"},    {"/data/q[", "/data/m", "]"},
      {"-", "/data/m", ""},  {"(/data/q)[", "last()", "]"},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.open);
    int low = 1, high = 4 * xpath::kMaxExprDepth;
    while (low < high) {
      const int mid = (low + high + 1) / 2;
      const std::string text = repeat(shape.open, mid) + shape.inner + repeat(shape.close, mid);
      if (xpath::parse_expression(text))
        low = mid;
      else
        high = mid - 1;
    }
    const std::string text = repeat(shape.open, low) + shape.inner + repeat(shape.close, low);
    const auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value());
    std::vector<CompatIssue> issues;
    check_expression(*expr, {}, "/data/q", issues);
    check_instance_paths(*expr, "/data/q", known, {}, issues);
    EXPECT_FALSE(issues.empty());
  }
}

}  // namespace
}  // namespace tovarn::compat::detail
