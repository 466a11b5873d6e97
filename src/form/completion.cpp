#include "form/detail/completion.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "form/detail/child_index.h"
#include "tree/query.h"
#include "unicode/unicode.h"

namespace tovarn::form::detail {

using tree::Document;
using tree::NodeId;

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

}  // namespace

// For each element of the form's instance, its children one name each, in
// the order the names first appear, with the element a namesake is completed
// from. Elements are indexed by their place in the form document's order,
// the instance's subtree being one run of it. Names are read through the
// form document, so the shape holds ids only and is valid for copies of it.
class InstanceShape {
 public:
  struct Entry {
    NodeId source;  // a row's template, else the first of the name
    bool rows;
  };

  InstanceShape(const Document& doc, NodeId root, std::span<const NodeId> repeats);

  NodeId root() const { return root_; }
  // The element's place in the instance's run of the form document's order.
  std::uint32_t local(const Document& doc, NodeId element) const {
    return doc.order_position(element) - base_;
  }
  // The entries of the element's children, as [begin, end) into entry().
  std::pair<std::uint32_t, std::uint32_t> plan(const Document& doc, NodeId element) const {
    return plans_[local(doc, element)];
  }
  const Entry& entry(std::uint32_t k) const { return entries_[k]; }
  // The elements marked by a template attribute or a repeat's nodeset.
  std::vector<NodeId> repeat_rows(const Document& doc) const;
  // The entry of the element's child of that name in [begin, end), or kNone.
  std::uint32_t find(const Document& doc, std::uint32_t begin, std::uint32_t end,
                     std::string_view name) const {
    auto first = by_name_.begin() + begin;
    auto last = by_name_.begin() + end;
    auto at = std::lower_bound(first, last, name, [&](std::uint32_t k, std::string_view n) {
      return doc.name(entries_[k].source) < n;
    });
    return at != last && doc.name(entries_[*at].source) == name ? *at : kNone;
  }

 private:
  static constexpr std::uint8_t kTemplate = 1;
  static constexpr std::uint8_t kRepeat = 2;
  static constexpr std::size_t kRepeatsWalkedAlone = 16;

  void mark_repeat_paths(const Document& doc, std::span<const NodeId> repeats);
  void mark_repeat_path(const Document& doc, std::string_view path, std::vector<NodeId>& level,
                        std::vector<NodeId>& next);
  // Reused by every element's plan.
  struct Scratch {
    std::vector<NodeId> children;
    std::vector<std::uint32_t> sorted;
    std::vector<std::uint32_t> group;
    std::vector<Entry> heads;
  };
  void read_plan(const Document& doc, NodeId element, Scratch& scratch);
  // read_plan for an element of a few children, without the sort.
  static constexpr std::uint32_t kFewChildren = 16;
  void read_few(const Document& doc, NodeId element, std::span<const NodeId> children);

  NodeId root_;
  std::uint32_t base_;
  std::vector<std::uint8_t> flags_;  // by local index
  std::vector<std::pair<std::uint32_t, std::uint32_t>> plans_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> by_name_;  // each plan's entries again, sorted by name
};

InstanceShape::InstanceShape(const Document& doc, NodeId root, std::span<const NodeId> repeats)
    : root_(root), base_(doc.order_position(root)) {
  // The subtree is one run of the order, each element followed by its
  // attributes, so plain loops over it meet what a walk of it would.
  const std::uint32_t size = doc.order_subtree_end(root) - base_ + 1;
  flags_.assign(size, 0);
  plans_.assign(size, {0, 0});
  for (std::uint32_t p = base_ + 1; p < base_ + size; ++p) {
    const NodeId node = doc.at_order_position(p);
    if (doc.is_attribute(node) && doc.name(node) == "template")
      flags_[local(doc, *doc.parent(node))] |= kTemplate;
  }
  mark_repeat_paths(doc, repeats);
  Scratch scratch;
  for (std::uint32_t p = base_; p < base_ + size; ++p) {
    const NodeId node = doc.at_order_position(p);
    if (!doc.is_attribute(node) && doc.has_children(node)) read_plan(doc, node, scratch);
  }
}

// The elements the path names, level by level from the root down.
void InstanceShape::mark_repeat_path(const Document& doc, std::string_view path,
                                     std::vector<NodeId>& level, std::vector<NodeId>& next) {
  level.clear();
  bool below_root = false;
  for_each_name(path, [&](std::string_view name) {
    if (!below_root) {
      if (doc.name(root_) == name) level.push_back(root_);
      below_root = true;
      return;
    }
    next.clear();
    for (const NodeId element : level)
      for (const NodeId child : doc.children(element))
        if (doc.name(child) == name) next.push_back(child);
    level.swap(next);
  });
  if (level.size() == 1 && level.front() == root_) return;  // the root is never a row
  for (const NodeId element : level) flags_[local(doc, element)] |= kRepeat;
}

