#pragma once
// The document arena: every XML document the engine handles (form, submission,
// instance, secondary instance, model document, repeat template) is one
// Document of element and attribute nodes addressed by NodeId.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovarn::tree {

namespace detail {
class Builder;  // the reader's direct line into a document under construction
}  // namespace detail

// An index into one document's node table. Ids are handed out from 0 in
// creation order and never reused: a detached node keeps its id and record.
// An id means nothing outside its own document.
enum class NodeId : std::uint32_t {};

constexpr std::uint32_t index_of(NodeId id) { return static_cast<std::uint32_t>(id); }

// A document is a plain value: copying it copies every record, the root and the
// document order, so every id means the same node in the copy.
//
// Texts returned as string_view stay valid until the document is next changed
// (any edit may grow the character store). Every operation taking an id
// requires an id of this document (`contains`); callers only hold such ids.
class Document {
 public:
  // Sentinel for "no position": ids missing from the document order.
  static constexpr std::uint32_t kUnindexed = UINT32_MAX;

  class SiblingRange;

  Document() = default;
  Document(const Document&) = default;
  Document(Document&&) noexcept = default;
  Document& operator=(const Document&) = default;
  Document& operator=(Document&&) noexcept = default;
  // Inside a Recycling scope, its tables go on the thread's shelves.
  ~Document();

  // --- records -------------------------------------------------------------
  std::size_t size() const { return nodes_.size(); }
  bool contains(NodeId id) const { return index_of(id) < nodes_.size(); }
  std::optional<NodeId> root() const;
  void set_root(NodeId element);

  std::string_view name(NodeId id) const;
  std::string_view text(NodeId id) const;
  bool is_attribute(NodeId id) const { return node(id).is_attribute; }
  // For an attribute, its owner element.
  std::optional<NodeId> parent(NodeId id) const;

  // Child elements in order; empty for an attribute.
  SiblingRange children(NodeId id) const;
  // Attribute nodes in order; empty for an attribute.
  SiblingRange attributes(NodeId id) const;
  std::optional<NodeId> first_child(NodeId id) const;
  std::optional<NodeId> next_sibling(NodeId id) const;
  std::optional<NodeId> previous_sibling(NodeId id) const;
  bool has_children(NodeId id) const { return node(id).first_child != kNone; }

  // --- trees held side by side ---------------------------------------------
  // A document whose root only holds trees (the model document: the
  // instance beside the secondary instances) may be marked so, after its
  // root is set. Then each held tree reads to paths as a document of its
  // own: absolute paths start at the primary tree's root (nowhere when there
  // is none), and the holder is no one's parent, so no axis climbs out of one
  // tree into another. A document not marked reads as it is.
  void hold_trees(std::optional<NodeId> primary);
  bool holds_trees() const { return holder_ != kNone; }
  // Where absolute paths start: the root, or the primary held tree's root.
  std::optional<NodeId> path_root() const;
  // The parent as paths see it: none for a held tree's top element.
  std::optional<NodeId> path_parent(NodeId id) const;

  // Bytes in the store of names and texts, with those of replaced texts and
  // detached nodes, which stay until the document is copied afresh.
  std::size_t stored_bytes() const { return chars_.size(); }
  // Copies the names and texts the records hold into a fresh store, ids and
  // order unchanged, leaving behind what replaced texts left; nothing is done
  // when that would not shrink the store. Every view of a name or text taken
  // before is invalidated.
  void compact_store();

  // Room for `nodes` records in all, so building them does not reallocate.
  void reserve(std::size_t nodes);

  // --- edits (none touches the document order or the root) -----------------
  // A document holds fewer than 2^32 - 1 records and at most 2^32 - 1 bytes of
  // names and texts; an edit that would pass either throws std::length_error
  // rather than wrap an offset (the reader refuses inputs of that size first).

