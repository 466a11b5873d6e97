#include "form/detail/completion.h"

#include <functional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "form/detail/child_index.h"
#include "form/detail/primary_instance.h"
#include "tree/query.h"
#include "unicode/unicode.h"

namespace tovarn::form::detail {
namespace {

using tree::Document;
using tree::NodeId;

constexpr std::uint32_t kNone = UINT32_MAX;

// A name under a parent: a child of an element of the form's instance, or a
// step of the trie of repeat paths.
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
using KeyMap = std::unordered_map<Key, std::uint32_t, KeyHash>;

// The form's instance as completion reads it: which elements stand for rows,
// and for each element, its children one name each, in the order they first
// appear, with the element to complete a namesake from. Elements are indexed
// by their place in the form document's order, the instance's subtree being
// one run of it.
class FormShape {
 public:
  struct Entry {
    std::string_view name;
    NodeId source;  // a row's template, else the first of the name
    bool rows;
  };

  FormShape(const Document& doc, NodeId root) : doc_(doc) {
    base_ = doc.order_position(root);
    const std::uint32_t end = doc.order_subtree_end(root);
    if (base_ == Document::kUnindexed || end == Document::kUnindexed) return;
    flags_.assign(end - base_ + 1, 0);
    plans_.assign(flags_.size(), {kNone, kNone});
    tree::walk_below(doc, root, [&](NodeId element) {
      if (tree::attribute_named(doc, element, "template")) flags_[local(element)] |= kTemplate;
      return true;
    });
    mark_repeat_paths(root);
  }

  bool usable() const { return !flags_.empty(); }

  // The entries of the element's children, as [begin, end) into entry().
  std::pair<std::uint32_t, std::uint32_t> plan(NodeId element) {
    std::pair<std::uint32_t, std::uint32_t>& plan = plans_[local(element)];
    if (plan.first == kNone) plan = build_plan(element);
    return plan;
  }
  const Entry& entry(std::uint32_t k) const { return entries_[k]; }
  // The entry of the element's child of that name, or kNone; the element's
  // plan must be built.
  std::uint32_t find(NodeId element, std::string_view name) const {
    auto found = by_name_.find(Key{local(element), name});
    return found == by_name_.end() ? kNone : found->second;
  }

 private:
  static constexpr std::uint8_t kTemplate = 1;
  static constexpr std::uint8_t kRepeat = 2;

  std::uint32_t local(NodeId element) const { return doc_.order_position(element) - base_; }

  // The nodesets of the form's repeats, as a trie walked down the instance
  // once. A nodeset that is no plain child path marks nothing; it is
  // resolved as an absolute path is, from the root, which its first step
  // names or stands above.
  void mark_repeat_paths(NodeId root) {
    KeyMap trie;
    std::vector<bool> ends = {false};
    const std::string_view root_name = doc_.name(root);
    auto step = [&](std::uint32_t state, std::string_view name) {
      auto [at, added] = trie.try_emplace(Key{state, name}, static_cast<std::uint32_t>(ends.size()));
      if (added) ends.push_back(false);
      return at->second;
    };
    for (std::uint32_t p = 0; p < doc_.order_size(); ++p) {
      const NodeId node = doc_.at_order_position(p);
      if (doc_.is_attribute(node) || doc_.name(node) != "repeat") continue;
      auto nodeset = tree::attribute_value(doc_, node, "nodeset");
      if (!nodeset) continue;
      const std::string_view path = unicode::trim(*nodeset);
      if (!is_plain_child_path(path)) continue;
      std::uint32_t state = 0;
      bool first = true;
      for_each_name(path, [&](std::string_view name) {
        if (first && name != root_name) state = step(state, root_name);
        first = false;
        state = step(state, name);
      });
      ends[state] = true;
    }
    if (trie.empty()) return;

    std::vector<std::uint32_t> state(flags_.size(), kNone);
    auto found = trie.find(Key{0, root_name});
    if (found == trie.end()) return;
    state[local(root)] = found->second;
    tree::walk_below(doc_, root, [&](NodeId element) {
      const std::uint32_t above = state[local(*doc_.parent(element))];
      if (above == kNone) return true;
      auto next = trie.find(Key{above, doc_.name(element)});
      if (next == trie.end()) return true;
      state[local(element)] = next->second;
      if (ends[next->second]) flags_[local(element)] |= kRepeat;
      return true;
    });
  }

