#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "form/paths.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::form {
namespace {

std::string joined(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) out += (out.empty() ? "" : " ") + p;
  return out;
}

TEST(PathsRead, AgainstBase) {
  // "~": names more than it reads; "#": only its nodes count.
  struct Case {
    const char* expression;
    const char* base;
    const char* paths;  // space-separated
  } cases[] = {
      {"../b", "/data/a", "/data/b"},
      {".", "/data/a", "/data/a"},
      {"b", "/data/a", "/data/a/b"},
      {"/data/x", "/data/a", "/data/x"},
      {"/data/x", "anything", "/data/x"},
      {"/model/data/x", "/data/a", "/data/x"},
      {"/jr:data/h:q", "/x", "/data/q"},
      {"../../..", "/data/a", ""},
      {"..", "/data", "/"},
      {"/", "/data/a", "/"},
      {"@id", "/data/a", "/data/a/@id"},
      {"/data/q/@*", "/data/a", "~/data/q/@*"},
      {"@id/x", "/data/a", ""},
      {"//q", "/data/a", "~//q"},
      {"/data//q", "/data/a", "~/data//q"},
      {"/data/*", "/data/a", "~/data/*"},
      {"descendant::q", "/data/a", "~/data/a//q"},
      {"descendant-or-self::node()", "/data/a", "~/data/a//"},
      {"following-sibling::q", "/data/a", "~/data/q"},
      {"preceding-sibling::*", "/data/a", "~/data/*"},
      {"preceding::v", "/data/a", "~//v"},
      {"parent::x", "/data/a", "/data"},
      {"self::y", "/data/a", "/data/a"},
      {"ancestor::data/v", "/data/g/a", "/data/v"},
      {"ancestor-or-self::a/b", "/data/a", "/data/a/b"},
      {"ancestor::g/v", "/data/g/x/g/a", "~/data/g//v"},
      {"ancestor::*", "/data/a", "~//"},
      {"ancestor::nosuch", "/data/a", ""},
      {"//x/ancestor::g/v", "/data/a", "~//v"},
      {"/data//ancestor::g/v", "/data/a", "~/data//v"},
      {"/data/r[age >= 18]", "/data/adults", "/data/r/age /data/r"},
      {"count(/data/member[age >= 18])", "/data/adults", "/data/member/age #/data/member"},
      {"/data/a/q[../b = 1]/r", "/data/x", "/data/a/b /data/a/q/r"},
      {"/data/r[1]/x[. = /data/y]", "/data/a", "/data/r/x /data/y /data/r/x"},
      {"//q[../b]", "/data/a", "~//q"},
      {"count(/data/r) + /data/x", "/data/a", "#/data/r /data/x"},
      {"not(/data/x) or boolean(../y)", "/data/a", "#/data/x #/data/y"},
      {"if(/data/c, /data/t, /data/f)", "/data/a", "#/data/c /data/t /data/f"},
      {"count(if(/data/c, /data/t, //f))", "/data/a", "#/data/c #/data/t"},
      {"name(/data/*)", "/data/a", ""},
      {"sum(/data/*/v)", "/data/t", "~/data/*/v"},
      {"sum(//v)", "/data/t", "~//v"},
      {"string(/data/g)", "/data/t", "/data/g"},
      {"concat(following-sibling::v, '!')", "/data/a", "~/data/v"},
      {"string-length()", "/data/a", "/data/a"},
      {"/data/x + /data/x", "/data/a", "/data/x /data/x"},
      {"-/data/x", "/data/a", "/data/x"},
      {"/data/x | /data/y", "/data/a", "/data/x /data/y"},
      {"instance('cities')/root/item[name = /data/city]", "/data/a",
       "/instance('cities')/root/item/name /data/city /instance('cities')/root/item"},
      {"(/data/x)[1]/y", "/data/a", "/data/x/y"},
      {"(/data/x)[. > 1]", "/data/a", "/data/x /data/x"},
      {"(/data/a | /data/b)/c", "/data/a", "#/data/a #/data/b ~//c"},
      {"'x'", "/data/a", ""},
      {"3", "/data/a", ""},
      {"$v", "/data/a", ""},
      {"today()", "/data/a", ""},
      {"c", "data/q", "/data/q/c"},
      {"c", "/data/q/", "~//c"},
      {"..", "/data/q/", "~//"},
      {"c", "q", "/q/c"},
      {"c", " /data/q", "/data/q/c"},
      {"c", "/data/r[k = 1]/q", "/data/r/q/c"},
      {"c", "/data/q/@id", ""},
      {"../c", "/data/q/@id", "/data/q/c"},
      {"c", "instance('t')/root/x", "/instance('t')/root/x/c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.expression) + " at " + c.base);
    auto expr = xpath::parse_expression(c.expression);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    EXPECT_EQ(joined(paths_read(*expr, c.base)), c.paths);
  }
}

}  // namespace
}  // namespace tovarn::form

namespace tovarn::form {
namespace {

using test_support::repeat;

TEST(PathsRead, DeepestParsedExpression) {
  // Nesting near the parser's limit: the walk recurses once per level.
  for (const char* open : {"f(", "-(", "/a[", "(/b | "}) {
    SCOPED_TRACE(open);
    std::string close = open[0] == '/' ? "]" : ")";
    int depth = xpath::kMaxExprDepth / 4;
    auto expr = xpath::parse_expression(repeat(open, depth) + "/d/x" + repeat(close, depth));
    ASSERT_TRUE(expr.has_value()) << expr.error();
    std::vector<std::string> paths = paths_read(*expr, "/d/y");
    EXPECT_TRUE(std::any_of(paths.begin(), paths.end(),
                            [](const std::string& p) { return p.ends_with("/d/x"); }));
  }
}

}  // namespace
}  // namespace tovarn::form
