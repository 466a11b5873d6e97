#include "form/session_outline.h"

#include <array>
#include <functional>

namespace tovarn::form {

using tree::Document;
using tree::NodeId;

std::size_t InstanceOutline::hash(std::uint32_t parent, bool attribute, std::string_view name) {
  return std::hash<std::string_view>{}(name) ^
         ((std::size_t{parent} << 1 | attribute) * 0x9E3779B97F4A7C15ull);
}

InstanceOutline::InstanceOutline(const Document& doc, std::span<const NodeId> templates) {
  const std::optional<NodeId> root = doc.root();
  if (!root) return;
  // By node id, the entry of each node met so far; the document order meets
  // every parent before its children.
  std::vector<std::uint32_t> entry_of_node(doc.size(), kNone);
  std::vector<std::uint32_t> children_of;  // by entry: how many it has
  // At most one entry per node: sized once, the table is never rehashed.
  std::size_t slots = 16;
  while (slots < 2 * std::size_t{doc.order_size()}) slots *= 2;
  slots_.assign(slots, kNone);
  const std::size_t mask = slots - 1;
  entries_.push_back(Entry{std::string(doc.name(*root)), kNone, 0, false, std::nullopt});
  children_of.push_back(0);
  entry_of_node[tree::index_of(*root)] = 0;
  const std::uint32_t first = doc.order_position(*root);
  const std::uint32_t last = doc.order_subtree_end(*root);
  for (std::uint32_t p = first + 1; p <= last && last != Document::kUnindexed; ++p) {
    const NodeId node = doc.at_order_position(p);
    const std::uint32_t parent = entry_of_node[tree::index_of(*doc.parent(node))];
    const bool attribute = doc.is_attribute(node);
    const std::string_view name = doc.name(node);
    std::size_t at = hash(parent, attribute, name) & mask;
    while (slots_[at] != kNone) {
      const Entry& known = entries_[slots_[at]];
      if (known.parent == parent && known.attribute == attribute && known.name == name) break;
      at = (at + 1) & mask;
    }
    if (slots_[at] == kNone) {
      slots_[at] = static_cast<std::uint32_t>(entries_.size());
      entries_.push_back(
          Entry{std::string(name), parent, children_of[parent]++, attribute, std::nullopt});
      children_of.push_back(0);
    }
    entry_of_node[tree::index_of(node)] = slots_[at];
  }
  for (const NodeId element : templates) {
    const std::uint32_t e = entry_of_node[tree::index_of(element)];
    if (e == kNone || e == 0) continue;  // the root is never a row
    if (!entries_[e].row) repeats_.push_back(e);
    entries_[e].row = element;
  }
}

std::optional<std::uint32_t> InstanceOutline::child(std::uint32_t e, std::string_view name,
                                                    bool attribute) const {
  if (slots_.empty()) return std::nullopt;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash(e, attribute, name) & mask; slots_[at] != kNone; at = (at + 1) & mask) {
    const Entry& known = entries_[slots_[at]];
    if (known.parent == e && known.attribute == attribute && known.name == name) return slots_[at];
  }
  return std::nullopt;
}

std::optional<std::uint32_t> InstanceOutline::entry_of(const Document& instance, NodeId node,
                                                       std::vector<std::uint32_t>& memo) const {
  if (entries_.empty()) return std::nullopt;
  if (memo.size() < instance.size()) memo.resize(instance.size(), 0);
  // The nodes up to the nearest one asked before, which mostly is the node
  // itself or its parent; a deep chain is met once, and goes to the heap.
  std::array<NodeId, 32> near;
  std::vector<NodeId> far;
  std::size_t depth = 0;
  std::optional<NodeId> at = node;
  for (; at && memo[tree::index_of(*at)] == 0; at = instance.parent(*at), ++depth) {
    if (depth < near.size()) {
      near[depth] = *at;
      continue;
    }
    if (far.empty()) far.assign(near.begin(), near.end());
    far.push_back(*at);
  }
  const std::span<const NodeId> chain = far.empty() ? std::span<const NodeId>(near.data(), depth)
                                                    : std::span<const NodeId>(far);
  std::uint32_t e = kNone;
  auto down = chain.rbegin();
  if (at) {
    e = memo[tree::index_of(*at)] == kNone ? kNone : memo[tree::index_of(*at)] - 1;
  } else if (instance.name(*down) == entries_.front().name) {
    e = 0;
    memo[tree::index_of(*down++)] = 1;
  }
  for (; down != chain.rend(); ++down) {
    if (e != kNone) {
      std::optional<std::uint32_t> next = child(e, instance.name(*down), instance.is_attribute(*down));
      e = next ? *next : kNone;
    }
    memo[tree::index_of(*down)] = e == kNone ? kNone : e + 1;
  }
  if (e == kNone) return std::nullopt;
  return e;
}

std::string InstanceOutline::path(std::uint32_t e) const {
  std::vector<std::uint32_t> chain;
  std::size_t size = 0;
  for (std::uint32_t at = e; at != kNone; at = entries_[at].parent) {
    chain.push_back(at);
    size += 1 + entries_[at].name.size();
  }
  std::string out;
  out.reserve(size);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += '/';
    out += entries_[*it].name;
  }
  return out;
}

void place_as_the_form_does(Document& doc, const InstanceOutline& outline,
                            std::uint32_t parent_entry, NodeId parent, std::uint32_t e,
                            NodeId node) {
  const std::uint32_t rank = outline.entry(e).rank;
  std::optional<NodeId> anchor;
  for (const NodeId child : doc.children(parent)) {
    std::optional<std::uint32_t> known = outline.child(parent_entry, doc.name(child), false);
    if (known && outline.entry(*known).rank < rank) anchor = child;
  }
  if (anchor)
    doc.insert_after(*anchor, node);
  else
    doc.prepend_child(parent, node);
}

}  // namespace tovarn::form
