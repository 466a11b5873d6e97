#pragma once
// Read-only questions asked of a Document: ancestors, descendants, string
// values, named lookups, node paths and a preorder walk. Nothing here
// recurses.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tree/document.h"

namespace tovarn::tree {

// Parent, grandparent, ... up to the top, nearest first; the node excluded.
std::vector<NodeId> ancestors(const Document& doc, NodeId id);

// Every element below the node in document order, never an attribute.
std::vector<NodeId> descendants(const Document& doc, NodeId id);

// The node's own text followed by the texts of its descendants in document
// order; attribute values never contribute to an element's string value.
std::string string_value(const Document& doc, NodeId id);
// Appends the string value to `out` (no temporary for the common cases).
void append_string_value(const Document& doc, NodeId id, std::string& out);

// The first child element, or the first attribute, of that name.
std::optional<NodeId> child_named(const Document& doc, NodeId parent, std::string_view name);
std::optional<NodeId> attribute_named(const Document& doc, NodeId owner, std::string_view name);

// The value of the first attribute of that name.
std::optional<std::string_view> attribute_value(const Document& doc, NodeId id,
                                                std::string_view name);

// The string value of the first element of that name below the root (never
// the root), untrimmed; absent when there is none or its value is blank. A
// later element of that name is not looked at.
std::optional<std::string> descendant_text(const Document& doc, std::string_view name);

// "/" and the names from the top down, with "[k]" where a parent has two or
// more children of that name ("/data/group[2]/q"); an attribute's segment is
// its bare name, indexed by its owner's child elements of the same name.
std::string node_path(const Document& doc, NodeId id);

// Calls f(element) for every element below `top` in preorder, going down,
// across and up without a stack; stops early when f returns false.
template <class F>
void walk_below(const Document& doc, NodeId top, F&& f) {
  auto cur = doc.first_child(top);
  while (cur) {
    if (!f(*cur)) return;
    if (auto child = doc.first_child(*cur)) {
      cur = child;
      continue;
    }
    for (;;) {
      if (auto next = doc.next_sibling(*cur)) {
        cur = next;
        break;
      }
      cur = doc.parent(*cur);
      if (*cur == top) return;
    }
  }
}

}  // namespace tovarn::tree
