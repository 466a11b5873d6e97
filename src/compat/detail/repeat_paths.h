#pragma once
// The paths of a form's repeats as a trie of their segments, so that whether a
// path lies in a repeat costs the path's length, however many repeats there are.

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tovarn::compat::detail {

// Views the texts it is given, which must outlive it.
class RepeatPaths {
 public:
  // A repeat's nodeset, trimmed. Its trailing "/" are cut; one that is then
  // empty is dropped, since it would make every path count as repeating.
  void add(std::string_view path);
  // Whether the path is a repeat path, or lies below one ("{}/") that `bind`,
  // the path of the bind reading it, does not lie in: there both engines read
  // the bind's own row.
  bool covers(std::string_view path, std::string_view bind = {}) const;

 private:
  struct Key {
    std::uint32_t parent;
    std::string_view segment;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };

  // Node 0 is the empty path; the others are numbered from 1 as added.
  std::unordered_map<Key, std::uint32_t, KeyHash> children_;
  std::vector<bool> ends_{false};  // whether a repeat path ends at the node
};

}  // namespace tovarn::compat::detail
