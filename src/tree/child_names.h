#pragma once
// A table of one document's children by name: the one way the engine finds a
// wide parent's children of one name without reading every child's name.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "tree/document.h"

namespace tovarn::tree {

// Judging asks ../q in each row and /data/q in each rule, and the scans of
// wide groups were most of it. A wide parent's children enter the table once
// it has been scanned a few times, so a parent read once costs a scan, as
// before; a narrow one is always scanned. The document's structure and names
// must stay as they are while the table lives; texts may change.
class ChildNames {
 public:
  // Up to this many children a scan costs no more than a lookup.
  static constexpr std::uint32_t kNarrow = 8;
  static constexpr std::uint32_t kNone = UINT32_MAX;

  explicit ChildNames(const Document& doc) : doc_(doc) {}
  ChildNames(const ChildNames&) = delete;
  ChildNames& operator=(const ChildNames&) = delete;

  // While a scope lives, of() answers its table for its document, so that
  // the child steps of every evaluation on that thread use it. Scopes nest,
  // the innermost one answering for its document.
  class Scope {
   public:
    explicit Scope(ChildNames& names);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class ChildNames;
    ChildNames& names_;
    Scope* outer_;
  };
  // The table of the innermost scope for `doc`, or nullptr.
  static ChildNames* of(const Document& doc);

  // Appends the children of `parent` named `name`, in order, as a scan of
  // its children would, and answers true; false, appending nothing, for an
  // id outside the document.
  [[nodiscard]] bool append(NodeId parent, std::string_view name, std::vector<NodeId>& out);

  // For walks that may stop at the first child: the index of the first child
  // of `parent` named `name` (kNone for none), the others through
  // next_named, once the table holds the parent. Else nullopt, and the
  // caller scans the children, which counts like a scan of append's.
  std::optional<std::uint32_t> first_named(NodeId parent, std::string_view name);
  std::uint32_t next_named(std::uint32_t child) const { return next_same_[child]; }

  // For a caller about to look up every child of `parent`: enters a wide
  // parent's children now, and answers whether the table holds the parent,
  // so that first_named answers for it at once.
  bool enter(NodeId parent);

 private:
  // By parent id: the scans of a wide parent so far, or this once its
  // children are in the table.
  static constexpr std::uint8_t kIndexed = UINT8_MAX;
  // A parent found narrow: scanned from then on, uncounted.
  static constexpr std::uint8_t kNarrowSeen = UINT8_MAX - 1;

  // The children of one parent with one name: a chain through next_same_.
  struct Entry {
    std::uint32_t parent;
    std::uint32_t hash;
    std::uint32_t first;
    std::uint32_t last;
  };

  // The parent's count of scans, made on first use; nullptr for an id
  // outside the document.
  std::uint8_t* scans_of(NodeId parent);
  // Enters the parent if it is wide, else marks it narrow.
  void enter_if_wide(NodeId parent, std::uint8_t& scans);
  void index(NodeId parent, std::uint32_t width);
  std::uint32_t lookup(std::uint32_t parent, std::string_view name);
  std::uint32_t* slot(std::uint32_t parent, std::uint32_t hash, std::string_view name);
  // Rehashes into a table at most half full with that many entries.
  void grow(std::size_t entries);

  const Document& doc_;
  std::vector<std::uint8_t> scans_;
  std::vector<std::uint32_t> slots_;      // open addressing over entries_
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> next_same_;  // by child id: its next sibling of that name
  int shift_ = 0;                         // 32 - log2 of slots_.size()
};

}  // namespace tovarn::tree
