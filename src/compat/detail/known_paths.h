#pragma once
// The element paths of a form's instance (/data, /data/a, /data/a/b...) as a
// trie of distinct paths: one entry per path however many elements share it,
// and no path text stored, so a deep instance costs memory linear in its size.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tree/document.h"

namespace tovarn::compat::detail {

// Views the names of the document it was built from, which must outlive it.
class KnownPaths {
 public:
  KnownPaths() = default;
  // Every element of the subtree of `root`, the root included; iterative.
  KnownPaths(const tree::Document& doc, tree::NodeId root);

  // One id per path; kTop stands for the empty path above the root.
  using PathId = std::uint32_t;
  static constexpr PathId kTop = UINT32_MAX;

  bool empty() const { return entries_.empty(); }
  // The name of the root element; empty when there are no paths.
  std::string_view root_name() const;
  // Whether the text is "/" and the names of one of the paths joined by "/".
  bool contains(std::string_view path) const;
  // The path that extends the path of `parent` by one name, if it is one.
  std::optional<PathId> child(PathId parent, std::string_view name) const;
  // The one path whose last name is `name`; none when no path or two or more
  // end with it.
  std::optional<std::string> only_path_ending_with(std::string_view name) const;

 private:
  struct Entry {
    std::uint32_t parent;
    std::string_view name;
  };
  struct NameCount {
    std::uint32_t entries = 0;
    std::uint32_t first = 0;
  };

  static std::size_t hash(std::uint32_t parent, std::string_view name);
  // The slot that holds the entry of that parent and name, or the empty slot
  // where it would go.
  std::size_t slot_of(std::uint32_t parent, std::string_view name) const;
  std::uint32_t child_entry(std::uint32_t parent, std::string_view name);
  std::string path_of(std::uint32_t entry) const;

  std::vector<Entry> entries_;
  // Open addressing over entries by (parent, name): entry index + 1, 0 for
  // empty. Sized once for every element, so it never grows while filled.
  std::vector<std::uint32_t> slots_;
  std::unordered_map<std::string_view, NameCount> by_name_;
};

}  // namespace tovarn::compat::detail
