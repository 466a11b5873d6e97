#include <cmath>
#include <type_traits>
#include <utility>
#include <variant>

#include "tree/query.h"
#include "xpath/detail/eval_messages.h"
#include "xpath/detail/location.h"
#include "xpath/detail/parse_messages.h"
#include "xpath/evaluate.h"
#include "xpath/functions/functions.h"
#include "xpath/watch.h"

namespace tovarn::xpath {

namespace {

using detail::NodeList;
using tree::Document;
using tree::NodeId;

using Status = std::expected<void, std::string>;

// An absolute path reads nothing but its document, yet a predicate evaluates
// it again for every node it tests, and nested predicates multiply that:
// //*[. = //*[. = //*]] would cost the document's size to the third power.
// So while a predicate runs over a list, each absolute path inside it is
// worked out once. Only paths of that predicate's own tree are kept, which
// stays alive and unchanged for the whole loop, so an address can never
// stand for an expression parsed and freed meanwhile; the evaluator never
// changes a document.
struct MemoPath {
  const Expr::LocationPath* path;
  const Document* doc = nullptr;  // set with the nodes
  NodeList nodes;
};
thread_local std::vector<MemoPath> memo_paths;  // outer predicates first

void register_absolute_paths(const Expr& expr) {
  auto steps = [](const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      for (const Expr& p : step.predicates) register_absolute_paths(p);
    }
  };
  std::visit(
      [&](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          if (e.absolute) memo_paths.push_back(MemoPath{&e, nullptr, {}});
          steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          register_absolute_paths(*e.primary);
          for (const Expr& p : e.predicates) register_absolute_paths(p);
          steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          for (const Expr& a : e.args) register_absolute_paths(a);
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          register_absolute_paths(*e.lhs);
          register_absolute_paths(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          register_absolute_paths(*e.operand);
        }
      },
      expr.node);
}

// The outermost registration of the path, which lives longest.
MemoPath* memo_path(const Expr::LocationPath& path) {
  for (MemoPath& m : memo_paths) {
    if (m.path == &path) return &m;
  }
  return nullptr;
}

Status filter_by_predicates(NodeList& list, const std::vector<Expr>& predicates,
                            const Document& doc, const Environment& env) {
  struct Registered {
    std::size_t mark = memo_paths.size();
    ~Registered() { memo_paths.resize(mark); }
  } registered;
  for (const Expr& predicate : predicates) {
    if (list.empty()) return {};
    const std::size_t size = list.size();
    if (const auto* number = std::get_if<Expr::Number>(&predicate.node)) {
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
    if (size > 1) register_absolute_paths(predicate);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size; ++i) {
      EvalResult r = evaluate(predicate, doc, EvalContext{list[i], i + 1, size}, env);
      if (!r) return std::unexpected(std::move(r.error()));
      const bool keep = r->index() == 1 ? std::get<double>(*r) == static_cast<double>(i + 1)
                                        : value_to_boolean(*r);
      if (keep) list[kept++] = list[i];
    }
    list.resize(kept);
  }
  return {};
}

Status step_into(NodeList& out, const NodeList& list, Axis axis,
                 const std::optional<std::string>& name_test, const std::vector<Expr>& predicates,
                 const Document& doc, const Environment& env) {
  if (predicates.empty()) {
    detail::collect_axis_union(doc, axis, list, name_test, out);
    sort_document_order(out, doc);
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

bool steps_call_position_or_last(const std::vector<Step>& steps) {
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
bool ignores_position(const std::vector<Expr>& predicates) {
  for (const Expr& p : predicates) {
    const auto* b = std::get_if<Expr::Binary>(&p.node);
    if (b == nullptr || b->op >= BinaryOp::add || calls_position_or_last(p)) return false;
  }
  return true;
}

// Runs steps[first..] from the list, replacing it with the result.
Status run_steps(NodeList& list, const std::vector<Step>& steps, std::size_t first,
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
    if (axis == Axis::descendant_or_self && !step->name_test && step->predicates.empty() &&
        i + 1 < steps.size() && steps[i + 1].axis == Axis::child &&
        ignores_position(steps[i + 1].predicates)) {
      const Step& named = steps[i + 1];
      if (step_into(out, list, Axis::descendant, named.name_test, named.predicates, doc, env)) {
        ++i;
        list.swap(out);
        continue;
      }
      out.clear();
    }
    if (Status s = step_into(out, list, axis, step->name_test, step->predicates, doc, env); !s) {
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
std::size_t run_single_node_steps(NodeList& list, const std::vector<Step>& steps,
                                  std::size_t first, const Document& doc) {
  std::size_t i = first;
  for (; i < steps.size() && list.size() == 1 && doc.contains(list.front()); ++i) {
    const Step& step = steps[i];
    if (!step.predicates.empty()) break;
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
                                                EvalContext context, const Environment& env) {
  MemoPath* memo = path.absolute && !memo_paths.empty() ? memo_path(path) : nullptr;
  if (memo && memo->doc == &doc) return NodeSet{&doc, memo->nodes};
  NodeList list;
  std::size_t first = 0;
  if (path.absolute) {
    const auto root = doc.root();
    if (!root) return NodeSet{&doc, {}};
    list.push_back(*root);
    // A first child step naming the root selects the root itself, so that the
    // same path reads an instance and a model document holding its copy.
    if (!path.steps.empty()) {
      const Step& s = path.steps.front();
      if (s.axis == Axis::child && s.name_test &&
          doc.name(*root) == std::string_view(*s.name_test)) {
        if (Status st = filter_by_predicates(list, s.predicates, doc, env); !st) {
          return std::unexpected(std::move(st.error()));
        }
        first = 1;
      }
    }
  } else {
    list.push_back(context.node);
  }
  first = run_single_node_steps(list, path.steps, first, doc);
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

[[gnu::noinline]] EvalResult eval_binary(const Expr::Binary& b, const Document& doc,
                                         EvalContext context, const Environment& env) {
  EvalResult lhs = evaluate(*b.lhs, doc, context, env);
  if (!lhs) return lhs;
  if (b.op == BinaryOp::logical_or || b.op == BinaryOp::logical_and) {
    const bool left = value_to_boolean(*lhs);
    if (left == (b.op == BinaryOp::logical_or)) return left;
    EvalResult rhs = evaluate(*b.rhs, doc, context, env);
    if (!rhs) return rhs;
    return value_to_boolean(*rhs);
  }
  EvalResult rhs = evaluate(*b.rhs, doc, context, env);
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

// A stopped or too deep evaluation fails every evaluation after it, so that
// the error reaches the watch's owner at once.
[[gnu::noinline, gnu::cold]] EvalResult watch_failure(const Watch& watch) {
  if (watch.stopped()) return std::unexpected(interrupted_message());
  return std::unexpected(detail::msg::nests_too_deep(watch.max_depth()));
}

}  // namespace

EvalResult evaluate(const Expr& expr, const Document& doc, EvalContext context,
                    const Environment& env) {
  if (Watch* watch = current_watch(); watch != nullptr) {
    if (watch->interrupted() || watch->stack_low()) return watch_failure(*watch);
  }
  switch (expr.node.index()) {
    case 0:
      return std::get<Expr::Number>(expr.node).value;
    case 1:
      return std::get<Expr::Literal>(expr.node).text;
    case 2:
      return std::unexpected(detail::msg::variable(std::get<Expr::Variable>(expr.node).name));
    case 3:
      return eval_location_path(std::get<Expr::LocationPath>(expr.node), doc, context, env);
    case 4:
      return eval_filter_path(std::get<Expr::FilterPath>(expr.node), doc, context, env);
    case 5:
      return call_function(std::get<Expr::FunctionCall>(expr.node), doc, context, env);
    case 6:
      return eval_binary(std::get<Expr::Binary>(expr.node), doc, context, env);
    case 7:
      return eval_negate(std::get<Expr::Negate>(expr.node), doc, context, env);
    default:
      return eval_union(std::get<Expr::Union>(expr.node), doc, context, env);
  }
}

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
                                                      const std::vector<Expr>& predicates,
                                                      const Document& doc, const Environment& env) {
  if (Status s = filter_by_predicates(list, predicates, doc, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  return list;
}

std::expected<NodeList, std::string> eval_step(const NodeList& list, const Step& step,
                                               const Document& doc, const Environment& env) {
  NodeList out;
  if (Status s = step_into(out, list, step.axis, step.name_test, step.predicates, doc, env); !s) {
    return std::unexpected(std::move(s.error()));
  }
  return out;
}

}  // namespace detail

}  // namespace tovarn::xpath
