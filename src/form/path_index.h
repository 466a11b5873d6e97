#pragma once
// A session's index of its instance's children by name.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tree/document.h"
#include "xpath/expr.h"

namespace tovarn::form {

// Hashes texts so that maps keyed by std::string are searched by string_view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

// The child elements of every element of one instance by name, so that a
// plain absolute child path (/data/group/q, /data/rep[3]/q: child steps with
// names, each with at most a number for predicate) finds its node without
// scanning siblings. It keeps no view into the document; once the document's
// node count or order changes size it is stale and is no longer consulted.
class PathIndex {
 public:
  void build(const tree::Document& doc);
  bool fresh(const tree::Document& doc) const;
  // Whether the path is a plain absolute child path; then `node` is the
  // first node it selects, by the evaluator's rules.
  bool first(const tree::Document& doc, const xpath::Expr& path,
             std::optional<tree::NodeId>& node) const;

 private:
  // A parent's children of one name: `children_[begin, end)`, in child order.
  struct Group {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
  };
  Group group(std::uint32_t parent, std::uint32_t name) const;

  bool built_ = false;
  std::size_t size_ = 0;
  std::uint32_t order_size_ = 0;
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> names_;
  std::unordered_map<std::uint64_t, Group> groups_;  // by (parent, name)
  std::vector<tree::NodeId> children_;
};

}  // namespace tovarn::form
