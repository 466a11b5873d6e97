// Node-sets that a secondary instance yields carry their own document; the
// function library must read their ids there, not in the evaluated document,
// where the same ids name other nodes.

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

// Calls nested as deep as the parser accepts, built without the parser so the
// evaluation alone is measured: each level costs call_function, the function
// and eval_arg on the stack, and must fit even with sanitizer-sized frames.
using Args = std::span<const Expr> (*)(ExprArena& arena, const Expr& inner);

Expr nested_calls(ExprArena& arena, const char* name, int depth, Args args) {
  Expr e{Expr::Number{1}};
  for (int i = 0; i < depth; ++i) e = Expr{Expr::FunctionCall{name, args(arena, e)}};
  return e;
}

template <std::size_t N>
std::span<const Expr> list(ExprArena& arena, const std::array<Expr, N>& items) {
  return arena.copy(std::span<const Expr>(items));
}

std::span<const Expr> alone(ExprArena& arena, const Expr& inner) {
  return list<1>(arena, {inner});
}

std::span<const Expr> with_one_after(ExprArena& arena, const Expr& inner) {
  return list<2>(arena, {inner, Expr{Expr::Number{1}}});
}

std::span<const Expr> as_if_branch(ExprArena& arena, const Expr& inner) {
  return list<3>(arena, {Expr{Expr::FunctionCall{"true", {}}}, inner, Expr{Expr::Literal{"no"}}});
}

TEST(FunctionsNestedDeep, EvaluateAtTheParserDepthLimit) {
  struct Deep {
    const char* name;
    Args args;
    const char* expected;
  };
  static const Deep kCases[] = {
      {"not", alone, "true"},
      {"concat", alone, "1"},
      {"round", alone, "1"},
      {"string-length", alone, "1"},
      {"substring", with_one_after, "1"},
      {"max", with_one_after, "1"},
      {"if", as_if_branch, "1"},
  };
  auto doc = tree::parse_xml("<data/>");
  ASSERT_TRUE(doc) << doc.error();
  const Clock clock("2024-01-01", "2024-01-01T00:00:00Z");
  for (const Deep& c : kCases) {
    SCOPED_TRACE(c.name);
    ExprArena arena;
    const Expr expr = nested_calls(arena, c.name, kMaxExprDepth, c.args);
    EvalResult value = evaluate(expr, *doc, EvalContext{*doc->root(), 1, 1}, clock);
    ASSERT_TRUE(value) << value.error();
    EXPECT_EQ(value_to_string(*value), c.expected);
  }
}

}  // namespace
}  // namespace tovarn::xpath
