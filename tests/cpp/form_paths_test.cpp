#include <gtest/gtest.h>

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
      {"../../..", "/data/a", ""},
      {"..", "/data", ""},
      {"/", "/data/a", ""},
      {"@id", "/data/a", ""},
      {"/data/q/@id", "/data/a", ""},
      {"//q", "/data/a", ""},
      {"/data//q", "/data/a", ""},
      {"/data/*", "/data/a", ""},
      {"descendant::q", "/data/a", ""},
      {"following-sibling::q", "/data/a", ""},
      {"parent::x", "/data/a", "/data"},
      {"self::y", "/data/a", "/data/a"},
      {"/data/a[../b = 1]", "/data/a", "/data/a /data/b"},
      {"/data/a/q[../b = 1]/r", "/data/a", "/data/a/q/r /data/b"},
      {"//q[../b]", "/data/a", "/data/b"},
      {"count(/data/r) + /data/x", "/data/a", "/data/r /data/x"},
      {"/data/x + /data/x", "/data/a", "/data/x /data/x"},
      {"-/data/x", "/data/a", "/data/x"},
      {"/data/x | /data/y", "/data/a", "/data/x /data/y"},
      {"instance('cities')/root/item[name = /data/city]", "/data/a", "/data/a/name /data/city"},
      {"(/data/x)[1]/y", "/data/a", "/data/x"},
      {"'x'", "/data/a", ""},
      {"3", "/data/a", ""},
      {"$v", "/data/a", ""},
      {"today()", "/data/a", ""},
      {"c", "data/q", "/q/c"},
      {"c", "/data/q/", "/data/q//c"},
      {"..", "/data/q/", "/data/q"},
      {"c", "q", "/c"},
      {"c", " /data/q", "/data/q/c"},
      {"/jr:data/h:q", "/x", "/data/q"},
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
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.back(), "/d/x");
  }
}

}  // namespace
}  // namespace tovarn::form
