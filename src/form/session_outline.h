#pragma once
// The form's primary instance read as paths of names, what a session's edits
// are held to: an element or attribute belongs to the form when its path of
// names from the root ("/data/hh/kid/age", no positions) is one of the form's
// instance, and an element the session creates goes where the form puts it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tree/document.h"

namespace tovarn::form {

// One entry per path: the rows of a repeat, its template among them, share
// one, whose children are all that any of them holds, in the order they first
// appear. Entry 0 is the root's. Immutable once built.
class InstanceOutline {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Entry {
    std::string name;
    std::uint32_t parent = kNone;
    // Place among the parent's entries in the form's order.
    std::uint32_t rank = 0;
    bool attribute = false;
    // A repeat's template row, in the document the outline was read from.
    std::optional<tree::NodeId> row;
  };

  InstanceOutline() = default;
  // Reads the element `doc`'s root and everything below it; each of
  // `templates` (elements of `doc`, in document order) makes its path a
  // repeat with that element as its row, a later one of a path replacing an
  // earlier one. `doc`'s order must be current.
  InstanceOutline(const tree::Document& doc, std::span<const tree::NodeId> templates);

  bool empty() const { return entries_.empty(); }
  const Entry& entry(std::uint32_t e) const { return entries_[e]; }
  // The child entry of that name, an attribute's or an element's.
  std::optional<std::uint32_t> child(std::uint32_t e, std::string_view name, bool attribute) const;
  // The entry of a node of an instance, by its names up from it; none when
  // its path is not the form's. `memo`, by the instance's node ids, keeps
  // what is found on the way (0 for a node not yet asked, else its entry
  // plus 1 or kNone), so the next node asked near it costs a lookup: a
  // node's path never changes, since no edit renames or moves an element.
  std::optional<std::uint32_t> entry_of(const tree::Document& instance, tree::NodeId node,
                                        std::vector<std::uint32_t>& memo) const;
  // "/data/hh/kid": the names from the root down.
  std::string path(std::uint32_t e) const;
  // Every repeat, in the order of its first template.
  std::span<const std::uint32_t> repeats() const { return repeats_; }

 private:
  static std::size_t hash(std::uint32_t parent, bool attribute, std::string_view name);

  std::vector<Entry> entries_;
  // Every entry but the root's by (parent, kind, name), open addressing with
  // linear probing; kNone marks a free slot. Edits look up each level of a
  // path, and a hash finds a child of a wide parent in one probe or two.
  std::vector<std::uint32_t> slots_;
  std::vector<std::uint32_t> repeats_;
};

// Links `node`, which has no parent, under `parent` (an element of entry
// `parent_entry`) where the form puts an element of entry `e`: after the last
// child the form has before it, else first. Leaves the order to the caller.
void place_as_the_form_does(tree::Document& doc, const InstanceOutline& outline,
                            std::uint32_t parent_entry, tree::NodeId parent, std::uint32_t e,
                            tree::NodeId node);

}  // namespace tovarn::form
