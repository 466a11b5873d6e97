#include "xpath/detail/walked_compare.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "tree/child_names.h"
#include "tree/query.h"
#include "xpath/detail/equality.h"
#include "xpath/detail/location.h"
#include "xpath/watch.h"

namespace tovarn::xpath::detail {

namespace {

using tree::ChildNames;
using tree::Document;
using tree::NodeId;
using Siblings = Document::SiblingRange::iterator;

// Child and attribute steps after the step of many nodes; longer tails are
// listed.
constexpr std::size_t kMaxTail = 8;

// Nodes visited between two ticks of the watch: a tick per node would cost
// as much as the visit.
constexpr std::uint32_t kNodesPerTick = 256;

bool keeps_one_node(Axis axis) { return axis == Axis::self || axis == Axis::parent; }

class Name {
 public:
  Name() = default;
  explicit Name(std::optional<std::string_view> test)
      : any_(!test), name_(test ? *test : std::string_view()) {}
  bool operator()(const Document& doc, NodeId id) const { return any_ || name_.same(doc.name(id)); }
  bool any() const { return any_; }
  std::string_view text() const { return name_.view(); }

 private:
  bool any_ = true;
  ShortText name_;
};

struct Level {
  bool attribute = false;  // else child
  Name name;
};

// The steps after the step of many nodes.
struct Tail {
  std::array<Level, kMaxTail> levels;
  std::size_t depth = 0;
};

enum class Seen : std::uint8_t { nothing, hit, stopped };

// Out of line, so that the walks keep their state in registers. This and the
// other rare walks below are kept out of line together: inlined, they made
// the unique name at 20,000 rows 11 % slower (0.86 s against 0.77 s).
[[gnu::noinline]] bool watch_says_stop(Watch* watch) {
  return watch != nullptr && watch->interrupted();
}

// Counts a visited node; true when the watch says stop.
inline bool tick(std::uint32_t& budget, Watch* watch) {
  if (--budget != 0) [[likely]] return false;
  budget = kNodesPerTick;
  return watch_says_stop(watch);
}

Document::SiblingRange level_range(const Document& doc, const Level& level, NodeId node) {
  return level.attribute ? doc.attributes(node) : doc.children(node);
}

// The nodes a tail of two levels or more reaches from a node, without
// recursion: one cursor per level. Out of line, as watch_says_stop says.
template <typename Hit>
[[gnu::noinline]] Seen below_deep(const Document& doc, const Hit& hit, const Tail& tail,
                                  NodeId node, Watch* watch) {
  std::uint32_t budget = kNodesPerTick;
  const Siblings end = doc.children(node).end();
  std::array<Siblings, kMaxTail> at;
  at[0] = level_range(doc, tail.levels[0], node).begin();
  std::size_t d = 0;
  for (;;) {
    if (at[d] == end) {
      if (d == 0) return Seen::nothing;
      ++at[--d];
      continue;
    }
    const NodeId n = *at[d];
    if (tick(budget, watch)) return Seen::stopped;
    if (!tail.levels[d].name(doc, n)) {
      ++at[d];
    } else if (d + 1 == tail.depth) {
      if (hit(doc, n)) return Seen::hit;
      ++at[d];
    } else {
      ++d;
      at[d] = level_range(doc, tail.levels[d], n).begin();
    }
  }
}

// A node of the step of many nodes: it, or the nodes the tail reaches from
// it, to `hit`. kDepth is the tail's depth where the caller knows it is 0 or
// 1, else -1.
template <int kDepth = -1, typename Hit>
inline Seen below(const Document& doc, const Hit& hit, const Tail& tail,
                                         NodeId node, std::uint32_t& budget, Watch* watch) {
  const std::size_t depth = kDepth >= 0 ? kDepth : tail.depth;
  if (depth == 0) return hit(doc, node) ? Seen::hit : Seen::nothing;
  if (depth > 1) return below_deep(doc, hit, tail, node, watch);
  const Level& level = tail.levels[0];
  for (NodeId n : level_range(doc, level, node)) {
    if (tick(budget, watch)) return Seen::stopped;
    if (level.name(doc, n) && hit(doc, n)) return Seen::hit;
  }
  return Seen::nothing;
}

// The siblings from `at` up to `stop` (or the last) that pass the name, each
// through the tail to `hit`, until one hits: a row testing its name against
// the rows before it walks this loop for each row. Out of line: inlined into
// walk_axis with its three depths, the loop ran about 12 % slower (unique
// name at 20,000 rows, 0.94 s against 0.84 s).
template <int kDepth, typename Hit>
[[gnu::noinline]] Seen walk_siblings(const Document& doc, const Hit& hit, const Tail& tail,
                                    const Name name, Siblings at, NodeId stop,
                                    Watch* const watch) {
  std::uint32_t budget = kNodesPerTick;
  const Siblings end{};  // past the last sibling
  for (; at != end && *at != stop; ++at) {
    if (tick(budget, watch)) return Seen::stopped;
    if (!name(doc, *at)) continue;
    if (const Seen s = below<kDepth>(doc, hit, tail, *at, budget, watch); s != Seen::nothing) {
      return s;
    }
  }
  return Seen::nothing;
}

// The children of one name from `first` on, as the child-name table chains
// them: a wide group's children are not read one by one.
template <int kDepth, typename Hit>
Seen walk_chain(const Document& doc, const Hit& hit, const Tail& tail, const ChildNames& names,
                std::uint32_t first, Watch* const watch) {
  std::uint32_t budget = kNodesPerTick;
  for (std::uint32_t c = first; c != ChildNames::kNone; c = names.next_named(c)) {
    if (tick(budget, watch)) return Seen::stopped;
    const Seen s = below<kDepth>(doc, hit, tail, NodeId{c}, budget, watch);
    if (s != Seen::nothing) return s;
  }
  return Seen::nothing;
}

// The nodes of a list that pass the name, each through the tail to `hit`.
// Out of line, as watch_says_stop says.
template <typename Hit>
[[gnu::noinline]] Seen walk_list(const Document& doc, const Hit& hit, const Tail& tail,
                                 const Name& name, const NodeList& list, Watch* const watch) {
  std::uint32_t budget = kNodesPerTick;
  for (NodeId n : list) {
    if (tick(budget, watch)) return Seen::stopped;
    if (!name(doc, n)) continue;
    if (const Seen s = below(doc, hit, tail, n, budget, watch); s != Seen::nothing) return s;
  }
  return Seen::nothing;
}

// Descendants as collect_axis lists them: an indexed subtree is a range of
// the order, and attributes are no descendants. Out of line, as
// watch_says_stop says.
template <typename Hit>
[[gnu::noinline]] Seen walk_descendants(const Document& doc, const Hit& hit, const Tail& tail,
                                        const Name& name, NodeId node, Watch* const watch) {
  std::uint32_t budget = kNodesPerTick;
  const std::uint32_t pos = doc.order_position(node);
  if (pos != Document::kUnindexed) {
    const std::uint32_t end = doc.order_subtree_end(node);
    for (std::uint32_t p = pos + 1; p <= end; ++p) {
      const NodeId id = doc.at_order_position(p);
      if (tick(budget, watch)) return Seen::stopped;
      if (doc.is_attribute(id) || !name(doc, id)) continue;
      if (const Seen s = below(doc, hit, tail, id, budget, watch); s != Seen::nothing) return s;
    }
    return Seen::nothing;
  }
  Seen seen = Seen::nothing;
  tree::walk_below(doc, node, [&](NodeId id) {
    if (tick(budget, watch)) {
      seen = Seen::stopped;
    } else if (name(doc, id)) {
      seen = below(doc, hit, tail, id, budget, watch);
    }
    return seen == Seen::nothing;
  });
  return seen;
}

// The nodes of an axis from one node that pass the name, each through the
// tail to `hit`, until one hits.
template <typename Hit>
Seen walk_axis(const Document& doc, const Hit& hit, const Tail& tail, Axis axis, const Name& name,
               NodeId node, Watch* watch) {
  const NodeId none{UINT32_MAX};  // no node: the walk goes to the last sibling
  auto siblings = [&](Siblings at, NodeId stop) {
    switch (tail.depth) {
      case 0:
        return walk_siblings<0>(doc, hit, tail, name, at, stop, watch);
      case 1:
        return walk_siblings<1>(doc, hit, tail, name, at, stop, watch);
      default:
        return walk_siblings<-1>(doc, hit, tail, name, at, stop, watch);
    }
  };
  switch (axis) {
    case Axis::child:
      if (ChildNames* names = name.any() ? nullptr : ChildNames::of(doc);
          names != nullptr) {
        if (const auto first = names->first_named(node, name.text())) {
          switch (tail.depth) {
            case 0:
              return walk_chain<0>(doc, hit, tail, *names, *first, watch);
            case 1:
              return walk_chain<1>(doc, hit, tail, *names, *first, watch);
            default:
              return walk_chain<-1>(doc, hit, tail, *names, *first, watch);
          }
        }
      }
      return siblings(doc.children(node).begin(), none);
    case Axis::attribute:
      if (doc.is_attribute(node)) return Seen::nothing;
      return siblings(doc.attributes(node).begin(), none);
    case Axis::following_sibling:
      if (doc.is_attribute(node) || !doc.path_parent(node)) return Seen::nothing;
      return siblings(++Siblings(&doc, index_of(node)), none);
    case Axis::preceding_sibling: {
      if (doc.is_attribute(node)) return Seen::nothing;
      const auto parent = doc.path_parent(node);
      if (!parent) return Seen::nothing;
      return siblings(doc.children(*parent).begin(), node);
    }
    case Axis::descendant_or_self:
      if (name(doc, node)) {
        std::uint32_t budget = kNodesPerTick;
        const Seen s = below(doc, hit, tail, node, budget, watch);
        if (s != Seen::nothing) return s;
      }
      [[fallthrough]];
    case Axis::descendant:
      if (doc.is_attribute(node)) return Seen::nothing;
      return walk_descendants(doc, hit, tail, name, node, watch);
    default: {
      // Ancestors, following and preceding nodes: listed, as they are rare
      // here.
      NodeList list;
      collect_axis(doc, axis, node, std::nullopt, list);
      return walk_list(doc, hit, tail, name, list, watch);
    }
  }
}

// The nodes of the path from the context node, to `hit` until one hits.
template <typename Hit>
Seen walk_path(const Expr::LocationPath& path, const Document& doc, NodeId context,
               const Hit& hit, Watch* watch) {
  const std::span<const Step> steps = path.steps;
  std::size_t i = 0;
  NodeId node = context;
  if (path.absolute) {
    const AbsoluteStart start = absolute_start(doc, steps);
    if (!start.node) return Seen::nothing;
    node = *start.node;
    i = start.named_root ? 1 : 0;
  } else if (!doc.contains(node)) {
    return Seen::nothing;
  }
  for (; i < steps.size() && keeps_one_node(steps[i].axis); ++i) {
    if (steps[i].axis == Axis::parent) {
      const auto parent = doc.path_parent(node);
      if (!parent) return Seen::nothing;
      node = *parent;
    }
    if (!Name(steps[i].name_test)(doc, node)) return Seen::nothing;
  }
  if (i == steps.size()) return hit(doc, node) ? Seen::hit : Seen::nothing;

  Axis axis = steps[i].axis;
  Name name(steps[i].name_test);
  ++i;
  // "//x" is the descendants named x, as the evaluator takes it too.
  if (axis == Axis::descendant_or_self && !steps[i - 1].name_test && i < steps.size() &&
      steps[i].axis == Axis::child) {
    axis = Axis::descendant;
    name = Name(steps[i].name_test);
    ++i;
  }
  Tail tail;
  for (; i < steps.size(); ++i) {
    if (steps[i].axis == Axis::self) continue;
    tail.levels[tail.depth++] = Level{steps[i].axis == Axis::attribute, Name(steps[i].name_test)};
  }
  return walk_axis(doc, hit, tail, axis, name, node, watch);
}

// A string value with descendants' texts in it, gathered: rare in answers,
// and out of line, as watch_says_stop says.
[[gnu::noinline]] std::string_view nested_string(const Document& doc, NodeId id,
                                                 std::string& scratch) {
  scratch.clear();
  tree::append_string_value(doc, id, scratch);
  return scratch;
}

std::string_view node_string(const Document& doc, NodeId id, std::string& scratch) {
  return doc.has_children(id) ? nested_string(doc, id, scratch) : doc.text(id);
}

// What the walk asks of each node: whether it settles the comparison.
struct AnyNode {
  bool operator()(const Document&, NodeId) const { return true; }
};

struct TextIs {
  NodeTest test;
  std::string* scratch;
  bool operator()(const Document& doc, NodeId id) const {
    if (doc.has_children(id)) [[unlikely]] {
      return test.passes_text(nested_string(doc, id, *scratch));
    }
    return test.passes_text(doc.text(id));
  }
};

struct NumberIs {
  NodeTest test;
  std::string* scratch;
  bool operator()(const Document& doc, NodeId id) const {
    return test.passes_number(string_to_number(node_string(doc, id, *scratch)));
  }
};

template <typename Hit>
EvalResult settle(const Expr::LocationPath& path, const Document& doc, NodeId context,
                  const Hit& hit, bool when_hit, Watch* watch) {
  switch (walk_path(path, doc, context, hit, watch)) {
    case Seen::stopped:
      return std::unexpected(interrupted_message());
    case Seen::hit:
      return when_hit;
    default:
      return !when_hit;
  }
}

}  // namespace

bool walkable_path(const Expr::LocationPath& path) {
  std::size_t i = 0;
  const std::span<const Step> steps = path.steps;
  // Node-type tests other than node() are left to the evaluator.
  auto plain = [](const Step& s) { return s.predicates.empty() && s.type == NodeType::node; };
  for (; i < steps.size() && keeps_one_node(steps[i].axis); ++i) {
    if (!plain(steps[i])) return false;
  }
  if (i == steps.size()) return true;
  if (!plain(steps[i])) return false;
  std::size_t tail = 0;
  for (++i; i < steps.size(); ++i) {
    const Step& s = steps[i];
    if (!plain(s)) return false;
    if (s.axis == Axis::self && !s.name_test) continue;
    if (s.axis != Axis::child && s.axis != Axis::attribute) return false;
    if (++tail > kMaxTail) return false;
  }
  return true;
}

bool single_node_path(const Expr::LocationPath& path) {
  if (path.absolute) return false;
  for (const Step& s : path.steps) {
    if (!keeps_one_node(s.axis) || !s.predicates.empty()) return false;
  }
  return true;
}

EvalResult compare_walked(BinaryOp op, const Expr::LocationPath& path, const Value& other,
                          const Document& doc, NodeId context, Watch* watch) {
  const bool eq = op == BinaryOp::eq;
  std::string scratch;
  if (other.index() != 3) {
    const NodeTest test(eq, other);
    switch (test.kind()) {
      case NodeTest::Kind::presence:
        return settle(path, doc, context, AnyNode{}, test.when_nodes(), watch);
      case NodeTest::Kind::number:
        return settle(path, doc, context, NumberIs{test, &scratch}, true, watch);
      default:
        return settle(path, doc, context, TextIs{test, &scratch}, true, watch);
    }
  }
  // One node compares as its string value; none, or one outside its
  // document, equals and differs from nothing.
  const NodeSet& set = std::get<NodeSet>(other);
  if (set.ids.empty() || set.document == nullptr || !set.document->contains(set.ids.front())) {
    return false;
  }
  std::string held;
  const std::string_view text = node_string(*set.document, set.ids.front(), held);
  return settle(path, doc, context, TextIs{NodeTest(eq, text), &scratch}, true, watch);
}

}  // namespace tovarn::xpath::detail