  // A detached element with that name and text; its id is the old size().
  NodeId new_element(std::string_view name, std::string_view text);
  // Appends an attribute node to the end of the owner's attributes; does not
  // look for an existing attribute of that name.
  void add_attribute(NodeId owner, std::string_view name, std::string_view value);
  // Replaces an element's own text or an attribute's value.
  void set_text(NodeId id, std::string_view text);
  // `child` must have no parent.
  void append_child(NodeId parent, NodeId child);
  // The same, as the parent's first child.
  void prepend_child(NodeId parent, NodeId child);
  // Places `node` (which has no parent) right after `anchor` among the
  // anchor's parent's children; nothing happens when the anchor has no parent.
  void insert_after(NodeId anchor, NodeId node);
  // Takes an element out of its parent's children; it keeps its subtree.
  void detach(NodeId element);
  // Takes an attribute node out of its owner's attribute list.
  void remove_attribute(NodeId attribute);

  // --- document order ------------------------------------------------------
  // Rebuilds the order whole: a preorder walk from the root in which each
  // element is followed by its attributes and then its children's subtrees.
  // Iterative, so depth does not matter. Call after every change of structure.
  void reindex_document_order();
  // Brings the order up to date after `element`, a subtree none of whose
  // nodes is in it, was linked into a document whose order was rebuilt after
  // every other change of structure: the order a rebuild makes, in time of
  // the subtree and of what follows it in the order.
  void index_linked_subtree(NodeId element);
  // The node's position in the order, or kUnindexed.
  std::uint32_t order_position(NodeId id) const;
  // The last position inside the node's subtree (its own position for a leaf
  // or an attribute), or kUnindexed. A node's descendants and their attributes
  // occupy exactly the positions after its own up to this one.
  std::uint32_t order_subtree_end(NodeId id) const;
  // The node at an order position; `position` must be below order_size().
  NodeId at_order_position(std::uint32_t position) const {
    return identity_order_ ? NodeId{position} : order_nodes_[position];
  }
  std::uint32_t order_size() const {
    return identity_order_ ? identity_order_size_ : static_cast<std::uint32_t>(order_nodes_.size());
  }
  // Whether no element has been linked, unlinked or made root since the last
  // rebuild: then every walk from an indexed element meets its descendants in
  // document order, and sorting them is needless.
  bool order_is_current() const { return order_current_; }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Node {
    std::uint32_t parent = kNone;
    std::uint32_t first_child = kNone;  // for an element: child elements
    std::uint32_t last_child = kNone;
    std::uint32_t first_attribute = kNone;
    std::uint32_t last_attribute = kNone;
    std::uint32_t previous = kNone;  // siblings, or neighbouring attributes
    std::uint32_t next = kNone;
    std::uint32_t name_offset = 0;
    std::uint32_t name_length = 0;
    std::uint32_t text_offset = 0;
    std::uint32_t text_length = 0;
    bool is_attribute = false;
  };

  const Node& node(NodeId id) const { return nodes_[index_of(id)]; }
  Node& node(NodeId id) { return nodes_[index_of(id)]; }
  bool views_store(std::string_view text) const;
  // Appends text to the character store (safe when `text` views the store).
  std::pair<std::uint32_t, std::uint32_t> store(std::string_view text);
  NodeId append_record(std::string_view name, std::string_view text, bool is_attribute);
  // Links element `id` into `parent`'s children between two siblings, kNone
  // standing for an end.
  void link_child(std::uint32_t parent, std::uint32_t id, std::uint32_t previous,
                  std::uint32_t next);

  friend class SiblingRange;
  friend class detail::Builder;
  friend NodeId copy_subtree(Document& destination, const Document& source, NodeId element);
  // reindex_document_order's walk for ids that already are the order; false
  // (order_subtree_end_ left partial) where they are not.
  bool index_identity_order();
  // The walk that a rebuild of the order and an entered subtree share.
  void order_subtree(std::uint32_t top, std::uint32_t first, std::vector<NodeId>& out);
  // copy_subtree's fast path; false (nothing done) where it does not apply.
  static bool copy_ordered_run(Document& destination, const Document& source, NodeId element,
                               NodeId& copy);

  std::uint32_t root_ = kNone;
  std::uint32_t holder_ = kNone;   // the root, in a document marked as holding trees
  std::uint32_t primary_ = kNone;  // the primary held tree's top element
  bool order_current_ = true;  // the empty order of an empty document is current
  std::vector<Node> nodes_;
  std::string chars_;  // every name and text, addressed by offset
  // A document fresh from the reader has ids that are its order positions:
  // then the first identity_order_size_ ids are ordered as numbered, and the
  // two tables that map ids and positions to each other stay empty (a parse
  // per request need not fill two identity tables).
  bool identity_order_ = false;
  std::uint32_t identity_order_size_ = 0;
  std::vector<std::uint32_t> order_position_;     // by id; empty while identity_order_
  std::vector<std::uint32_t> order_subtree_end_;  // by id
  std::vector<NodeId> order_nodes_;               // by position; empty while identity_order_
};

