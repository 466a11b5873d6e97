#include <gtest/gtest.h>

#include <string>

#include "form/detail/child_index.h"
#include "tree/xml.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::form::detail {
namespace {

class ChildIndexOf : public ::testing::TestWithParam<bool> {};

// As a plain document, and as a model document whose trees are held side by
// side, where absolute paths start at the first tree's root.
TEST_P(ChildIndexOf, SelectsWhatTheEvaluatorSelects) {
  auto doc = tree::parse_xml(test_support::rows_and_instances());
  ASSERT_TRUE(doc.has_value()) << doc.error();
  if (GetParam()) doc->hold_trees(doc->first_child(*doc->root()));
  xpath::Clock clock("", "");
  const char* plain[] = {
      "/data",          "/model",        "/model/data",   "/data/q",         "/data/r/q",
      "/model/data/r",  "/data/model",   "/data/g/r/q",   "/data/r/s",       "/instance/root/item",
      "/data/none",     "/data/q/q",     "/model/model",  "/model/data/q/x", "/data/r/q/q",
  };
  for (const char* text : plain) {
    SCOPED_TRACE(text);
    auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value());
    ChildIndex index(*doc);
    auto fast = index.select(*expr);
    ASSERT_TRUE(fast.has_value());
    auto value = xpath::evaluate(*expr, *doc, {*doc->root(), 1, 1}, clock);
    ASSERT_TRUE(value.has_value()) << value.error();
    EXPECT_EQ(*fast, std::get<xpath::NodeSet>(*value).ids);
    // A second lookup goes through the index built by the first.
    EXPECT_EQ(index.select(*expr), fast);
    ASSERT_TRUE(is_plain_child_path(text));
    EXPECT_EQ(index.select_plain(text), *fast);
  }
  for (const char* text : {"data/q", "/data/@q", "/data/*", "//q", "/data/r[1]/q", "/data/./q",
                           "/data/../data", "/", "instance('x')/root"}) {
    SCOPED_TRACE(text);
    auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value());
    EXPECT_FALSE(ChildIndex(*doc).select(*expr).has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, ChildIndexOf, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Held" : "Plain"; });

TEST(ChildIndex, PlainTextsParseAsChildSteps) {
  for (const char* text : {"/data", "/data/q", "/a_b/C-1/x.y/_/div/or/node/text", "/e3/q-", "/a./b"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(is_plain_child_path(text));
    auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    const auto* path = std::get_if<xpath::Expr::LocationPath>(&expr->node);
    ASSERT_NE(path, nullptr);
    EXPECT_TRUE(path->absolute);
    std::string joined;
    for (const xpath::Step& step : path->steps) {
      EXPECT_EQ(step.axis, xpath::Axis::child);
      EXPECT_TRUE(step.predicates.empty());
      ASSERT_TRUE(step.name_test.has_value());
      joined += "/";
      joined += *step.name_test;
    }
    EXPECT_EQ(joined, text);
  }
  for (const char* text : {"", "/", " /data/q", "/data/q ", "/data/q/", "data/q", "/data//q",
                           "/jr:data", "/data/1q", "/data/.q", "/da ta", "/data/q[1]", "/data/*",
                           "/data/@q", "/\xc3\xa9", "/data/q()", "/data|/q"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(is_plain_child_path(text));
  }
}

}  // namespace
}  // namespace tovarn::form::detail
