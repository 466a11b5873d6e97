#include "form/detail/repeats.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "form/detail/completion.h"
#include "tree/name_hash.h"

namespace tovarn::form::detail {

using tree::NodeId;

namespace {

struct Key {
  std::uint32_t parent;
  std::string_view name;
  bool operator==(const Key&) const = default;
};
struct KeyHash {
  std::size_t operator()(const Key& key) const {
    return tree::child_name_hash(key.parent, key.name);
  }
};

auto edge_key(std::uint32_t parent, std::string_view name) { return std::make_tuple(parent, name); }

}  // namespace

Repeats::Repeats(const tree::Document& form_document, NodeId root,
                 std::span<const NodeId> rows) {
  if (rows.empty()) return;
  // Names view the form document until they are copied at the end.
  std::unordered_map<Key, std::uint32_t, KeyHash> trie;
  auto step = [&](std::uint32_t parent, std::string_view name) {
    const auto next = static_cast<std::uint32_t>(edges_.size() + 1);
    auto [at, added] = trie.try_emplace(Key{parent, name}, next);
    if (added) edges_.push_back({parent, name, next});
    return at->second;
  };
  // Each element on the way to a row gets its node once, however many rows
  // lie below it, so rows nested at any depth cost the elements between.
  std::unordered_map<std::uint32_t, std::uint32_t> node_of = {
      {tree::index_of(root), step(kTop, form_document.name(root))}};
  std::vector<NodeId> chain;
  std::vector<std::uint32_t> repeats;
  for (const NodeId row : rows) {
    chain.clear();
    NodeId element = row;
    auto known = node_of.find(tree::index_of(element));
    while (known == node_of.end()) {
      chain.push_back(element);
      element = *form_document.parent(element);
      known = node_of.find(tree::index_of(element));
    }
    std::uint32_t node = known->second;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      node = step(node, form_document.name(*it));
      node_of.emplace(tree::index_of(*it), node);
    }
    repeats.push_back(node);
  }
  repeat_.assign(edges_.size() + 1, false);
  for (const std::uint32_t node : repeats) repeat_[node] = true;

  std::size_t bytes = 0;
  for (const Edge& e : edges_) bytes += e.name.size();
  names_.reserve(bytes);
  for (Edge& e : edges_) {
    const std::size_t at = names_.size();
    names_ += e.name;
    e.name = std::string_view(names_).substr(at, e.name.size());
  }
  std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) {
    return edge_key(a.parent, a.name) < edge_key(b.parent, b.name);
  });
}

std::uint32_t Repeats::child(std::uint32_t at, std::string_view name) const {
  auto found = std::lower_bound(edges_.begin(), edges_.end(), edge_key(at, name),
                                [](const Edge& e, const auto& key) {
                                  return edge_key(e.parent, e.name) < key;
                                });
  if (found == edges_.end() || found->parent != at || found->name != name) return kNone;
  return found->child;
}

std::shared_ptr<const Repeats> read_repeats(const FormModel& form) {
  if (!form.instance_shape) return nullptr;
  const std::vector<NodeId> rows = repeat_rows(form.form_document, *form.instance_shape);
  if (rows.empty()) return nullptr;
  return std::make_shared<const Repeats>(form.form_document, *primary_instance_root(form), rows);
}

}  // namespace tovarn::form::detail
