#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "tree/query.h"
#include "tree/child_names.h"
#include "xpath/detail/location.h"

namespace tovarn::xpath::detail {

namespace {

using tree::Document;
using tree::NodeId;

class NameTest {
 public:
  explicit NameTest(std::optional<std::string_view> name)
      : any_(!name), name_(name.value_or(std::string_view())) {}
  bool operator()(const Document& doc, NodeId id) const { return any_ || named(doc, id); }
  bool any() const { return any_; }
  bool named(const Document& doc, NodeId id) const {
    // Sibling names of one length mostly differ in their first or last byte
    // ("q1", "q2"), which spares most candidates the call into memcmp.
    const std::string_view n = doc.name(id);
    const std::size_t size = n.size();
    if (size != name_.size()) return false;
    if (size == 0) return true;
    if (n[0] != name_[0] || n[size - 1] != name_[size - 1]) return false;
    // Names are short: a loop is cheaper than the call.
    if (size <= 16) {
      for (std::size_t i = 1; i + 1 < size; ++i) {
        if (n[i] != name_[i]) return false;
      }
      return true;
    }
    return std::memcmp(n.data(), name_.data(), size) == 0;
  }

 private:
  bool any_;
  std::string_view name_;
};

bool is_below(const Document& doc, NodeId node, NodeId ancestor) {
  for (auto p = doc.parent(node); p; p = doc.parent(*p)) {
    if (*p == ancestor) return true;
  }
  return false;
}

// Element descendants in document order. An indexed node's subtree is one
// range of order positions; an unindexed one (detached, or made since the last
// rebuild) is walked down, across and up.
void collect_descendants(const Document& doc, NodeId node, const NameTest& match, NodeList& out) {
  if (doc.is_attribute(node)) return;
  const std::uint32_t pos = doc.order_position(node);
  if (pos != Document::kUnindexed) {
    const std::uint32_t end = doc.order_subtree_end(node);
    for (std::uint32_t p = pos + 1; p <= end; ++p) {
      NodeId id = doc.at_order_position(p);
      if (!doc.is_attribute(id) && match(doc, id)) out.push_back(id);
    }
    return;
  }
  tree::walk_below(doc, node, [&](NodeId id) {
    if (match(doc, id)) out.push_back(id);
    return true;
  });
}

// The order ranges, first and past the last position, of the trees a
// document holds side by side, out of which following and preceding never
// reach; the whole order where it holds none. Found by position, so a list of
// nodes costs one pass over the holder's children, not a walk up from each.
class TreeRanges {
 public:
  using Range = std::pair<std::uint32_t, std::uint32_t>;
  explicit TreeRanges(const Document& doc) : whole_{0, doc.order_size()} {
    if (!doc.holds_trees()) return;
    for (NodeId top : doc.children(*doc.root())) {
      const std::uint32_t first = doc.order_position(top);
      if (first != Document::kUnindexed) ranges_.emplace_back(first, doc.order_subtree_end(top) + 1);
    }
  }
  // Which tree holds the node at that position, from 0 in document order;
  // count() for the holder and for an unindexed node.
  std::size_t index(std::uint32_t position) const {
    auto after = std::upper_bound(ranges_.begin(), ranges_.end(), position,
                                  [](std::uint32_t p, const Range& r) { return p < r.first; });
    if (after == ranges_.begin() || position >= std::prev(after)->second) return ranges_.size();
    return static_cast<std::size_t>(after - ranges_.begin()) - 1;
  }
  std::size_t count() const { return ranges_.size(); }
  // The range of that tree; the whole order for the holder and for an
  // unindexed node.
  Range of(std::uint32_t position) const {
    const std::size_t i = index(position);
    return i < ranges_.size() ? ranges_[i] : whole_;
  }

