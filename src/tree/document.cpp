#include "tree/document.h"

#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "tree/detail/messages.h"
#include "tree/fast_paths.h"
#include "tree/recycle.h"

namespace tovarn::tree {
namespace {
constexpr std::size_t kMaxChars = UINT32_MAX;
}  // namespace

Document::~Document() {
  if (!Recycling::active()) return;
  give_buffer(nodes_);
  give_buffer(chars_);
  give_buffer(order_position_);
  give_buffer(order_subtree_end_);
  give_buffer(order_nodes_);
}

void Document::reserve(std::size_t nodes) {
  make_room(nodes_, nodes);
  nodes_.reserve(nodes);
}

void Document::set_root(NodeId element) {
  root_ = index_of(element);
  order_current_ = false;
}

void Document::hold_trees(std::optional<NodeId> primary) {
  holder_ = root_;
  primary_ = primary ? index_of(*primary) : kNone;
}

bool Document::views_store(std::string_view text) const {
  const char* base = chars_.data();
  return !text.empty() && text.data() >= base && text.data() < base + chars_.size();
}

std::pair<std::uint32_t, std::uint32_t> Document::store(std::string_view text) {
  if (views_store(text)) {
    // Already in the store: share the bytes instead of copying them.
    return {static_cast<std::uint32_t>(text.data() - chars_.data()),
            static_cast<std::uint32_t>(text.size())};
  }
  if (text.size() > kMaxChars - chars_.size()) {
    throw std::length_error(detail::store_full());
  }
  auto offset = static_cast<std::uint32_t>(chars_.size());
  make_room(chars_, chars_.size() + text.size());
  chars_.append(text);
  return {offset, static_cast<std::uint32_t>(text.size())};
}

NodeId Document::append_record(std::string_view name, std::string_view text, bool is_attribute) {
  if (nodes_.size() >= kNone) throw std::length_error(detail::too_many_nodes());
  Node n;
  // Storing the name may move the store, so a text that views it is placed
  // first when it does.
  if (views_store(text)) {
    std::tie(n.text_offset, n.text_length) = store(text);
    std::tie(n.name_offset, n.name_length) = store(name);
  } else {
    std::tie(n.name_offset, n.name_length) = store(name);
    std::tie(n.text_offset, n.text_length) = store(text);
  }
  n.is_attribute = is_attribute;
  make_room(nodes_, nodes_.size() + 1);
  nodes_.push_back(n);
  return NodeId{static_cast<std::uint32_t>(nodes_.size() - 1)};
}

NodeId Document::new_element(std::string_view name, std::string_view text) {
  return append_record(name, text, false);
}

void Document::add_attribute(NodeId owner, std::string_view name, std::string_view value) {
  NodeId id = append_record(name, value, true);
  Node& a = node(id);
  Node& o = node(owner);
  a.parent = index_of(owner);
  a.previous = o.last_attribute;
  if (o.last_attribute == kNone) {
    o.first_attribute = index_of(id);
  } else {
    nodes_[o.last_attribute].next = index_of(id);
  }
  o.last_attribute = index_of(id);
}

void Document::compact_store() {
  std::size_t live = 0;
  for (const Node& n : nodes_) live += std::size_t{n.name_length} + n.text_length;
  // Records may share bytes (an empty text at the end of a name), so the
  // copy could even be larger.
  if (live >= chars_.size()) return;
  std::string fresh = take_buffer<std::string>(live);
  for (Node& n : nodes_) {
    const auto name_at = static_cast<std::uint32_t>(fresh.size());
    fresh.append(chars_, n.name_offset, n.name_length);
    const auto text_at = static_cast<std::uint32_t>(fresh.size());
    fresh.append(chars_, n.text_offset, n.text_length);
    n.name_offset = name_at;
    n.text_offset = text_at;
  }
  give_buffer(chars_);
  chars_ = std::move(fresh);
}

void Document::set_text(NodeId id, std::string_view text) {
  auto [offset, length] = store(text);
  node(id).text_offset = offset;
  node(id).text_length = length;
}

void Document::link_child(std::uint32_t parent, std::uint32_t id, std::uint32_t previous,
                          std::uint32_t next) {
  order_current_ = false;
  Node& n = nodes_[id];
  n.parent = parent;
  n.previous = previous;
  n.next = next;
  if (previous == kNone) {
    nodes_[parent].first_child = id;
  } else {
    nodes_[previous].next = id;
  }
  if (next == kNone) {
    nodes_[parent].last_child = id;
  } else {
    nodes_[next].previous = id;
  }
}

void Document::append_child(NodeId parent, NodeId child) {
  link_child(index_of(parent), index_of(child), node(parent).last_child, kNone);
}

void Document::prepend_child(NodeId parent, NodeId child) {
  link_child(index_of(parent), index_of(child), kNone, node(parent).first_child);
}

void Document::insert_after(NodeId anchor, NodeId id) {
  const Node& a = node(anchor);
  if (a.parent == kNone) return;
  link_child(a.parent, index_of(id), index_of(anchor), a.next);
}

void Document::detach(NodeId element) {
  Node& n = node(element);
  if (n.parent == kNone) return;
  order_current_ = false;
  Node& p = nodes_[n.parent];
  if (n.previous == kNone) {
    p.first_child = n.next;
  } else {
    nodes_[n.previous].next = n.next;
  }
  if (n.next == kNone) {
    p.last_child = n.previous;
  } else {
    nodes_[n.next].previous = n.previous;
  }
  n.parent = n.previous = n.next = kNone;
}

void Document::remove_attribute(NodeId attribute) {
  Node& a = node(attribute);
  if (!a.is_attribute || a.parent == kNone) return;
  Node& o = nodes_[a.parent];
  if (a.previous == kNone) {
    o.first_attribute = a.next;
  } else {
    nodes_[a.previous].next = a.next;
  }
  if (a.next == kNone) {
    o.last_attribute = a.previous;
  } else {
    nodes_[a.next].previous = a.previous;
  }
  // The record keeps its owner as parent: an attribute's parent is its owner.
  a.previous = a.next = kNone;
}

// A document built by copying runs (a model document, a secondary instance)
// usually has ids that already are its order: one walk that only compares
// ids with positions and fills the subtree ends finds that out, and then the
// two tables mapping ids and positions stay empty, as for a document fresh
// from the reader. Any other document takes the full walk.
bool Document::index_identity_order() {
  order_subtree_end_.clear();
  make_room(order_subtree_end_, nodes_.size());
  order_subtree_end_.assign(nodes_.size(), kUnindexed);
  std::uint32_t next = 0;  // the position the next node entered takes
  auto enter = [&](std::uint32_t id) {
    if (id != next) return false;
    order_subtree_end_[id] = next++;
    for (std::uint32_t a = nodes_[id].first_attribute; a != kNone; a = nodes_[a].next) {
      if (a != next) return false;
      order_subtree_end_[a] = next++;
    }
    return true;
  };
  std::uint32_t cur = root_;
  if (!enter(cur)) return false;
  for (;;) {
    if (nodes_[cur].first_child != kNone) {
      cur = nodes_[cur].first_child;
      if (!enter(cur)) return false;
      continue;
    }
    for (;;) {
      order_subtree_end_[cur] = next - 1;
      if (cur == root_) {
        identity_order_ = true;
        identity_order_size_ = next;
        return true;
      }
      if (nodes_[cur].next != kNone) {
        cur = nodes_[cur].next;
        if (!enter(cur)) return false;
        break;
      }
      cur = nodes_[cur].parent;
    }
  }
}

// Records the order of the subtree under `top`, its attributes included,
// from position `first` on, appending its nodes to `out`.
// Down, across and up: each element is entered once and closed once.
void Document::order_subtree(std::uint32_t top, std::uint32_t first, std::vector<NodeId>& out) {
  const std::size_t start = out.size();
  auto next_position = [&] { return first + static_cast<std::uint32_t>(out.size() - start); };
  auto record = [&](std::uint32_t id) {
    order_position_[id] = order_subtree_end_[id] = next_position();
    out.push_back(NodeId{id});
  };
  auto enter = [&](std::uint32_t id) {
    record(id);
    for (std::uint32_t a = nodes_[id].first_attribute; a != kNone; a = nodes_[a].next) record(a);
  };
  std::uint32_t cur = top;
  enter(cur);
  for (;;) {
    if (nodes_[cur].first_child != kNone) {
      cur = nodes_[cur].first_child;
      enter(cur);
      continue;
    }
    for (;;) {
      order_subtree_end_[cur] = next_position() - 1;
      if (cur == top) return;
      if (nodes_[cur].next != kNone) {
        cur = nodes_[cur].next;
        enter(cur);
        break;
      }
      cur = nodes_[cur].parent;
    }
  }
}

void Document::reindex_document_order() {
  identity_order_ = false;
  identity_order_size_ = 0;
  order_position_.clear();
  order_nodes_.clear();
  order_current_ = true;
  if (kFastPaths && root_ != kNone && index_identity_order()) return;
  make_room(order_position_, nodes_.size());
  order_position_.assign(nodes_.size(), kUnindexed);
  order_subtree_end_.assign(nodes_.size(), kUnindexed);
  make_room(order_nodes_, nodes_.size());
  order_nodes_.reserve(nodes_.size());
  if (root_ == kNone) return;

  order_subtree(root_, 0, order_nodes_);
}

void Document::index_linked_subtree(NodeId element) {
  const std::uint32_t e = index_of(element);
  const Node& n = nodes_[e];
  if (n.parent == kNone || root_ == kNone) return reindex_document_order();
  if (identity_order_) {
    order_position_.resize(identity_order_size_);
    order_nodes_.resize(identity_order_size_);
    for (std::uint32_t i = 0; i < identity_order_size_; ++i) {
      order_position_[i] = i;
      order_nodes_[i] = NodeId{i};
    }
    identity_order_ = false;
    identity_order_size_ = 0;
  }
  order_position_.resize(nodes_.size(), kUnindexed);
  order_subtree_end_.resize(nodes_.size(), kUnindexed);

  // The subtree enters right after its previous sibling's, or else after
  // its parent and the parent's attributes.
  const Node& parent = nodes_[n.parent];
  const std::uint32_t before = n.previous != kNone           ? order_subtree_end_[n.previous]
                               : parent.last_attribute != kNone ? order_position_[parent.last_attribute]
                                                                : order_position_[n.parent];
  if (before == kUnindexed || order_position_[e] != kUnindexed) return reindex_document_order();
  const std::uint32_t at = before + 1;

  std::vector<NodeId> entered;
  order_subtree(e, at, entered);

  // What follows moves up by the subtree's size, and so do the ends of the
  // ancestors, the only subtrees that reach across the entry.
  const auto k = static_cast<std::uint32_t>(entered.size());
  for (std::size_t p = at; p < order_nodes_.size(); ++p) {
    const std::uint32_t id = index_of(order_nodes_[p]);
    order_position_[id] += k;
    order_subtree_end_[id] += k;
  }
  for (std::uint32_t a = n.parent; a != kNone; a = nodes_[a].parent) order_subtree_end_[a] += k;
  order_nodes_.insert(order_nodes_.begin() + at, entered.begin(), entered.end());
  order_current_ = true;
}

// A subtree whose ids run consecutively in document order (a document fresh
// from the reader, or a copy) is copied record by record with its links
// shifted, with none of the per-node linking, lookups and checks of the
// general walk. The result is the same record for record and byte for byte:
// each node's name and then its text are appended in the same order.
bool Document::copy_ordered_run(Document& destination, const Document& source, NodeId element,
                                NodeId& copy) {
  if (!source.order_is_current() || source.is_attribute(element)) return false;
  const std::uint32_t first = source.order_position(element);
  const std::uint32_t end = source.order_subtree_end(element);
  if (first == kUnindexed || end == kUnindexed || end < first) return false;
  const std::uint32_t top = index_of(element);
  const std::uint32_t count = end - first + 1;
  if (count > source.nodes_.size() - top) return false;
  if (!source.identity_order_ || first != top) {
    for (std::uint32_t k = 0; k < count; ++k)
      if (source.at_order_position(first + k) != NodeId{top + k}) return false;
  }
  // Every link but the top's own ties to its parent and siblings stays inside
  // the run; an attribute added since the order was built would not.
  auto inside = [&](std::uint32_t link) { return link == kNone || link - top < count; };
  std::size_t bytes = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    const Node& n = source.nodes_[top + k];
    if (!inside(n.first_child) || !inside(n.last_child) || !inside(n.first_attribute) ||
        !inside(n.last_attribute))
      return false;
    if (k > 0 && (!inside(n.parent) || !inside(n.previous) || !inside(n.next))) return false;
    bytes += std::size_t{n.name_length} + n.text_length;
  }
  if (destination.nodes_.size() + count >= kNone) throw std::length_error(detail::too_many_nodes());
  if (bytes > kMaxChars - destination.chars_.size())
    throw std::length_error(detail::store_full());

