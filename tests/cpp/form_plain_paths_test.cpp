#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form/detail/child_index.h"
#include "form/detail/plain_paths.h"
#include "tree/xml.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::form::detail {
namespace {

class PlainPathsOf : public ::testing::TestWithParam<bool> {};

// All paths resolved together give what each gives evaluated alone, shared
// prefixes, repeated rows, the root's own name and nodesets written with
// spaces (plain only once parsed) included; in a plain document, and in a
// model document whose trees are held side by side.
TEST_P(PlainPathsOf, SelectWhatTheEvaluatorSelects) {
  auto doc = tree::parse_xml(test_support::rows_and_instances());
  ASSERT_TRUE(doc.has_value()) << doc.error();
  if (GetParam()) doc->hold_trees(doc->first_child(*doc->root()));
  const char* nodesets[] = {
      "/data",         "/model",       "/model/data",  "/data/q",          "/data/r/q",
      "/model/data/r", "/data/model",  "/data/g/r/q",  "/data/r/s",        "/instance/root/item",
      "/data/none",    "/data/q/q",    "/model/model", "/model/data/q/x",  "/data/r/q/q",
      "/data/r/q",     " /data/r/s ",  "/data/ g",     "/data/r[1]/q",     "data/q",
      "/data/*",       "/",            "/none/q",      "/data/r/q/q/q",    "/model/instance",
  };
  std::vector<Bind> binds;
  xpath::ExprArena arena;
  for (const char* text : nodesets) {
    Bind& bind = binds.emplace_back();
    bind.nodeset = text;
    bind.nodeset_plain = is_plain_child_path(text);
    if (!bind.nodeset_plain)
      if (auto path = xpath::parse_expression(text, arena)) bind.nodeset_path = *path;
  }
  PlainPaths plain(binds, *doc);
  xpath::Clock clock("", "");
  for (std::size_t b = 0; b < binds.size(); ++b) {
    SCOPED_TRACE(nodesets[b]);
    auto expr = xpath::parse_expression(binds[b].nodeset);
    ASSERT_TRUE(expr.has_value());
    const bool expected_plain = ChildIndex(*doc).select(*expr).has_value();
    ASSERT_EQ(plain.covers(b), expected_plain);
    if (!expected_plain) continue;
    auto value = xpath::evaluate(*expr, *doc, {*doc->root(), 1, 1}, clock);
    ASSERT_TRUE(value.has_value()) << value.error();
    auto got = plain.of(b);
    EXPECT_EQ(std::vector<tree::NodeId>(got.begin(), got.end()),
              std::get<xpath::NodeSet>(*value).ids);
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, PlainPathsOf, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Held" : "Plain"; });

}  // namespace
}  // namespace tovarn::form::detail
