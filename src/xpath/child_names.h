#pragma once
// A table of one document's children by name, for the child steps of every
// evaluation while it lives.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tree/document.h"

namespace tovarn::xpath {

// While alive, a child step with a name test in `doc` finds its nodes through
// a table rather than by reading every child's name: judging asks ../q in
// each row and /data/q in each rule, and the scans of wide groups were most
// of it. A wide parent's children enter the table once steps have read them
// a few times, so a parent stepped into once costs a scan, as before. The
// document's structure and names must stay as they are meanwhile; texts may
// change.
// Lives on one thread; scopes nest, the innermost one answering for its
// document.
class ChildNames {
 public:
  explicit ChildNames(const tree::Document& doc);
  ~ChildNames();
  ChildNames(const ChildNames&) = delete;
  ChildNames& operator=(const ChildNames&) = delete;

  // The table of the innermost scope for `doc`, or nullptr.
  static ChildNames* of(const tree::Document& doc);

  // Appends the children of `parent` named `name`, in order, as a scan of
  // its children would, and answers true; false, appending nothing, for an
  // id outside the document.
  [[nodiscard]] bool append(tree::NodeId parent, std::string_view name,
                            std::vector<tree::NodeId>& out);

  static constexpr std::uint32_t kNone = UINT32_MAX;
  // For walks that may stop at the first child: the index of the first child
  // of `parent` named `name` (kNone for none), the others through
  // next_named, once the table holds the parent. Else nullopt, and the
  // caller scans the children, which counts like a scan of append's.
  std::optional<std::uint32_t> first_named(tree::NodeId parent, std::string_view name);
  std::uint32_t next_named(std::uint32_t child) const { return next_same_[child]; }

 private:
  // By parent id: the scans of a wide parent so far, or this once its
  // children are in the table.
  static constexpr std::uint8_t kIndexed = UINT8_MAX;
  // A parent first_named found narrow: scanned from then on, uncounted.
  static constexpr std::uint8_t kNarrowSeen = UINT8_MAX - 1;

  // The children of one parent with one name: a chain through next_same_.
  struct Entry {
    std::uint32_t parent;
    std::uint32_t hash;
    std::uint32_t first;
    std::uint32_t last;
  };

  void index(tree::NodeId parent, std::uint32_t width);
  std::uint32_t* slot(std::uint32_t parent, std::uint32_t hash, std::string_view name);
  // Rehashes into a table at most half full with that many entries.
  void grow(std::size_t entries);

  const tree::Document& doc_;
  ChildNames* outer_;
  std::vector<std::uint8_t> scans_;
  std::vector<std::uint32_t> slots_;    // open addressing over entries_
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> next_same_;  // by child id: its next sibling of that name
  int shift_ = 0;                         // 32 - log2 of slots_.size()
};

}  // namespace tovarn::xpath
