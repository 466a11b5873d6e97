#include "form/detail/repeats.h"

#include <unordered_map>

#include "form/detail/completion.h"
#include "tree/name_hash.h"

namespace tovarn::form::detail {

using tree::NodeId;

std::size_t Repeats::KeyHash::operator()(const Key& key) const {
  return tree::child_name_hash(key.parent, key.name);
}

Repeats::Repeats(const tree::Document& form_document, NodeId root,
                 std::span<const NodeId> rows) {
  if (rows.empty()) return;
  // Names view the form document until they are copied at the end.
  std::vector<Key> edges = {{kNone, {}}};  // by trie node
  auto step = [&](std::uint32_t parent, std::string_view name) {
    const auto next = static_cast<std::uint32_t>(edges.size());
    auto [at, added] = trie_.try_emplace(Key{parent, name}, next);
    if (added) edges.push_back(Key{parent, name});
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
  repeat_.assign(edges.size(), false);
  for (const std::uint32_t node : repeats) repeat_[node] = true;

  std::size_t bytes = 0;
  for (const Key& e : edges) bytes += e.name.size();
  names_.reserve(bytes);  // so the views below stay put
  trie_.clear();
  for (std::uint32_t node = 1; node < edges.size(); ++node) {
    const std::size_t at = names_.size();
    names_ += edges[node].name;
    trie_.emplace(Key{edges[node].parent, std::string_view(names_).substr(at)}, node);
  }
}

std::shared_ptr<const Repeats> read_repeats(const FormModel& form) {
  if (!form.instance_shape) return nullptr;
  const std::vector<NodeId> rows = repeat_rows(form.form_document, *form.instance_shape);
  if (rows.empty()) return nullptr;
  return std::make_shared<const Repeats>(form.form_document, *primary_instance_root(form), rows);
}

}  // namespace tovarn::form::detail