 private:
  Range whole_;
  std::vector<Range> ranges_;  // in document order
};

void collect_following(const Document& doc, NodeId node, const NameTest& match, NodeList& out,
                       const TreeRanges& trees) {
  const std::uint32_t pos = doc.order_position(node);
  // Nothing has a key above an unindexed node's.
  if (pos == Document::kUnindexed) return;
  // Everything after the subtree is following and no descendant of it.
  const std::uint32_t end = trees.of(pos).second;
  for (std::uint32_t p = doc.order_subtree_end(node) + 1; p < end; ++p) {
    NodeId id = doc.at_order_position(p);
    if (!doc.is_attribute(id) && match(doc, id)) out.push_back(id);
  }
}

void collect_preceding(const Document& doc, NodeId node, const NameTest& match, NodeList& out,
                       const TreeRanges& trees) {
  const std::uint32_t pos = doc.order_position(node);
  const auto [first, end] = trees.of(pos);
  if (pos == Document::kUnindexed) {
    for (std::uint32_t p = first; p < end; ++p) {
      NodeId id = doc.at_order_position(p);
      if (!doc.is_attribute(id) && match(doc, id) &&
          following_preceding_filter(doc, Axis::preceding, node, pos, id)) {
        out.push_back(id);
      }
    }
    return;
  }
  // An element before the node is its ancestor exactly when its subtree
  // reaches the node's position.
  for (std::uint32_t p = first; p < pos; ++p) {
    NodeId id = doc.at_order_position(p);
    if (!doc.is_attribute(id) && doc.order_subtree_end(id) < pos && match(doc, id)) {
      out.push_back(id);
    }
  }
}

}  // namespace

void collect_axis(const Document& doc, Axis axis, NodeId node,
                  std::optional<std::string_view> name_test, NodeList& out) {
  const NameTest match(name_test);
  auto add = [&](NodeId id) {
    if (match(doc, id)) out.push_back(id);
  };
  switch (axis) {
    case Axis::child:
      // The scan of a parent's children for one name is the hottest loop of
      // judging; it tests nothing else per child.
      if (match.any()) {
        for (NodeId c : doc.children(node)) out.push_back(c);
      } else if (tree::ChildNames* names = tree::ChildNames::of(doc);
                 names == nullptr || !names->append(node, *name_test, out)) {
        for (NodeId c : doc.children(node)) {
          if (match.named(doc, c)) out.push_back(c);
        }
      }
      return;
    case Axis::attribute:
      if (doc.is_attribute(node)) return;
      for (NodeId a : doc.attributes(node)) add(a);
      return;
    case Axis::parent:
      if (auto p = doc.path_parent(node)) add(*p);
      return;
    case Axis::self:
      add(node);
      return;
    case Axis::descendant_or_self:
      add(node);
      [[fallthrough]];
    case Axis::descendant:
      collect_descendants(doc, node, match, out);
      return;
    case Axis::ancestor_or_self:
      add(node);
      [[fallthrough]];
    case Axis::ancestor:
      for (auto p = doc.path_parent(node); p; p = doc.path_parent(*p)) add(*p);
      return;
    case Axis::following:
      collect_following(doc, node, match, out, TreeRanges(doc));
      return;
    case Axis::preceding:
      collect_preceding(doc, node, match, out, TreeRanges(doc));
      return;
    case Axis::following_sibling:
      if (doc.is_attribute(node) || !doc.path_parent(node)) return;
      for (auto s = doc.next_sibling(node); s; s = doc.next_sibling(*s)) add(*s);
      return;
    case Axis::preceding_sibling: {
      if (doc.is_attribute(node)) return;
      auto parent = doc.path_parent(node);
      if (!parent) return;
      // A row reading the rows before it walks this loop for each row.
      for (NodeId s : doc.children(*parent)) {
        if (s == node) return;
        if (match.any() || match.named(doc, s)) out.push_back(s);
      }
      return;
    }
  }
}

void collect_axis_union(const Document& doc, Axis axis, const NodeList& list,
                        std::optional<std::string_view> name_test, NodeList& out) {
  const NameTest match(name_test);
  auto each = [&](auto&& fn) {
    for (NodeId node : list) {
      if (doc.contains(node)) fn(node);
    }
  };
  // Remembering what was covered pays off only for longer lists.
  const bool mark = list.size() > 8;
  switch (axis) {
    case Axis::descendant:
    case Axis::descendant_or_self: {
      // A node inside the subtree last walked adds nothing new but itself
      // when it is an attribute on descendant-or-self.
      std::uint32_t covered_end = 0;
      bool covering = false;
      std::uint32_t last_pos = 0;
      each([&](NodeId node) {
        const std::uint32_t pos = doc.order_position(node);
        const bool inside =
            covering && pos != Document::kUnindexed && pos >= last_pos && pos <= covered_end;
        if (inside) {
          if (axis == Axis::descendant_or_self && doc.is_attribute(node) && match(doc, node)) {
            out.push_back(node);
          }
          return;
        }
        collect_axis(doc, axis, node, name_test, out);
        if (pos != Document::kUnindexed) {
          covering = true;
          last_pos = pos;
          covered_end = doc.order_subtree_end(node);
        }
      });
      return;
    }
    case Axis::following:
    case Axis::preceding: {
      // Within one tree, following of the node whose subtree ends first
      // covers all others', and preceding of the latest node every earlier
      // one's: an ancestor of the latest is an ancestor, or after, every
      // earlier node. Trees held side by side each have their own such node.
      const bool following = axis == Axis::following;
      const TreeRanges trees(doc);
      std::vector<std::optional<NodeId>> best(trees.count() + 1);  // by tree
      each([&](NodeId node) {
        const std::uint32_t pos = doc.order_position(node);
        if (pos == Document::kUnindexed) {
          // Nothing follows an unindexed node; what precedes it is filtered.
          if (!following) collect_preceding(doc, node, match, out, trees);
          return;
        }
        std::optional<NodeId>& b = best[trees.index(pos)];
        if (!b || (following ? doc.order_subtree_end(node) < doc.order_subtree_end(*b)
                             : pos > doc.order_position(*b))) {
          b = node;
        }
      });
      for (const std::optional<NodeId>& b : best) {
        if (!b) continue;
        if (following) {
          collect_following(doc, *b, match, out, trees);
        } else {
          collect_preceding(doc, *b, match, out, trees);
        }
      }
      return;
    }
    case Axis::following_sibling:
    case Axis::preceding_sibling: {
      if (!mark) break;
      // The earliest (latest) listed child of a parent covers its siblings'
      // following (preceding) siblings.
      const bool following = axis == Axis::following_sibling;
      std::unordered_map<std::uint32_t, NodeId> best;
      std::vector<std::uint32_t> parents;  // in first-seen order
      each([&](NodeId node) {
        if (doc.is_attribute(node)) return;
        const auto parent = doc.path_parent(node);
        if (!parent) return;
        const std::uint32_t pos = doc.order_position(node);
        if (pos == Document::kUnindexed) {
          collect_axis(doc, axis, node, name_test, out);
          return;
        }
        auto [it, fresh] = best.try_emplace(index_of(*parent), node);
        if (fresh) {
          parents.push_back(index_of(*parent));
        } else if (following ? pos < doc.order_position(it->second)
                             : pos > doc.order_position(it->second)) {
          it->second = node;
        }
      });
      for (std::uint32_t p : parents) collect_axis(doc, axis, best[p], name_test, out);
      return;
    }
    case Axis::ancestor:
    case Axis::ancestor_or_self: {
      if (!mark) break;
      // Walks up stop at the first ancestor another walk already passed.
      std::unordered_set<std::uint32_t> seen;
      each([&](NodeId node) {
        if (axis == Axis::ancestor_or_self && match(doc, node)) out.push_back(node);
        for (auto p = doc.path_parent(node); p && seen.insert(index_of(*p)).second;
             p = doc.path_parent(*p)) {
          if (match(doc, *p)) out.push_back(*p);
        }
      });
      return;
    }
    case Axis::child: {
      // The children of each node of a long list, without a call per node.
      tree::ChildNames* names = match.any() ? nullptr : tree::ChildNames::of(doc);
      each([&](NodeId node) {
        if (names != nullptr && names->append(node, *name_test, out)) return;
        for (NodeId c : doc.children(node)) {
          if (match.any() || match.named(doc, c)) out.push_back(c);
        }
      });
      return;
    }
    default:
      break;
  }
  each([&](NodeId node) { collect_axis(doc, axis, node, name_test, out); });
}

bool following_preceding_filter(const Document& doc, Axis axis, NodeId context,
                                std::uint32_t context_key, NodeId candidate) {
  const std::uint32_t key = doc.order_position(candidate);
  if (axis == Axis::following) return key > context_key && !is_below(doc, candidate, context);
  return key < context_key && !is_below(doc, context, candidate);
}

}  // namespace tovarn::xpath::detail
