// Node-sets that a secondary instance yields carry their own document; the
// function library must read their ids there, not in the evaluated document,
// where the same ids name other nodes.

#include <gtest/gtest.h>

#include <string>

#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"

namespace tovarn::xpath {
namespace {

class TableEnvironment final : public Environment {
 public:
  explicit TableEnvironment(tree::Document table) : table_(std::move(table)) {}
  const tree::Document* instance(std::string_view id) const override {
    return id == "t" ? &table_ : nullptr;
  }
  std::optional<std::string> choice_label(std::string_view, std::string_view) const override {
    return std::nullopt;
  }
  std::string_view today() const override { return "2024-01-01"; }
  std::string_view now() const override { return "2024-01-01T00:00:00Z"; }

 private:
  tree::Document table_;
};

struct Case {
  const char* expression;
  const char* expected;
};

TEST(FunctionsOnSecondaryInstance, ReadNodesInTheirOwnDocument) {
  static const Case kCases[] = {
      {"count(instance('t')/item)", "2"},
      {"sum(instance('t')/item)", "3"},
      {"max(instance('t')/item)", "2"},
      {"min(5, instance('t')/item)", "1"},
      {"name(instance('t')/item)", "item"},
      {"local-name(instance('t')/*[2])", "item"},
      {"concat(instance('t')/item)", "12"},
      {"concat(instance('t')/item, '|')", "1|"},
      {"join('+', instance('t')/item)", "1+2"},
      {"coalesce(instance('t')/item, 'none')", "1"},
      {"selected(instance('t')/item[2], '2')", "true"},
  };
  auto table = tree::parse_xml("<root><item>1</item><item>2</item></root>");
  ASSERT_TRUE(table) << table.error();
  auto doc = tree::parse_xml("<data><q>9</q><r>8</r></data>");
  ASSERT_TRUE(doc) << doc.error();
  const TableEnvironment env(std::move(*table));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.expression);
    auto expr = parse_expression(c.expression);
    ASSERT_TRUE(expr) << expr.error();
    EvalResult value = evaluate(*expr, *doc, EvalContext{*doc->root(), 1, 1}, env);
    ASSERT_TRUE(value) << value.error();
    EXPECT_EQ(value_to_string(*value), c.expected);
  }
}

}  // namespace
}  // namespace tovarn::xpath