// The nodesets of the form's repeats, as a trie of names walked down the
// instance once: an element is marked when its path, from the root's name
// down, is one of them. A nodeset that is no plain child path marks nothing.
void InstanceShape::mark_repeat_paths(const Document& doc, std::span<const NodeId> repeats) {
  // A few repeats, as forms have, cost less walked one by one than hashed;
  // the trie keeps many of them linear.
  if (repeats.size() <= kRepeatsWalkedAlone) {
    std::vector<NodeId> level, next;
    for (const NodeId repeat : repeats) {
      auto nodeset = tree::attribute_value(doc, repeat, "nodeset");
      if (!nodeset) continue;
      const std::string_view path = unicode::trim(*nodeset);
      if (is_plain_child_path(path)) mark_repeat_path(doc, path, level, next);
    }
    return;
  }
  struct Key {
    std::uint32_t parent;
    std::string_view name;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return std::hash<std::string_view>{}(key.name) ^
             (std::size_t{key.parent} * 0x9E3779B97F4A7C15ull);
    }
  };
  std::unordered_map<Key, std::uint32_t, KeyHash> trie;
  std::vector<bool> ends = {false};
  const std::string_view root_name = doc.name(root_);
  auto step = [&](std::uint32_t state, std::string_view name) {
    auto [at, added] = trie.try_emplace(Key{state, name}, static_cast<std::uint32_t>(ends.size()));
    if (added) ends.push_back(false);
    return at->second;
  };
  for (const NodeId repeat : repeats) {
    auto nodeset = tree::attribute_value(doc, repeat, "nodeset");
    if (!nodeset) continue;
    const std::string_view path = unicode::trim(*nodeset);
    if (!is_plain_child_path(path)) continue;
    std::uint32_t state = 0;
    for_each_name(path, [&](std::string_view name) { state = step(state, name); });
    ends[state] = true;
  }
  auto found = trie.find(Key{0, root_name});
  if (found == trie.end()) return;

  std::vector<std::uint32_t> state(flags_.size(), kNone);
  state[local(doc, root_)] = found->second;
  tree::walk_below(doc, root_, [&](NodeId element) {
    const std::uint32_t above = state[local(doc, *doc.parent(element))];
    if (above == kNone) return true;
    auto next = trie.find(Key{above, doc.name(element)});
    if (next == trie.end()) return true;
    state[local(doc, element)] = next->second;
    if (ends[next->second]) flags_[local(doc, element)] |= kRepeat;
    return true;
  });
}

std::vector<NodeId> InstanceShape::repeat_rows(const Document& doc) const {
  std::vector<NodeId> rows;
  // The root carries no row: a template attribute on it is not looked at.
  for (std::uint32_t k = 1; k < flags_.size(); ++k)
    if (flags_[k] != 0) rows.push_back(doc.at_order_position(base_ + k));
  return rows;
}

// Children are grouped by name through one sort, which keeps their order
// among namesakes so that each group starts with its first child; entries
// follow the groups' first children.
void InstanceShape::read_plan(const Document& doc, NodeId element, Scratch& scratch) {
  std::vector<NodeId>& children = scratch.children;
  std::vector<std::uint32_t>& sorted = scratch.sorted;
  std::vector<std::uint32_t>& group = scratch.group;
  children.clear();
  for (NodeId child : doc.children(element)) children.push_back(child);
  const auto n = static_cast<std::uint32_t>(children.size());
  const auto begin = static_cast<std::uint32_t>(entries_.size());
  plans_[local(doc, element)] = {begin, begin};
  if (n == 0) return;
  if (n <= kFewChildren) {
    read_few(doc, element, children);
    return;
  }
  sorted.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) sorted[i] = i;
  // By name, then place: what a stable sort gives, without its buffer.
  std::sort(sorted.begin(), sorted.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int order = doc.name(children[a]).compare(doc.name(children[b]));
    return order != 0 ? order < 0 : a < b;
  });
  // group[i]: for a group's first child, its entry's index once made; for
  // every other child, kNone.
  group.assign(n, kNone);
  std::vector<Entry>& heads = scratch.heads;  // by child index, for first children
  heads.resize(n);
  for (std::uint32_t g = 0; g < n;) {
    const std::uint32_t first = sorted[g];
    const std::string_view name = doc.name(children[first]);
    Entry entry{children[first], flags_[local(doc, children[first])] != 0};
    std::uint32_t next = g + 1;
    for (; next < n && doc.name(children[sorted[next]]) == name; ++next) {
      // An element the form's instance shows twice stands for rows, and a
      // template among them is what a row is completed from.
      const NodeId child = children[sorted[next]];
      entry.rows = true;
      if ((flags_[local(doc, child)] & kTemplate) &&
          !(flags_[local(doc, entry.source)] & kTemplate))
        entry.source = child;
    }
    heads[first] = entry;
    group[first] = 0;
    g = next;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    if (group[i] == kNone) continue;
    group[i] = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back(heads[i]);
  }
  plans_[local(doc, element)].second = static_cast<std::uint32_t>(entries_.size());
  for (std::uint32_t g = 0; g < n; ++g)
    if (group[sorted[g]] != kNone) by_name_.push_back(group[sorted[g]]);
}