  const auto base = static_cast<std::uint32_t>(destination.nodes_.size());
  auto shift = [&](std::uint32_t link) { return link == kNone ? kNone : link - top + base; };
  make_room(destination.nodes_, base + count);
  destination.nodes_.resize(base + count);
  auto at = static_cast<std::uint32_t>(destination.chars_.size());
  make_room(destination.chars_, at + bytes);
  // Every byte of the new tail is written below. The size is returned as
  // asked: g++ 12 hands the operation the grown capacity instead.
  const std::size_t size = at + bytes;
  destination.chars_.resize_and_overwrite(size, [size](char*, std::size_t) { return size; });
  char* out = destination.chars_.data();
  const char* in = source.chars_.data();
  // The bytes go over in runs: a copy's names and texts lie end to end in
  // its store, as they are laid out here, so copying a copy is one memcpy.
  std::uint32_t run_from = 0, run_to = at, run_length = 0;
  auto take = [&](std::uint32_t offset, std::uint32_t length) {
    if (offset != run_from + run_length) {
      std::memcpy(out + run_to, in + run_from, run_length);
      run_to += run_length;
      run_from = offset;
      run_length = 0;
    }
    run_length += length;
  };
  for (std::uint32_t k = 0; k < count; ++k) {
    const Node& from = source.nodes_[top + k];
    Node& n = destination.nodes_[base + k];
    n.parent = shift(from.parent);
    n.first_child = shift(from.first_child);
    n.last_child = shift(from.last_child);
    n.first_attribute = shift(from.first_attribute);
    n.last_attribute = shift(from.last_attribute);
    n.previous = shift(from.previous);
    n.next = shift(from.next);
    n.is_attribute = from.is_attribute;
    n.name_offset = at;
    n.name_length = from.name_length;
    take(from.name_offset, from.name_length);
    at += from.name_length;
    n.text_offset = at;
    n.text_length = from.text_length;
    take(from.text_offset, from.text_length);
    at += from.text_length;
  }
  std::memcpy(out + run_to, in + run_from, run_length);
  Node& copied = destination.nodes_[base];
  copied.parent = copied.previous = copied.next = kNone;
  if (copied.first_child != kNone) destination.order_current_ = false;
  copy = NodeId{base};
  return true;
}

