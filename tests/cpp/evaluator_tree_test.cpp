// The evaluator over hand-built expression trees: documents of other ids, deep
// nesting and the pieces of location paths, which expression texts cannot
// reach directly.

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xpath/detail/location.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::xpath {
namespace {

using tree::Document;
using tree::NodeId;

// Every tree of this file lives as long as the tests.
ExprArena& arena() {
  static ExprArena trees;
  return trees;
}
template <typename... E>
std::span<const Expr> exprs(E&&... e) {
  const std::array<Expr, sizeof...(E)> items{std::forward<E>(e)...};
  return arena().copy(std::span<const Expr>(items));
}
template <typename... S>
std::span<const Step> steps(S&&... s) {
  const std::array<Step, sizeof...(S)> items{std::forward<S>(s)...};
  return arena().copy(std::span<const Step>(items));
}
const Expr* own(const Expr& e) { return arena().make(e); }
Expr num(double v) { return Expr{Expr::Number{v}}; }
Expr lit(std::string_view s) { return Expr{Expr::Literal{arena().copy(s)}}; }
Step step(Axis axis, std::optional<std::string_view> name,
          std::span<const Expr> predicates = {}) {
  if (name) name = arena().copy(*name);
  return Step{axis, NodeType::node, name, predicates};
}
Step child(std::string_view name, std::span<const Expr> predicates = {}) {
  return step(Axis::child, name, predicates);
}
Expr path(bool absolute, std::span<const Step> s) { return Expr{Expr::LocationPath{absolute, s}}; }
Expr call(std::string_view name, std::span<const Expr> args = {}) {
  return Expr{Expr::FunctionCall{arena().copy(name), args}};
}
Expr filter(const Expr& primary, std::span<const Expr> predicates, std::span<const Step> s) {
  return Expr{Expr::FilterPath{own(primary), predicates, s}};
}
Expr binary(BinaryOp op, const Expr& l, const Expr& r) {
  return Expr{Expr::Binary{op, own(l), own(r)}};
}
Expr union_of(const Expr& l, const Expr& r) { return Expr{Expr::Union{own(l), own(r)}}; }

// "name" per node, "@name" for attributes, space separated.
std::string show(const EvalResult& r) {
  if (!r) return "error: " + r.error();
  const auto* set = std::get_if<NodeSet>(&*r);
  if (set == nullptr) return value_to_string(*r);
  std::string out = "{";
  for (NodeId id : set->ids) {
    if (out.size() > 1) out += ' ';
    if (set->document->is_attribute(id)) out += '@';
    out += set->document->name(id);
    if (!set->document->text(id).empty()) {
      out += '=';
      out += set->document->text(id);
    }
  }
  return out + "}";
}

// An environment that serves documents by id.
class Instances final : public Environment {
 public:
  std::vector<std::pair<std::string, const Document*>> served;
  const Document* instance(std::string_view id) const override {
    for (const auto& [name, doc] : served) {
      if (name == id) return doc;
    }
    return nullptr;
  }
  std::optional<std::string> choice_label(std::string_view, std::string_view) const override {
    return std::nullopt;
  }
  std::string_view today() const override { return "2024-05-01"; }
  std::string_view now() const override { return "2024-05-01T10:00:00Z"; }
};

NodeId add(Document& doc, NodeId parent, const char* name, const char* text = "") {
  NodeId id = doc.new_element(name, text);
  doc.append_child(parent, id);
  return id;
}

TEST(EvaluateTree, InstanceFromTheEnvironmentReadsItsOwnDocument) {
  // The main document's ids 0..2 are data, q, q; the list's are root, item,
  // item with other names and texts, so a misread id shows.
  Document main;
  NodeId data = main.new_element("data", "");
  main.set_root(data);
  add(main, data, "q", "1");
  add(main, data, "q", "b");
  main.reindex_document_order();

  Document list;
  NodeId root = list.new_element("root", "");
  list.set_root(root);
  NodeId a = add(list, root, "item", "");
  add(list, a, "name", "a");
  NodeId b = add(list, root, "item", "");
  add(list, b, "name", "b");
  list.reindex_document_order();

  Document empty;
  Instances env;
  env.served = {{"list", &list}, {"empty", &empty}};

  auto instance = [](const char* id) { return call("instance", exprs(lit(id))); };
  struct Case {
    const char* name;
    Expr expr;
    const char* expected;
  };
  Case cases[] = {
      {"the root of the served document", filter(instance("list"), {}, {}), "{root}"},
      {"steps run in the served document",
       filter(instance("list"), {}, steps(child("item"), child("name"))), "{name=a name=b}"},
      {"predicates read the served document",
       filter(instance("list"), {},
              steps(child("item",
                          exprs(binary(BinaryOp::eq, path(false, steps(child("name"))), lit("b")))),
                    child("name"))),
       "{name=b}"},
      {"an absolute path inside a predicate reads the served document",
       filter(instance("list"), {}, steps(child("item", exprs(path(true, steps(child("root"))))))),
       "{item item}"},
      {"a served document without root", filter(instance("empty"), {}, steps(child("item"))), "{}"},
      {"not loaded", filter(instance("nope"), {}, steps(child("a"))),
       "error: instance('nope') is not loaded \u2014 the form expects a secondary instance the "
       "evaluator was not given"},
      {"no id", filter(call("instance"), {}, steps(child("a"))), "error: instance() needs an id"},
      {"the id is not trimmed", filter(instance(" list"), {}, {}),
       "error: instance(' list') is not loaded \u2014 the form expects a secondary instance the "
       "evaluator was not given"},
      {"a computed id", filter(call("instance", exprs(path(false, steps(child("q"))))), {}, {}),
       "error: instance('1') is not loaded \u2014 the form expects a secondary instance the "
       "evaluator was not given"},
      {"comparison across documents",
       binary(BinaryOp::eq, path(true, steps(child("data"), child("q"))),
              filter(instance("list"), {}, steps(child("item"), child("name")))),
       "true"},
      {"arithmetic across documents",
       binary(BinaryOp::add, path(true, steps(child("data"), child("q"))),
              filter(instance("list"), {}, steps(child("item"), child("name")))),
       "NaN"},
      {"a union mixing documents",
       union_of(path(true, steps(child("data"))),
                filter(instance("list"), {}, steps(child("item")))),
       "error: union needs nodes of one document, got nodes of two"},
      {"a union with an empty side of another document",
       union_of(path(true, steps(child("nothing"))),
                filter(instance("list"), {}, steps(child("item")))),
       "{item item}"},
      {"a union within the served document",
       union_of(filter(instance("list"), {}, steps(child("item", exprs(num(2))))),
                filter(instance("list"), {}, steps(child("item", exprs(num(1)))))),
       "{item item}"},
      {"a parenthesised instance path filtered again",
       filter(filter(instance("list"), {}, steps(child("item"))), exprs(num(2)),
              steps(child("name"))),
       "{name=b}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(show(evaluate(c.expr, main, EvalContext{data}, env)), c.expected);
  }
}

TEST(EvaluateTree, InstanceElementOfTheEvaluatedDocumentComesFirst) {
  Document model;
  NodeId m = model.new_element("model", "");
  model.set_root(m);
  NodeId inst = add(model, m, "instance");
  model.add_attribute(inst, "id", "other");
  model.add_attribute(inst, "id", "list");
  NodeId root = add(model, inst, "root");
  add(model, root, "item", "here");
  model.reindex_document_order();

  Document served;
  NodeId sroot = served.new_element("root", "");
  served.set_root(sroot);
  add(served, sroot, "item", "there");
  served.reindex_document_order();
  Instances env;
  env.served = {{"list", &served}};

  Expr e = filter(call("instance", exprs(lit("list"))), {}, steps(child("root"), child("item")));
  EXPECT_EQ(show(evaluate(e, model, EvalContext{m}, env)), "{item=here}");
  EXPECT_EQ(find_instance_element(model, "list"), inst);
  EXPECT_EQ(find_instance_element(model, "root"), std::nullopt);
}

TEST(EvaluateTree, DeepestNestingRuns) {
  // Nested predicates .[.[.[...]]], each evaluated at the same node, and a
  // chain of negations, each as deep as the parser accepts.
  Document doc;
  NodeId a = doc.new_element("a", "");
  doc.set_root(a);
  add(doc, a, "a", "2");
  doc.reindex_document_order();
  Clock clock("", "");

  Expr nested = path(false, steps(child("a")));
  for (int i = 1; i < kMaxExprDepth; ++i) {
    nested = path(false, steps(step(Axis::self, std::nullopt, exprs(std::move(nested)))));
  }
  EXPECT_EQ(show(evaluate(nested, doc, EvalContext{a}, clock)), "{a}");

  Expr negations = path(false, steps(child("a")));
  for (int i = 1; i < kMaxExprDepth; ++i) negations = Expr{Expr::Negate{own(std::move(negations))}};
  EXPECT_EQ(show(evaluate(negations, doc, EvalContext{a}, clock)), "-2");
}

// Paths from the rule node, which the form logic makes for paths that read
// a row: <d><r><v>1</v><k/></r><r><v>2</v><k/></r><s><t>1</t><t>2</t></s></d>.
TEST(EvaluateTree, PathsFromTheRuleNode) {
  Document doc;
  NodeId d = doc.new_element("d", "");
  doc.set_root(d);
  NodeId k[2];
  for (int i = 0; i < 2; ++i) {
    NodeId r = add(doc, d, "r");
    add(doc, r, "v", i == 0 ? "1" : "2");
    k[i] = add(doc, r, "k");
  }
  NodeId s = add(doc, d, "s");
  add(doc, s, "t", "1");
  add(doc, s, "t", "2");
  doc.reindex_document_order();
  Document other = doc;
  Clock clock("", "");

  // ../v from the rule node, within a predicate over other nodes.
  const Expr row_v = Expr{Expr::LocationPath{false, steps(step(Axis::parent, std::nullopt), child("v")), true}};
  const Expr same = binary(BinaryOp::eq, path(false, steps(step(Axis::self, std::nullopt))), row_v);
  const Expr t_of_row =
      call("string", exprs(path(true, steps(child("d"), child("s"), child("t", exprs(same))))));
  // Walked rather than listed: the walk starts at the rule node too.
  const Expr walked = binary(BinaryOp::eq, row_v, lit("2"));
  const struct {
    const Expr* expr;
    const char* at_first;
    const char* at_second;
  } cases[] = {
      {&t_of_row, "1", "2"},
      {&row_v, "{v=1}", "{v=2}"},
      {&walked, "false", "true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at_second);
    // At the root, as choice lists are read; within one pass, whose memo must
    // not keep the value of a part that reads the rule node.
    PassMemo memo(*c.expr, 2);
    EXPECT_EQ(show(evaluate_for(*c.expr, doc, EvalContext{d}, k[0], clock)), c.at_first);
    EXPECT_EQ(show(evaluate_for(*c.expr, doc, EvalContext{d}, k[1], clock)), c.at_second);
  }
  // Without a rule node, or in a document the environment serves, nothing is
  // there.
  EXPECT_EQ(show(evaluate(t_of_row, doc, EvalContext{k[1]}, clock)), "");
  EXPECT_EQ(show(evaluate(row_v, doc, EvalContext{k[1]}, clock)), "{}");
  Instances served;
  served.served.emplace_back("x", &other);
  const Expr in_other = call(
      "count", exprs(filter(call("instance", exprs(lit("x"))), {},
                            steps(child("s"), child("t", exprs(same))))));
  EXPECT_EQ(show(evaluate_for(in_other, doc, EvalContext{d}, k[1], served)), "0");
}

// <r><a><b/><c x="1"/></a><d/></r>, plus a detached e with a child f.
struct AxisFixture {
  Document doc;
  NodeId r, a, b, c, x, d, e, f;
  AxisFixture() {
    r = doc.new_element("r", "");
    doc.set_root(r);
    a = add(doc, r, "a");
    b = add(doc, a, "b");
    c = add(doc, a, "c");
    doc.add_attribute(c, "x", "1");
    x = NodeId{static_cast<std::uint32_t>(doc.size() - 1)};
    d = add(doc, r, "d");
    e = doc.new_element("e", "");
    f = add(doc, e, "f");
    doc.reindex_document_order();
  }
};

TEST(FollowingPrecedingFilter, Table) {
  AxisFixture fx;
  struct Case {
    const char* name;
    Axis axis;
    NodeId context;
    NodeId candidate;
    bool expected;
  };
  const Case cases[] = {
      {"a later element", Axis::following, fx.b, fx.d, true},
      {"a later sibling", Axis::following, fx.b, fx.c, true},
      {"a descendant is not following", Axis::following, fx.a, fx.b, false},
      {"the owner's descendants follow an attribute", Axis::following, fx.x, fx.d, true},
      {"an earlier element", Axis::preceding, fx.d, fx.b, true},
      {"an ancestor is not preceding", Axis::preceding, fx.c, fx.a, false},
      {"an attribute's owner is not preceding", Axis::preceding, fx.x, fx.c, false},
      {"an element before the owner precedes", Axis::preceding, fx.x, fx.b, true},
      {"everything indexed precedes an unindexed node", Axis::preceding, fx.f, fx.d, true},
      {"nothing follows an unindexed node", Axis::following, fx.f, fx.d, false},
      {"an unindexed candidate", Axis::following, fx.b, fx.e, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(detail::following_preceding_filter(fx.doc, c.axis, c.context,
                                                 fx.doc.order_position(c.context), c.candidate),
              c.expected);
  }
}

TEST(EvalStep, AxesOfDetachedNodes) {
  AxisFixture fx;
  Clock clock("", "");
  struct Case {
    Axis axis;
    NodeId from;
    std::vector<NodeId> expected;
  };
  const Case cases[] = {
      {Axis::descendant, fx.e, {fx.f}},    {Axis::descendant_or_self, fx.e, {fx.e, fx.f}},
      {Axis::ancestor, fx.f, {fx.e}},      {Axis::following_sibling, fx.e, {}},
      {Axis::preceding_sibling, fx.e, {}}, {Axis::preceding, fx.f, {fx.r, fx.a, fx.b, fx.c, fx.d}},
      {Axis::following, fx.f, {}},         {Axis::preceding, fx.e, {fx.r, fx.a, fx.b, fx.c, fx.d}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.axis));
    auto r = detail::eval_step({c.from}, step(c.axis, std::nullopt), fx.doc, clock);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, c.expected);
  }
}

TEST(WalkedComparison, NodesOutsideTheOrderAgreeWithTheListedPath) {
  // Indexed nodes, a subtree linked after the last rebuild (outside the
  // order, walked by its links), a detached one, and an id of no node.
  Document doc;
  NodeId r = doc.new_element("r", "");
  doc.set_root(r);
  NodeId a = add(doc, r, "a", "1");
  add(doc, a, "b", "x");
  NodeId c = add(doc, a, "c", "1");
  doc.add_attribute(c, "x", "1");
  add(doc, r, "d", "x");
  doc.reindex_document_order();
  NodeId g = add(doc, r, "g");
  NodeId h = add(doc, g, "h", "x");
  add(doc, h, "k", "1");
  NodeId e = doc.new_element("e", "");
  add(doc, e, "f", "x");
  Clock clock("", "");
  // {path} is walked; (path)[true()] is listed.
  const char* cases[] = {
      "{.//*} = 'x'", "{descendant::*} = '1'", "{descendant-or-self::*} != 'x'", "{*} = 'x'",
      "{../*} = .", "{preceding-sibling::*} = 'x'", "{following-sibling::*/*} = 'x'",
      "{ancestor::*} = ''", "{preceding::*} = 'x'", "{following::*} = '1'", "{@x} = 1",
      "{.} = 'x'", "{//*} = 'x'", "{/r/*} = .", "{../*/*} = 1", "{*/*} = true()",
  };
  std::vector<NodeId> contexts{NodeId{999}};
  for (std::uint32_t i = 0; i < doc.size(); ++i) contexts.push_back(NodeId{i});
  for (const char* text : cases) {
    std::string walked, listed;
    for (const char* p = text; *p; ++p) {
      walked += *p == '{' || *p == '}' ? std::string() : std::string(1, *p);
      listed += *p == '{' ? std::string("(") : *p == '}' ? std::string(")[true()]") : std::string(1, *p);
    }
    auto w = parse_expression(walked);
    auto l = parse_expression(listed);
    ASSERT_TRUE(w && l) << text;
    for (NodeId at : contexts) {
      SCOPED_TRACE(std::string(text) + " at " + std::to_string(index_of(at)));
      EXPECT_EQ(show(evaluate(*w, doc, EvalContext{at}, clock)),
                show(evaluate(*l, doc, EvalContext{at}, clock)));
    }
  }
}

TEST(EvalStep, ForeignIdsSelectNothing) {
  AxisFixture fx;
  Clock clock("", "");
  for (Axis axis : {Axis::child, Axis::self, Axis::descendant, Axis::following}) {
    auto r = detail::eval_step({NodeId{999}}, step(axis, std::nullopt), fx.doc, clock);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->empty());
  }
}

TEST(ApplyPredicates, PositionsCountAnewForEachPredicate) {
  AxisFixture fx;
  Clock clock("", "");
  // Those with children are r and a; the second of them is a.
  auto r = detail::apply_predicates(
      {fx.r, fx.b, fx.a, fx.d}, exprs(path(false, steps(step(Axis::child, std::nullopt))), num(2)),
      fx.doc, clock);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, std::vector<NodeId>{fx.a});
  auto s = detail::apply_predicates(
      {fx.b, fx.c, fx.d}, exprs(binary(BinaryOp::ne, num(1), num(0)), num(3)), fx.doc, clock);
  ASSERT_TRUE(s);
  EXPECT_EQ(*s, std::vector<NodeId>{fx.d});
}

}  // namespace
}  // namespace tovarn::xpath

