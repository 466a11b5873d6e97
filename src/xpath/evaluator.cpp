#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <variant>

#include "tree/fast_paths.h"
#include "tree/query.h"
#include "xpath/detail/eval_messages.h"
#include "xpath/detail/location.h"
#include "xpath/detail/parse_messages.h"
#include "xpath/detail/pass_memo.h"
#include "xpath/detail/walked_compare.h"
#include "xpath/evaluate.h"
#include "xpath/functions/detail/messages.h"
#include "xpath/functions/functions.h"
#include "xpath/watch.h"

namespace tovarn::xpath {

namespace {

using detail::any_paths;
using detail::memo_path;
using detail::memo_texts;
using detail::memo_value;
using detail::MemoPath;
using detail::MemoValue;
using detail::NodeList;
using tree::Document;
using tree::NodeId;

using Status = std::expected<void, std::string>;
using detail::ThreadState;

// The thread state arrives as an argument. Seeing every caller pass the same
// thread-local, g++ clones these for it and looks it up again on each call:
// 5.7 % more instructions on a predicate over every node (772 against 731
// million). Hence noipa; clang, which lacks it, keeps the argument of a
// function not inlined.
#if defined(__clang__)
#define TOVARN_STATE_BOUNDARY [[gnu::noinline]]
#else
#define TOVARN_STATE_BOUNDARY [[gnu::noipa]]
#endif
TOVARN_STATE_BOUNDARY EvalResult evaluate_kind(const Expr& expr, const Document& doc,
                                               EvalContext context, const Environment& env,
                                               const ThreadState& state);
TOVARN_STATE_BOUNDARY EvalResult evaluate_remembered(const Expr& expr, const Document& doc,
                                                     EvalContext context, const Environment& env,
                                                     const ThreadState& state);

// evaluate, with the state its caller fetched.
inline EvalResult evaluate_in(const Expr& expr, const Document& doc, EvalContext context,
                              const Environment& env, const ThreadState& state) {
  if (kFastPaths && state.memos != nullptr && !state.memos->values.empty() &&
      expr.node.index() >= 4) {
    return evaluate_remembered(expr, doc, context, env, state);
  }
  return evaluate_kind(expr, doc, context, env, state);
}

Status filter_by_predicates(NodeList& list, std::span<const Expr> predicates,
                            const Document& doc, const Environment& env) {
  detail::PredicatePaths registered;
  for (const Expr& predicate : predicates) {
    if (list.empty()) return {};
    const std::size_t size = list.size();
    if (const auto* number = std::get_if<Expr::Number>(&predicate.node); kFastPaths && number) {
      // A constant position needs no evaluation per node.
      const double v = number->value;
      if (v >= 1 && v <= static_cast<double>(size) && std::trunc(v) == v) {
        list[0] = list[static_cast<std::size_t>(v) - 1];
        list.erase(list.begin() + 1, list.end());
      } else {
        list.clear();
      }
      continue;
    }
    if (size > 1) registered.add(predicate);
    std::size_t kept = 0;
    const ThreadState& state = detail::thread_state;
    for (std::size_t i = 0; i < size; ++i) {
      EvalResult r = evaluate_in(predicate, doc, EvalContext{list[i], i + 1, size}, env, state);
      if (!r) return std::unexpected(std::move(r.error()));
      const bool keep = r->index() == 1 ? std::get<double>(*r) == static_cast<double>(i + 1)
                                        : value_to_boolean(*r);
      if (keep) list[kept++] = list[i];
    }
    list.resize(kept);
  }
  return {};
}

// A step testing for a node type the tree does not hold: nothing, or the
// refusal of text().
[[gnu::noinline, gnu::cold]] Status typed_step(const NodeList& list, Axis axis, NodeType type) {
  if (!list.empty() && detail::refused_test(axis, type)) {
    return std::unexpected(detail::msg::not_implemented("text"));
  }
  return {};
}

Status step_into(NodeList& out, const NodeList& list, Axis axis, NodeType type,
                 std::optional<std::string_view> name_test, std::span<const Expr> predicates,
                 const Document& doc, const Environment& env) {
  if (type != NodeType::node) [[unlikely]] return typed_step(list, axis, type);
  if (predicates.empty()) {
    detail::collect_axis_union(doc, axis, list, name_test, out);
    // From one node these axes list elements in sibling order, which is the
    // document order while it is current.
    const bool in_order = kFastPaths && list.size() == 1 && doc.order_is_current() &&
                          (axis == Axis::child || axis == Axis::preceding_sibling ||
                           axis == Axis::following_sibling);
    if (!in_order) sort_document_order(out, doc);
    return {};
  }
  NodeList axis_list;
  for (NodeId node : list) {
    if (!doc.contains(node)) continue;
    axis_list.clear();
    detail::collect_axis(doc, axis, node, name_test, axis_list);
    if (Status s = filter_by_predicates(axis_list, predicates, doc, env); !s) return s;
    out.insert(out.end(), axis_list.begin(), axis_list.end());
  }
  sort_document_order(out, doc);
  return {};
}

bool calls_position_or_last(const Expr& expr);

bool steps_call_position_or_last(std::span<const Step> steps) {
  for (const Step& step : steps) {
    for (const Expr& p : step.predicates) {
      if (calls_position_or_last(p)) return true;
    }
  }
  return false;
}

bool calls_position_or_last(const Expr& expr) {
  switch (expr.node.index()) {
    case 3:
      return steps_call_position_or_last(std::get<Expr::LocationPath>(expr.node).steps);
    case 4: {
      const auto& f = std::get<Expr::FilterPath>(expr.node);
      if (calls_position_or_last(*f.primary) || steps_call_position_or_last(f.steps)) return true;
      for (const Expr& p : f.predicates) {
        if (calls_position_or_last(p)) return true;
      }
      return false;
    }
    case 5: {
      const auto& call = std::get<Expr::FunctionCall>(expr.node);
      if (call.name == "position" || call.name == "last") return true;
      for (const Expr& a : call.args) {
        if (calls_position_or_last(a)) return true;
      }
      return false;
    }
    case 6: {
      const auto& b = std::get<Expr::Binary>(expr.node);
      return calls_position_or_last(*b.lhs) || calls_position_or_last(*b.rhs);
    }
    case 7:
      return calls_position_or_last(*std::get<Expr::Negate>(expr.node).operand);
    case 8: {
      const auto& u = std::get<Expr::Union>(expr.node);
      return calls_position_or_last(*u.lhs) || calls_position_or_last(*u.rhs);
    }
    default:
      return false;
  }
}

// Whether a predicate keeps the same nodes whatever their positions: it
// yields a boolean (a comparison or a logical operator) and never asks for
// the context position or size, not even inside.
bool ignores_position(std::span<const Expr> predicates) {
  for (const Expr& p : predicates) {
    const auto* b = std::get_if<Expr::Binary>(&p.node);
    if (b == nullptr || b->op >= BinaryOp::add || calls_position_or_last(p)) return false;
  }
  return true;
}

// Runs steps[first..] from the list, replacing it with the result.
Status run_steps(NodeList& list, std::span<const Step> steps, std::size_t first,
                 const Document& doc, const Environment& env) {
  NodeList out;
  for (std::size_t i = first; i < steps.size(); ++i) {
    if (list.empty()) return {};
    const Step* step = &steps[i];
    const Axis axis = step->axis;
    out.clear();
    // "//name" selects exactly the descendants of that name, each once, so
    // it is one descendant step unless a predicate on the name step counts
    // positions, which run per parent there. This avoids listing every node
    // of the subtree first. The nodes are tested in another order, so on an
    // error the two steps run as written, to report the same first error.
    if (kFastPaths && axis == Axis::descendant_or_self && !step->name_test &&
        step->predicates.empty() &&
        i + 1 < steps.size() && steps[i + 1].axis == Axis::child &&
        ignores_position(steps[i + 1].predicates)) {
      const Step& named = steps[i + 1];
      if (step_into(out, list, Axis::descendant, named.type, named.name_test, named.predicates,
                    doc, env)) {
        ++i;
        list.swap(out);
        continue;
      }
      out.clear();
    }
    if (Status s = step_into(out, list, axis, step->type, step->name_test, step->predicates, doc,
                             env);
        !s) {
      return s;
    }
    list.swap(out);
  }
  return {};
}

// Runs the steps from steps[first] on while the list holds one node and the
// step is a plain self, parent, child or attribute step, straight into the
// list: the common ".", "..", "../q" and "@x" need no second list. Answers
// the first step left for run_steps.
std::size_t run_single_node_steps(NodeList& list, std::span<const Step> steps,
                                  std::size_t first, const Document& doc) {
  std::size_t i = first;
  for (; i < steps.size() && list.size() == 1 && doc.contains(list.front()); ++i) {
    const Step& step = steps[i];
    if (!step.predicates.empty() || step.type != NodeType::node) break;
    const Axis axis = step.axis;
    if (axis != Axis::self && axis != Axis::parent && axis != Axis::child &&
        axis != Axis::attribute) {
      break;
    }
    if (axis == Axis::self && !step.name_test) continue;
    const NodeId node = list.front();
    list.clear();
    detail::collect_axis(doc, axis, node, step.name_test, list);
    if (list.size() > 1) sort_document_order(list, doc);
  }
  return i;
}

// Every kind is evaluated in a function of its own, kept out of line, so that
// the recursion through `evaluate` only carries the frame of the kind being
// evaluated; the parser's depth bound then keeps the stack small.
[[gnu::noinline]] EvalResult eval_location_path(const Expr::LocationPath& path, const Document& doc,
                                                EvalContext context, const Environment& env,
                                                const ThreadState& state) {
  MemoPath* memo = path.absolute && any_paths(state) ? memo_path(path) : nullptr;
  if (memo && memo->doc == &doc) return NodeSet{&doc, memo->nodes};
  NodeList list;
  std::size_t first = 0;
  if (path.absolute) {
    const detail::AbsoluteStart start = detail::absolute_start(doc, path.steps);
    if (!start.node) return NodeSet{&doc, {}};
    list.push_back(*start.node);
    if (start.named_root) {
      if (Status st = filter_by_predicates(list, path.steps.front().predicates, doc, env); !st) {
        return std::unexpected(std::move(st.error()));
      }
      first = 1;
    }
  } else if (path.from_rule_node) {
    if (state.rule_document != &doc) return NodeSet{&doc, {}};
    list.push_back(state.rule_node);
  } else {
    list.push_back(context.node);
  }
  if (kFastPaths) first = run_single_node_steps(list, path.steps, first, doc);
  if (Status s = run_steps(list, path.steps, first, doc, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  // Looked up again: the steps may have registered paths and moved the vector.
  if (memo && !memo_path(path)->doc) {
    memo = memo_path(path);
    memo->doc = &doc;
    memo->nodes = list;
  }
  return NodeSet{&doc, std::move(list)};
}

// The start of instance('id')/...: the instance element of that id in the
// evaluated document, or else the root of the environment's document.
[[gnu::noinline]] std::expected<NodeSet, std::string> instance_start(const Expr::FunctionCall& call,
                                                                     const Document& doc,
                                                                     EvalContext context,
                                                                     const Environment& env) {
  if (call.args.empty()) return std::unexpected(detail::msg::instance_needs_id());
  std::string computed;
  std::string_view id;
  if (const auto* literal = std::get_if<Expr::Literal>(&call.args.front().node)) {
    id = literal->text;
  } else {
    EvalResult r = evaluate(call.args.front(), doc, context, env);
    if (!r) return std::unexpected(std::move(r.error()));
    computed = value_to_string(*r);
    id = computed;
  }
  if (auto element = find_instance_element(doc, id)) return NodeSet{&doc, {*element}};
  const Document* other = env.instance(id);
  if (other == nullptr) return std::unexpected(detail::msg::instance_not_loaded(id));
  NodeSet start{other, {}};
  if (auto root = other->root()) start.ids.push_back(*root);
  return start;
}

[[gnu::noinline]] EvalResult eval_filter_path(const Expr::FilterPath& path, const Document& doc,
                                              EvalContext context, const Environment& env) {
  std::expected<NodeSet, std::string> start;
  const auto* call = std::get_if<Expr::FunctionCall>(&path.primary->node);
  if (call != nullptr && call->name == "instance") {
    start = instance_start(*call, doc, context, env);
  } else {
    EvalResult base = evaluate(*path.primary, doc, context, env);
    if (!base) return std::unexpected(std::move(base.error()));
    start = value_to_nodeset(std::move(*base), "a path base");
  }
  if (!start) return std::unexpected(std::move(start.error()));
  // The predicates and steps read the document the nodes belong to, which is
  // another one when they came from the environment.
  if (start->document == nullptr) start->document = &doc;
  const Document& in = *start->document;
  if (Status s = filter_by_predicates(start->ids, path.predicates, in, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  if (Status s = run_steps(start->ids, path.steps, 0, in, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  return std::move(*start);
}

[[gnu::noinline]] EvalResult eval_union(const Expr::Union& u, const Document& doc,
                                        EvalContext context, const Environment& env) {
  EvalResult lhs = evaluate(*u.lhs, doc, context, env);
  if (!lhs) return lhs;
  auto left = value_to_nodeset(std::move(*lhs), "union");
  if (!left) return std::unexpected(std::move(left.error()));
  EvalResult rhs = evaluate(*u.rhs, doc, context, env);
  if (!rhs) return rhs;
  auto right = value_to_nodeset(std::move(*rhs), "union");
  if (!right) return std::unexpected(std::move(right.error()));

  if (left->document == nullptr) left->document = &doc;
  if (right->document == nullptr) right->document = &doc;
  // Ids mean nothing outside their document, so only nodes of one document
  // can be ordered together; an empty side takes no part.
  if (left->ids.empty()) std::swap(*left, *right);
  if (!right->ids.empty()) {
    if (left->document != right->document) {
      return std::unexpected(detail::msg::union_of_two_documents());
    }
    left->ids.insert(left->ids.end(), right->ids.begin(), right->ids.end());
  }
  sort_document_order(left->ids, *left->document);
  return std::move(*left);
}

EvalResult watch_failure(const Watch& watch);

// `=` or `!=` with a walkable path on a side, which is walked against the
// other side's value rather than listed, when that value is not two nodes
// or more. The path never fails, so evaluating the other side first, whichever
// it is, gives the same first error. Nothing when no side is walkable.
[[gnu::noinline]] std::optional<EvalResult> compare_walking(const Expr::Binary& b,
                                                            const Document& doc,
                                                            EvalContext context,
                                                            const Environment& env,
                                                            const ThreadState& state) {
  auto walkable = [&](const Expr& e) -> const Expr::LocationPath* {
    const auto* path = std::get_if<Expr::LocationPath>(&e.node);
    if (path == nullptr || !detail::walkable_path(*path)) return nullptr;
    // A path the pass memo keeps is listed, for the memo to have it.
    if (path->absolute && any_paths(state) && memo_path(*path) != nullptr) return nullptr;
    if (path->from_rule_node && state.rule_document != &doc) return nullptr;
    return path;
  };
  const Expr::LocationPath* left = walkable(*b.lhs);
  const Expr::LocationPath* right = walkable(*b.rhs);
  if (left == nullptr && right == nullptr) return std::nullopt;
  // Of two walkable sides, "." is the one value and the other is walked.
  const bool walk_left = right == nullptr || (left != nullptr && detail::single_node_path(*right) &&
                                              !detail::single_node_path(*left));
  const Expr& walked = walk_left ? *b.lhs : *b.rhs;
  EvalResult other = evaluate_in(walk_left ? *b.rhs : *b.lhs, doc, context, env, state);
  if (!other) return other;
  if (const auto* set = std::get_if<NodeSet>(&*other); set != nullptr && set->ids.size() > 1) {
    EvalResult nodes = evaluate_in(walked, doc, context, env, state);
    if (!nodes) return nodes;
    return walk_left ? compare_equal(b.op, *nodes, *other) : compare_equal(b.op, *other, *nodes);
  }
  // The step the path's own evaluation would count.
  if (Watch* watch = state.watch; watch != nullptr) {
    if (watch->interrupted() || watch->stack_low()) return watch_failure(*watch);
  }
  const Expr::LocationPath& path = walk_left ? *left : *right;
  return detail::compare_walked(b.op, path, *other, doc,
                                path.from_rule_node ? state.rule_node : context.node, state.watch);
}

[[gnu::noinline]] EvalResult eval_binary(const Expr::Binary& b, const Document& doc,
                                         EvalContext context, const Environment& env,
                                         const ThreadState& state) {
  const bool equality = b.op == BinaryOp::eq || b.op == BinaryOp::ne;
  if (equality && any_paths(state)) {
    // A path worked out before cannot fail, so it needs no evaluation, and
    // the other side is evaluated as it would be anyway.
    const bool memo_left = memo_texts(*b.lhs, doc) != nullptr;
    if (memo_left || memo_texts(*b.rhs, doc) != nullptr) {
      EvalResult other = evaluate_in(memo_left ? *b.rhs : *b.lhs, doc, context, env, state);
      if (!other) return other;
      return memo_texts(memo_left ? *b.lhs : *b.rhs, doc)->compare(b.op, *other);
    }
  }
  if (kFastPaths && equality) {
    if (std::optional<EvalResult> r = compare_walking(b, doc, context, env, state)) {
      return std::move(*r);
    }
  }
  EvalResult lhs = evaluate_in(*b.lhs, doc, context, env, state);
  if (!lhs) return lhs;
  if (b.op == BinaryOp::logical_or || b.op == BinaryOp::logical_and) {
    const bool left = value_to_boolean(*lhs);
    if (left == (b.op == BinaryOp::logical_or)) return left;
    EvalResult rhs = evaluate_in(*b.rhs, doc, context, env, state);
    if (!rhs) return rhs;
    return value_to_boolean(*rhs);
  }
  EvalResult rhs = evaluate_in(*b.rhs, doc, context, env, state);
  if (!rhs) return rhs;
  if (b.op == BinaryOp::eq || b.op == BinaryOp::ne) return compare_equal(b.op, *lhs, *rhs);

  const double x = value_to_number(*lhs);
  const double y = value_to_number(*rhs);
  switch (b.op) {
    case BinaryOp::lt:
      return x < y;
    case BinaryOp::le:
      return x <= y;
    case BinaryOp::gt:
      return x > y;
    case BinaryOp::ge:
      return x >= y;
    case BinaryOp::add:
      return x + y;
    case BinaryOp::sub:
      return x - y;
    case BinaryOp::mul:
      return x * y;
    case BinaryOp::div:
      return x / y;
    default:
      return std::fmod(x, y);
  }
}

[[gnu::noinline]] EvalResult eval_negate(const Expr::Negate& n, const Document& doc,
                                         EvalContext context, const Environment& env) {
  EvalResult operand = evaluate(*n.operand, doc, context, env);
  if (!operand) return operand;
  return -value_to_number(*operand);
}


// Order ranges of the subtrees under the nodes of the paths; false when a
// node is outside the order.
bool gather_reads(MemoValue& m, const Document& doc, const Environment& env) {
  for (const Expr::LocationPath* path : m.paths) {
    EvalResult nodes =
        eval_location_path(*path, doc, EvalContext{*doc.root(), 1, 1}, env, detail::thread_state);
    if (!nodes || nodes->index() != 3) return false;
    for (NodeId id : std::get<NodeSet>(*nodes).ids) {
      const std::uint32_t first = doc.order_position(id);
      if (first == Document::kUnindexed) return false;
      m.reads.emplace_back(first, doc.order_subtree_end(id));
    }
  }
  std::sort(m.reads.begin(), m.reads.end());
  std::size_t kept = 0;
  for (const auto& range : m.reads) {
    if (kept > 0 && range.first <= m.reads[kept - 1].second + 1) {
      m.reads[kept - 1].second = std::max(m.reads[kept - 1].second, range.second);
    } else {
      m.reads[kept++] = range;
    }
  }
  m.reads.resize(kept);
  return true;
}

EvalResult evaluate_remembered(const Expr& expr, const Document& doc, EvalContext context,
                               const Environment& env, const ThreadState& state) {
  MemoValue* m = memo_value(expr);
  if (m == nullptr) return evaluate_kind(expr, doc, context, env, state);
  if (m->doc == &doc) return *m->value;
  if (m->doc != nullptr) return evaluate_kind(expr, doc, context, env, state);
  EvalResult value = evaluate_kind(expr, doc, context, env, state);
  // Looked up again: a nested pass may have moved the vector meanwhile.
  m = memo_value(expr);
  m->doc = &doc;
  m->value = value;
  m->reads.clear();
  m->reads_known = m->tracked && doc.root() && gather_reads(*m, doc, env);
  return value;
}

// A stopped or too deep evaluation fails every evaluation after it, so that
// the error reaches the watch's owner at once.
[[gnu::noinline, gnu::cold]] EvalResult watch_failure(const Watch& watch) {
  if (watch.stopped()) return std::unexpected(interrupted_message());
  return std::unexpected(detail::msg::nests_too_deep(watch.max_depth()));
}

}  // namespace

namespace {

bool steps_never_fail(std::span<const Step> steps) {
  for (const Step& step : steps) {
    if (detail::refused_test(step.axis, step.type)) return false;
    for (const Expr& p : step.predicates) {
      if (!never_fails(p)) return false;
    }
  }
  return true;
}

// A union of such paths only ever meets nodes of the evaluated document.
bool plain_node_set(const Expr& expr) {
  if (const auto* path = std::get_if<Expr::LocationPath>(&expr.node)) {
    return steps_never_fail(path->steps);
  }
  const auto* u = std::get_if<Expr::Union>(&expr.node);
  return u != nullptr && plain_node_set(*u->lhs) && plain_node_set(*u->rhs);
}

// Fails only through its arguments, when they never fail (or are node-sets
// of such paths, where the function needs node-sets).
bool call_never_fails(const Expr::FunctionCall& call) {
  const CallTraits traits = call_traits(call);
  if (!traits.fails_only_through_arguments) return false;
  for (const Expr& a : call.args) {
    if (traits.needs_node_sets ? !plain_node_set(a) : !never_fails(a)) return false;
  }
  return true;
}

}  // namespace

bool never_fails(const Expr& expr) {
  switch (expr.node.index()) {
    case 0:
    case 1:
      return true;
    case 3:
      return steps_never_fail(std::get<Expr::LocationPath>(expr.node).steps);
    case 5:
      return call_never_fails(std::get<Expr::FunctionCall>(expr.node));
    case 6: {
      const auto& b = std::get<Expr::Binary>(expr.node);
      return never_fails(*b.lhs) && never_fails(*b.rhs);
    }
    case 7:
      return never_fails(*std::get<Expr::Negate>(expr.node).operand);
    case 8:
      return plain_node_set(expr);
    default:
      return false;  // a variable, a path from a function's value
  }
}

EvalResult evaluate(const Expr& expr, const Document& doc, EvalContext context,
                    const Environment& env) {
  // Fetched once here: every kind below reads it.
  const ThreadState& state = detail::thread_state;
  if (kFastPaths && state.memos != nullptr && !state.memos->values.empty() &&
      expr.node.index() >= 4) {
    return evaluate_remembered(expr, doc, context, env, state);
  }
  return evaluate_kind(expr, doc, context, env, state);
}

EvalResult evaluate_for(const Expr& expr, const Document& doc, EvalContext context,
                        NodeId rule_node, const Environment& env) {
  ThreadState& state = detail::thread_state;
  // Put back however the evaluation ends: a rule may have another evaluated
  // inside it.
  struct Restore {
    ThreadState& state;
    const Document* doc;
    NodeId node;
    ~Restore() {
      state.rule_document = doc;
      state.rule_node = node;
    }
  } restore{state, std::exchange(state.rule_document, &doc),
            std::exchange(state.rule_node, rule_node)};
  return evaluate_in(expr, doc, context, env, state);
}

namespace {

EvalResult evaluate_kind(const Expr& expr, const Document& doc, EvalContext context,
                         const Environment& env, const ThreadState& state) {
  if (Watch* watch = state.watch; watch != nullptr) {
    if (watch->interrupted() || watch->stack_low()) return watch_failure(*watch);
  }
  switch (expr.node.index()) {
    case 0:
      return std::get<Expr::Number>(expr.node).value;
    case 1:
      return std::string(std::get<Expr::Literal>(expr.node).text);
    case 2:
      return std::unexpected(detail::msg::variable(std::get<Expr::Variable>(expr.node).name));
    case 3:
      return eval_location_path(std::get<Expr::LocationPath>(expr.node), doc, context, env, state);
    case 4:
      return eval_filter_path(std::get<Expr::FilterPath>(expr.node), doc, context, env);
    case 5:
      return call_function(std::get<Expr::FunctionCall>(expr.node), doc, context, env);
    case 6:
      return eval_binary(std::get<Expr::Binary>(expr.node), doc, context, env, state);
    case 7:
      return eval_negate(std::get<Expr::Negate>(expr.node), doc, context, env);
    default:
      return eval_union(std::get<Expr::Union>(expr.node), doc, context, env);
  }
}

}  // namespace

std::optional<NodeId> find_instance_element(const Document& doc, std::string_view id) {
  const auto root = doc.root();
  if (!root) return std::nullopt;
  auto is_match = [&](NodeId e) {
    if (doc.name(e) != "instance") return false;
    for (NodeId a : doc.attributes(e)) {
      if (doc.name(a) == "id" && doc.text(a) == id) return true;
    }
    return false;
  };
  // The root and then its descendants in document order, walked rather than
  // read from the order so that an unindexed document is read the same way.
  if (is_match(*root)) return root;
  std::optional<NodeId> found;
  tree::walk_below(doc, *root, [&](NodeId e) {
    if (is_match(e)) found = e;
    return !found;
  });
  return found;
}

namespace detail {

std::expected<NodeList, std::string> apply_predicates(NodeList list,
                                                      std::span<const Expr> predicates,
                                                      const Document& doc, const Environment& env) {
  if (Status s = filter_by_predicates(list, predicates, doc, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  return list;
}

std::expected<NodeList, std::string> eval_step(const NodeList& list, const Step& step,
                                               const Document& doc, const Environment& env) {
  NodeList out;
  if (Status s = step_into(out, list, step.axis, step.type, step.name_test, step.predicates, doc,
                           env);
      !s) {
    return std::unexpected(std::move(s.error()));
  }
  return out;
}

}  // namespace detail

}  // namespace tovarn::xpath
