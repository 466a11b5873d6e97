#pragma once
// The pieces of location paths, for the evaluator and its tests.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tree/document.h"
#include "xpath/environment.h"
#include "xpath/expr.h"

namespace tovarn::xpath::detail {

using NodeList = std::vector<tree::NodeId>;

// Where an absolute path starts: the document's path root, nowhere in a
// document without one. A first child step naming that root selects the root
// itself, so that the same rule texts read an instance and the model
// document holding its copy; `named_root` says the first step is taken so.
struct AbsoluteStart {
  std::optional<tree::NodeId> node;
  bool named_root = false;
};
inline AbsoluteStart absolute_start(const tree::Document& doc, std::span<const Step> steps) {
  AbsoluteStart start{doc.path_root()};
  if (start.node && !steps.empty()) {
    const Step& first = steps.front();
    start.named_root = first.axis == Axis::child && first.name_test &&
                       doc.name(*start.node) == std::string_view(*first.name_test);
  }
  return start;
}

// Whether a step of this type on this axis is refused: text() where the axis
// would hold text nodes, which the tree does not keep. A node-type test
// other than node() that is not refused selects nothing.
constexpr bool refused_test(Axis axis, NodeType type) {
  if (type != NodeType::text) return false;
  switch (axis) {
    case Axis::parent:
    case Axis::self:
    case Axis::ancestor:
    case Axis::ancestor_or_self:
    case Axis::attribute:
      return false;
    default:
      return true;
  }
}

// Keeps the nodes for which each predicate in turn holds: a number keeps the
// node at that position (from 1), anything else through its boolean. The
// first error of a predicate is the result.
[[nodiscard]] std::expected<NodeList, std::string> apply_predicates(
    NodeList list, std::span<const Expr> predicates, const tree::Document& doc,
    const Environment& env);

// One step from every node of the list; the result is in document order, each
// node once. Predicates count positions within one node's axis list.
[[nodiscard]] std::expected<NodeList, std::string> eval_step(const NodeList& list, const Step& step,
                                                             const tree::Document& doc,
                                                             const Environment& env);

// Appends the nodes of one axis of `node` whose name equals the name test
// (all of them without one), in the axis's own order: nearest first for
// ancestors, document order for every other axis.
void collect_axis(const tree::Document& doc, Axis axis, tree::NodeId node,
                  std::optional<std::string_view> name_test, NodeList& out);

// Appends the union of one axis over every node of the list, filtered by the
// name test, in no particular order and possibly with duplicates (the caller
// sorts). Linear in the list and the result where one node's axis covers
// another's: nested subtrees, siblings of one parent, shared ancestors.
void collect_axis_union(const tree::Document& doc, Axis axis, const NodeList& list,
                        std::optional<std::string_view> name_test, NodeList& out);

// Whether the candidate element lies on the following or the preceding axis
// (the only two axes asked) of the context node, whose order key is given
// (Document::kUnindexed, above every position, for an unindexed node).
bool following_preceding_filter(const tree::Document& doc, Axis axis, tree::NodeId context,
                                std::uint32_t context_key, tree::NodeId candidate);

}  // namespace tovarn::xpath::detail
