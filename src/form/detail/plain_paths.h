#pragma once
// The nodes of every bind whose nodeset is a plain absolute child path
// (/data/group/q), resolved together in one pass over a trie of the paths.
// Binds share long prefixes, so each node list of a shared prefix is found
// once, and the names wanted below it are looked up in the document's table
// of children by name: the cost is the part of the document the paths reach
// plus the length of the paths, not their number times the width of a parent.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "form/model.h"
#include "tree/document.h"

namespace tovarn::form::detail {

// Holds views of the binds' texts and of the document, neither of which may
// change while this lives.
class PlainPaths {
 public:
  PlainPaths(const std::vector<Bind>& binds, const tree::Document& doc);

  // Whether the bind's nodeset is a plain child path, read from its text or
  // from its parsed steps.
  bool covers(std::size_t bind) const { return of_bind_[bind] != kNone; }
  // For a covered bind, what evaluating its nodeset at the root gives: the
  // same nodes in the same order.
  std::span<const tree::NodeId> of(std::size_t bind) const {
    const Node& n = nodes_[of_bind_[bind]];
    return std::span<const tree::NodeId>(selected_).subspan(n.first, n.count);
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Node {
    std::uint32_t parent;
    std::string_view name;
    std::uint32_t hash;  // of the parent and the name
    std::uint32_t first_child = kNone;
    std::uint32_t last_child = kNone;
    std::uint32_t next_sibling = kNone;
    std::uint32_t first = 0;  // the node list, in selected_
    std::uint32_t count = 0;
  };

  // The trie node below `parent` of that name, made when new.
  std::uint32_t child(std::uint32_t parent, std::string_view name);
  void grow();
  void resolve(const tree::Document& doc);

  std::vector<Node> nodes_;          // [0] stands above the root element
  std::vector<std::uint32_t> slots_;  // open addressing over (parent, name)
  std::vector<std::uint32_t> of_bind_;
  std::vector<tree::NodeId> selected_;
};

}  // namespace tovarn::form::detail