namespace tovarn::xpath {
namespace {

// The union of an axis over a list, built with its shortcuts, is the sorted
// union of each node's own axis list.
TEST(EvalStep, UnionOverAListMatchesEachNodeAlone) {
  Document doc;
  NodeId root = doc.new_element("r", "");
  doc.set_root(root);
  std::vector<NodeId> all{root};
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int i = 0; i < 300; ++i) {
    NodeId parent = all[next() % all.size()];
    if (doc.is_attribute(parent)) continue;
    if (next() % 4 == 0) {
      doc.add_attribute(parent, next() % 2 ? "a" : "b", "");
      all.push_back(NodeId{static_cast<std::uint32_t>(doc.size() - 1)});
    } else {
      all.push_back(add(doc, parent, next() % 2 ? "a" : "b"));
    }
  }
  doc.reindex_document_order();
  NodeId grafted = add(doc, all[3], "a");  // after the rebuild: unindexed
  all.push_back(grafted);

  std::vector<std::vector<NodeId>> lists{all};
  for (int k = 0; k < 20; ++k) {
    std::vector<NodeId> list;
    for (std::size_t n = next() % 40; n > 0; --n) list.push_back(all[next() % all.size()]);
    sort_document_order(list, doc);
    lists.push_back(list);
  }
  Clock clock("", "");
  for (int a = 0; a <= static_cast<int>(Axis::preceding_sibling); ++a) {
    const Axis axis = static_cast<Axis>(a);
    for (const std::optional<std::string>& name : {std::optional<std::string>{}, {"a"}}) {
      for (const auto& list : lists) {
        SCOPED_TRACE(testing::Message() << "axis " << a << " list of " << list.size());
        std::vector<NodeId> expected;
        for (NodeId n : list) detail::collect_axis(doc, axis, n, name, expected);
        sort_document_order(expected, doc);
        auto r = detail::eval_step(list, step(axis, name), doc, clock);
        ASSERT_TRUE(r);
        EXPECT_EQ(*r, expected);
      }
    }
  }
}

}  // namespace
}  // namespace tovarn::xpath