// Each child is matched against the entries made so far: the same plan as
// read_plan's, in at most kFewChildren squared compares.
void InstanceShape::read_few(const Document& doc, NodeId element,
                             std::span<const NodeId> children) {
  const auto begin = static_cast<std::uint32_t>(entries_.size());
  for (const NodeId child : children) {
    const std::string_view name = doc.name(child);
    std::uint32_t k = begin;
    while (k < entries_.size() && doc.name(entries_[k].source) != name) ++k;
    if (k == entries_.size()) {
      entries_.push_back(Entry{child, flags_[local(doc, child)] != 0});
      continue;
    }
    Entry& entry = entries_[k];
    entry.rows = true;
    if ((flags_[local(doc, child)] & kTemplate) && !(flags_[local(doc, entry.source)] & kTemplate))
      entry.source = child;
  }
  const auto end = static_cast<std::uint32_t>(entries_.size());
  plans_[local(doc, element)] = {begin, end};
  const auto first = by_name_.size();
  for (std::uint32_t k = begin; k < end; ++k) by_name_.push_back(k);
  std::sort(by_name_.begin() + static_cast<std::ptrdiff_t>(first), by_name_.end(),
            [&](std::uint32_t a, std::uint32_t b) {
              return doc.name(entries_[a].source) < doc.name(entries_[b].source);
            });
}

std::shared_ptr<const InstanceShape> read_instance_shape(const Document& form_document,
                                                         std::span<const NodeId> instances,
                                                         std::span<const NodeId> repeats) {
  for (const NodeId instance : instances) {
    if (instance == form_document.root()) continue;
    std::optional<NodeId> root = form_document.first_child(instance);
    if (!root || form_document.order_position(*root) == Document::kUnindexed) return nullptr;
    return std::make_shared<const InstanceShape>(form_document, *root, repeats);
  }
  return nullptr;
}

std::vector<NodeId> repeat_rows(const Document& form_document, const InstanceShape& shape) {
  return shape.repeat_rows(form_document);
}

std::optional<NodeId> primary_instance_root(const FormModel& form) {
  if (!form.instance_shape) return std::nullopt;
  return form.instance_shape->root();
}

void complete_from_form(Document& model, NodeId copy, const FormModel& form) {
  const InstanceShape* shape = form.instance_shape.get();
  const Document& doc = form.form_document;
  if (!shape || doc.name(shape->root()) != model.name(copy)) return;

  // Each element of the copy with the element of the form's instance it is
  // completed from; a stack, so depth costs no recursion.
  std::vector<std::pair<NodeId, NodeId>> pending = {{copy, shape->root()}};
  std::vector<std::uint32_t> last;  // by entry: the last child of that name
  while (!pending.empty()) {
    const auto [element, source] = pending.back();
    pending.pop_back();
    const auto [begin, end] = shape->plan(doc, source);
    if (begin == end) continue;
    const std::uint32_t count = end - begin;
    last.assign(count, kNone);
    // Children mostly come in the form's order, rows of one name together.
    std::uint32_t at = 0;
    std::uint32_t present = 0;  // entries with a child
    for (NodeId child : model.children(element)) {
      const std::string_view name = model.name(child);
      std::uint32_t k = kNone;
      if (doc.name(shape->entry(begin + at).source) == name) {
        k = at;
      } else if (at + 1 < count && doc.name(shape->entry(begin + at + 1).source) == name) {
        k = at + 1;
      } else {
        const std::uint32_t found = shape->find(doc, begin, end, name);
        if (found == kNone) continue;
        k = found - begin;
      }
      at = k;
      present += last[k] == kNone;
      last[k] = tree::index_of(child);
      const NodeId child_source = shape->entry(begin + k).source;
      if (doc.has_children(child_source)) pending.emplace_back(child, child_source);
    }
    if (present == count) continue;
    std::optional<NodeId> anchor;
    for (std::uint32_t k = 0; k < count; ++k) {
      if (last[k] != kNone) {
        anchor = NodeId{last[k]};
        continue;
      }
      const InstanceShape::Entry& entry = shape->entry(begin + k);
      if (entry.rows) continue;
      const NodeId added = model.new_element(doc.name(entry.source), "");
      if (anchor)
        model.insert_after(*anchor, added);
      else
        model.prepend_child(element, added);
      anchor = added;
      if (doc.has_children(entry.source)) pending.emplace_back(added, entry.source);
    }
  }
}

}  // namespace tovarn::form::detail