// Iterates a chain of siblings (child elements or attribute nodes) in order.
class Document::SiblingRange {
 public:
  class iterator {
   public:
    using value_type = NodeId;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    iterator(const Document* d, std::uint32_t i) : doc_(d), i_(i) {}
    NodeId operator*() const { return NodeId{i_}; }
    iterator& operator++() {
      i_ = doc_->nodes_[i_].next;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& o) const { return i_ == o.i_; }

   private:
    const Document* doc_ = nullptr;
    std::uint32_t i_ = kNone;
  };
  SiblingRange(const Document* d, std::uint32_t first) : doc_(d), first_(first) {}
  iterator begin() const { return {doc_, first_}; }
  iterator end() const { return {doc_, kNone}; }
  bool empty() const { return first_ == kNone; }

 private:
  const Document* doc_;
  std::uint32_t first_;
};

// Inline: every name test and string value reads these, and a record's
// offsets always lie inside the store, so no bounds check is needed.
inline std::string_view Document::name(NodeId id) const {
  const Node& n = node(id);
  return std::string_view(chars_.data() + n.name_offset, n.name_length);
}
inline std::string_view Document::text(NodeId id) const {
  const Node& n = node(id);
  return std::string_view(chars_.data() + n.text_offset, n.text_length);
}

// Inline too: sorting and scanning node lists ask these of every node.
inline std::uint32_t Document::order_position(NodeId id) const {
  const std::uint32_t i = index_of(id);
  if (identity_order_) return i < identity_order_size_ ? i : kUnindexed;
  return i < order_position_.size() ? order_position_[i] : kUnindexed;
}
inline std::uint32_t Document::order_subtree_end(NodeId id) const {
  const std::uint32_t i = index_of(id);
  return i < order_subtree_end_.size() ? order_subtree_end_[i] : kUnindexed;
}

// Inline too: every step and walk asks these of every node it passes.
inline std::optional<NodeId> Document::root() const {
  if (root_ == kNone) return std::nullopt;
  return NodeId{root_};
}
inline std::optional<NodeId> Document::parent(NodeId id) const {
  const std::uint32_t p = node(id).parent;
  if (p == kNone) return std::nullopt;
  return NodeId{p};
}
inline std::optional<NodeId> Document::path_root() const {
  const std::uint32_t r = holder_ == kNone ? root_ : primary_;
  if (r == kNone) return std::nullopt;
  return NodeId{r};
}
// holder_ is kNone in a document not marked, where the second test then
// never holds: one compare more per step up.
inline std::optional<NodeId> Document::path_parent(NodeId id) const {
  const std::uint32_t p = node(id).parent;
  if (p == kNone || p == holder_) return std::nullopt;
  return NodeId{p};
}
inline std::optional<NodeId> Document::first_child(NodeId id) const {
  const std::uint32_t c = node(id).first_child;
  if (c == kNone) return std::nullopt;
  return NodeId{c};
}
inline std::optional<NodeId> Document::next_sibling(NodeId id) const {
  const std::uint32_t s = node(id).next;
  if (s == kNone) return std::nullopt;
  return NodeId{s};
}
inline std::optional<NodeId> Document::previous_sibling(NodeId id) const {
  const std::uint32_t s = node(id).previous;
  if (s == kNone) return std::nullopt;
  return NodeId{s};
}

inline Document::SiblingRange Document::children(NodeId id) const {
  return {this, node(id).first_child};
}
inline Document::SiblingRange Document::attributes(NodeId id) const {
  return {this, node(id).first_attribute};
}

// Copies an element of `source` with its attributes and descendants into
// `destination` (another document) and returns the detached copy. The copies get
// consecutive ids in the subtree's document order. Iterative.
NodeId copy_subtree(Document& destination, const Document& source, NodeId element);

}  // namespace tovarn::tree
