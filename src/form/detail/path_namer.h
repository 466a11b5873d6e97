#pragma once
// Node paths for many nodes of one document: each parent's children are
// counted by name once, however many of its descendants are named.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/child_names.h"
#include "tree/document.h"

namespace tovarn::form::detail {

// Gives what tree::node_path gives. Holds a view of the document, which must
// not change while the namer lives.
class PathNamer {
 public:
  explicit PathNamer(const tree::Document& doc) : doc_(doc), by_name_(doc) {}
  std::string path(tree::NodeId node);
  // The same into out, which is cleared first: many paths, one buffer.
  void path_into(tree::NodeId node, std::string& out);

 private:
  // Per node id: 0 until its parent is indexed, kBare for a segment without
  // position, else the position among its namesakes.
  static constexpr std::uint32_t kBare = UINT32_MAX;
  void index_children(tree::NodeId parent);

  const tree::Document& doc_;
  tree::ChildNames by_name_;  // a wide parent's children
  std::vector<std::uint32_t> position_;
  std::vector<tree::NodeId> chain_;
  // A narrow parent's children and their names.
  std::vector<tree::NodeId> siblings_;
  std::vector<std::string_view> names_;
};

}  // namespace tovarn::form::detail