NodeId copy_subtree(Document& destination, const Document& source, NodeId element) {
  if (NodeId copy; kFastPaths && Document::copy_ordered_run(destination, source, element, copy))
    return copy;
  auto copy_one = [&](NodeId from) {
    NodeId to = destination.new_element(source.name(from), source.text(from));
    for (NodeId a : source.attributes(from)) {
      destination.add_attribute(to, source.name(a), source.text(a));
    }
    return to;
  };
  // A large secondary instance is copied into every model document: size the
  // tables once instead of letting them double their way up.
  const std::uint32_t first = source.order_position(element);
  // Never less than doubling, though: rows copied one by one into a growing
  // instance would otherwise move its whole table each time.
  if (first != Document::kUnindexed && source.order_is_current()) {
    const std::size_t wanted =
        destination.size() + (source.order_subtree_end(element) - first + 1);
    if (wanted > destination.nodes_.capacity())
      destination.reserve(std::max(wanted, 2 * destination.nodes_.capacity()));
  }
  // Walk the source down, across and up, keeping the copy of the current
  // source element's parent as the place to append to.
  const NodeId top = copy_one(element);
  NodeId from = element;
  NodeId to = top;
  for (;;) {
    if (auto child = source.first_child(from)) {
      NodeId copy = copy_one(*child);
      destination.append_child(to, copy);
      from = *child;
      to = copy;
      continue;
    }
    for (;;) {
      if (from == element) return top;
      auto next = source.next_sibling(from);
      NodeId to_parent = *destination.parent(to);
      if (next) {
        NodeId copy = copy_one(*next);
        destination.append_child(to_parent, copy);
        from = *next;
        to = copy;
        break;
      }
      from = *source.parent(from);
      to = to_parent;
    }
  }
}

}  // namespace tovarn::tree
