#include <algorithm>

#include "xpath/detail/location.h"

namespace tovarn::xpath::detail {

namespace {

using tree::Document;
using tree::NodeId;

class NameTest {
 public:
  explicit NameTest(const std::optional<std::string>& name) : name_(name) {}
  bool operator()(const Document& doc, NodeId id) const {
    // string_view equality compares the lengths before the bytes.
    return !name_ || doc.name(id) == std::string_view(*name_);
  }

 private:
  const std::optional<std::string>& name_;
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
  auto cur = doc.first_child(node);
  while (cur) {
    if (match(doc, *cur)) out.push_back(*cur);
    if (auto child = doc.first_child(*cur)) {
      cur = child;
      continue;
    }
    while (cur) {
      if (auto next = doc.next_sibling(*cur)) {
        cur = next;
        break;
      }
      cur = doc.parent(*cur);
      if (cur == node) cur.reset();
    }
  }
}

void collect_following(const Document& doc, NodeId node, const NameTest& match, NodeList& out) {
  const std::uint32_t pos = doc.order_position(node);
  // Nothing has a key above an unindexed node's.
  if (pos == Document::kUnindexed) return;
  // Everything after the subtree is following and no descendant of it.
  for (std::uint32_t p = doc.order_subtree_end(node) + 1; p < doc.order_size(); ++p) {
    NodeId id = doc.at_order_position(p);
    if (!doc.is_attribute(id) && match(doc, id)) out.push_back(id);
  }
}

void collect_preceding(const Document& doc, NodeId node, const NameTest& match, NodeList& out) {
  const std::uint32_t pos = doc.order_position(node);
  if (pos == Document::kUnindexed) {
    for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
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
  for (std::uint32_t p = 0; p < pos; ++p) {
    NodeId id = doc.at_order_position(p);
    if (!doc.is_attribute(id) && doc.order_subtree_end(id) < pos && match(doc, id)) {
      out.push_back(id);
    }
  }
}

}  // namespace

void collect_axis(const Document& doc, Axis axis, NodeId node,
                  const std::optional<std::string>& name_test, NodeList& out) {
  const NameTest match(name_test);
  auto add = [&](NodeId id) {
    if (match(doc, id)) out.push_back(id);
  };
  switch (axis) {
    case Axis::child:
      for (NodeId c : doc.children(node)) add(c);
      return;
    case Axis::attribute:
      if (doc.is_attribute(node)) return;
      for (NodeId a : doc.attributes(node)) add(a);
      return;
    case Axis::parent:
      if (auto p = doc.parent(node)) add(*p);
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
      for (auto p = doc.parent(node); p; p = doc.parent(*p)) add(*p);
      return;
    case Axis::following:
      collect_following(doc, node, match, out);
      return;
    case Axis::preceding:
      collect_preceding(doc, node, match, out);
      return;
    case Axis::following_sibling:
      if (doc.is_attribute(node) || !doc.parent(node)) return;
      for (auto s = doc.next_sibling(node); s; s = doc.next_sibling(*s)) add(*s);
      return;
    case Axis::preceding_sibling: {
      if (doc.is_attribute(node)) return;
      auto parent = doc.parent(node);
      if (!parent) return;
      for (NodeId s : doc.children(*parent)) {
        if (s == node) return;
        add(s);
      }
      return;
    }
  }
}

bool following_preceding_filter(const Document& doc, Axis axis, NodeId context,
                                std::uint32_t context_key, NodeId candidate) {
  const std::uint32_t key = doc.order_position(candidate);
  if (axis == Axis::following) return key > context_key && !is_below(doc, candidate, context);
  return key < context_key && !is_below(doc, context, candidate);
}

}  // namespace tovarn::xpath::detail
