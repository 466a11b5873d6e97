#include "tree/query.h"

#include <algorithm>
#include <cstdint>

#include "unicode/unicode.h"

namespace tovarn::tree {
namespace {

// Whether the preorder walk below `top` already is the stable document-order
// sort of its elements: positions never fall, unindexed ids coming last.
bool walk_is_sorted(const Document& doc, NodeId top) {
  if (doc.order_is_current()) return true;
  std::uint32_t last = 0;
  bool sorted = true;
  walk_below(doc, top, [&](NodeId id) {
    const std::uint32_t position = doc.order_position(id);
    sorted = position >= last;
    last = position;
    return sorted;
  });
  return sorted;
}

// Visits the descendants of `top` in the order of `descendants`, without
// building the list when the walk is already in that order.
template <class F>
void visit_descendants(const Document& doc, NodeId top, F&& f) {
  if (walk_is_sorted(doc, top)) {
    walk_below(doc, top, f);
    return;
  }
  for (NodeId id : descendants(doc, top)) {
    if (!f(id)) return;
  }
}

}  // namespace

std::vector<NodeId> ancestors(const Document& doc, NodeId id) {
  std::vector<NodeId> out;
  for (auto p = doc.parent(id); p; p = doc.parent(*p)) out.push_back(*p);
  return out;
}

std::vector<NodeId> descendants(const Document& doc, NodeId id) {
  std::vector<NodeId> out;
  walk_below(doc, id, [&](NodeId d) {
    out.push_back(d);
    return true;
  });
  if (!walk_is_sorted(doc, id)) {
    std::stable_sort(out.begin(), out.end(), [&](NodeId a, NodeId b) {
      return doc.order_position(a) < doc.order_position(b);
    });
  }
  return out;
}

void append_string_value(const Document& doc, NodeId id, std::string& out) {
  out += doc.text(id);
  visit_descendants(doc, id, [&](NodeId d) {
    out += doc.text(d);
    return true;
  });
}

std::string string_value(const Document& doc, NodeId id) {
  if (!doc.has_children(id)) return std::string(doc.text(id));
  std::string out;
  append_string_value(doc, id, out);
  return out;
}

std::optional<NodeId> child_named(const Document& doc, NodeId parent, std::string_view name) {
  for (NodeId child : doc.children(parent))
    if (doc.name(child) == name) return child;
  return std::nullopt;
}

std::optional<NodeId> attribute_named(const Document& doc, NodeId owner, std::string_view name) {
  for (NodeId attribute : doc.attributes(owner))
    if (doc.name(attribute) == name) return attribute;
  return std::nullopt;
}

std::optional<std::string_view> attribute_value(const Document& doc, NodeId id,
                                                std::string_view name) {
  std::optional<NodeId> attribute = attribute_named(doc, id, name);
  if (!attribute) return std::nullopt;
  return doc.text(*attribute);
}

std::optional<std::string> descendant_text(const Document& doc, std::string_view name) {
  auto root = doc.root();
  if (!root) return std::nullopt;
  std::optional<NodeId> found;
  visit_descendants(doc, *root, [&](NodeId d) {
    if (doc.name(d) == name) found = d;
    return !found;
  });
  if (!found) return std::nullopt;
  std::string value = string_value(doc, *found);
  if (unicode::is_blank(value)) return std::nullopt;
  return value;
}

std::string node_path(const Document& doc, NodeId id) {
  struct Segment {
    std::string_view name;
    std::uint32_t index;  // 0: no index
  };
  std::vector<Segment> segments;
  for (std::optional<NodeId> cur = id; cur; cur = doc.parent(*cur)) {
    const std::string_view name = doc.name(*cur);
    Segment segment{name, 0};
    if (auto p = doc.parent(*cur)) {
      std::uint32_t namesakes = 0;
      std::uint32_t k = 0;
      for (NodeId c : doc.children(*p)) {
        if (doc.name(c) != name) continue;
        ++namesakes;
        if (c == *cur) k = namesakes;
      }
      if (namesakes >= 2) segment.index = k == 0 ? 1 : k;
    }
    segments.push_back(segment);
  }
  std::string out;
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    out += '/';
    out += it->name;
    if (it->index != 0) {
      out += '[';
      out += std::to_string(it->index);
      out += ']';
    }
  }
  return out;
}

}  // namespace tovarn::tree
