#pragma once
// The form's repeats, named as paths of the primary instance ("/data/hh",
// "/data/hh/m"): the elements that carry a template attribute or whose path
// is a repeat's nodeset, as the completion reads them. Held as a trie of
// names, so a form nesting many repeats costs memory linear in its instance.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "form/model.h"
#include "tree/document.h"

namespace tovarn::form::detail {

// Immutable once built; it owns its names.
class Repeats {
 public:
  static constexpr std::uint32_t kTop = 0;  // above the instance's root
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // `rows` are elements of `form_document` below `root`, the primary
  // instance's root element (repeat_rows gives them).
  Repeats(const tree::Document& form_document, tree::NodeId root,
          std::span<const tree::NodeId> rows);

  Repeats(const Repeats&) = delete;  // the trie views the names it owns
  Repeats& operator=(const Repeats&) = delete;

  // The trie node one name below `at`, or kNone.
  std::uint32_t child(std::uint32_t at, std::string_view name) const {
    auto found = trie_.find(Key{at, name});
    return found == trie_.end() ? kNone : found->second;
  }
  // Whether a repeat's path ends at the node.
  bool is_repeat(std::uint32_t at) const { return repeat_[at]; }

 private:
  struct Key {
    std::uint32_t parent;
    std::string_view name;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };
  std::string names_;
  std::unordered_map<Key, std::uint32_t, KeyHash> trie_;  // names view names_
  std::vector<bool> repeat_;                              // by trie node
};

// The repeats of a loaded form's primary instance (its instance_shape), or
// null when it has none.
std::shared_ptr<const Repeats> read_repeats(const FormModel& form);

}  // namespace tovarn::form::detail