  std::pair<std::uint32_t, std::uint32_t> build_plan(NodeId element) {
    const auto begin = static_cast<std::uint32_t>(entries_.size());
    const std::uint32_t parent = local(element);
    for (NodeId child : doc_.children(element)) {
      const std::uint8_t flags = flags_[local(child)];
      auto [at, added] = by_name_.try_emplace(Key{parent, doc_.name(child)},
                                              static_cast<std::uint32_t>(entries_.size()));
      if (added) {
        entries_.push_back(Entry{doc_.name(child), child, flags != 0});
        continue;
      }
      // An element the form's instance shows twice stands for rows.
      Entry& entry = entries_[at->second];
      entry.rows = true;
      if ((flags & kTemplate) && !(flags_[local(entry.source)] & kTemplate)) entry.source = child;
    }
    return {begin, static_cast<std::uint32_t>(entries_.size())};
  }

  const Document& doc_;
  std::uint32_t base_ = 0;
  std::vector<std::uint8_t> flags_;  // by local index
  std::vector<std::pair<std::uint32_t, std::uint32_t>> plans_;
  std::vector<Entry> entries_;
  KeyMap by_name_;  // (local index of the parent, name) to its entry
};

// Places `node` first among the parent's children.
void insert_first(Document& doc, NodeId parent, NodeId node) {
  std::optional<NodeId> first = doc.first_child(parent);
  if (!first) {
    doc.append_child(parent, node);
    return;
  }
  doc.insert_after(*first, node);
  doc.detach(*first);
  doc.insert_after(node, *first);
}

}  // namespace

void complete_from_form(Document& model, NodeId copy, const FormModel& form) {
  const Document& doc = form.form_document;
  std::optional<NodeId> own = primary_instance_root(doc);
  if (!own || doc.name(*own) != model.name(copy)) return;
  FormShape shape(doc, *own);
  if (!shape.usable()) return;

  // Each element of the copy with the element of the form's instance it is
  // completed from; a stack, so depth costs no recursion.
  std::vector<std::pair<NodeId, NodeId>> pending = {{copy, *own}};
  std::vector<std::uint32_t> last;  // by entry: the last child of that name
  while (!pending.empty()) {
    const auto [element, source] = pending.back();
    pending.pop_back();
    const auto [begin, end] = shape.plan(source);
    if (begin == end) continue;
    const std::uint32_t count = end - begin;
    last.assign(count, kNone);
    // Children mostly come in the form's order, rows of one name together.
    std::uint32_t at = 0;
    for (NodeId child : model.children(element)) {
      const std::string_view name = model.name(child);
      std::uint32_t k = kNone;
      if (shape.entry(begin + at).name == name) {
        k = at;
      } else if (at + 1 < count && shape.entry(begin + at + 1).name == name) {
        k = at + 1;
      } else {
        const std::uint32_t found = shape.find(source, name);
        if (found == kNone) continue;
        k = found - begin;
      }
      at = k;
      last[k] = tree::index_of(child);
      const NodeId child_source = shape.entry(begin + k).source;
      if (doc.has_children(child_source)) pending.emplace_back(child, child_source);
    }
    std::optional<NodeId> anchor;
    for (std::uint32_t k = 0; k < count; ++k) {
      if (last[k] != kNone) {
        anchor = NodeId{last[k]};
        continue;
      }
      const FormShape::Entry& entry = shape.entry(begin + k);
      if (entry.rows) continue;
      const NodeId added = model.new_element(entry.name, "");
      if (anchor)
        model.insert_after(*anchor, added);
      else
        insert_first(model, element, added);
      anchor = added;
      if (doc.has_children(entry.source)) pending.emplace_back(added, entry.source);
    }
  }
}

}  // namespace tovarn::form::detail
