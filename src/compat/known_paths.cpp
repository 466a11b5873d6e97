#include "compat/detail/known_paths.h"

#include <algorithm>
#include <bit>
#include <functional>

#include "tree/query.h"

namespace tovarn::compat::detail {

std::size_t KnownPaths::hash(std::uint32_t parent, std::string_view name) {
  std::uint64_t h =
      std::hash<std::string_view>{}(name) ^ (std::uint64_t{parent} * 0x9e3779b97f4a7c15u);
  // The table keeps the low bits, so mix the high ones into them.
  h ^= h >> 31;
  h *= 0xbf58476d1ce4e5b9u;
  h ^= h >> 29;
  return static_cast<std::size_t>(h);
}

std::size_t KnownPaths::slot_of(std::uint32_t parent, std::string_view name) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash(parent, name) & mask;; i = (i + 1) & mask) {
    const std::uint32_t held = slots_[i];
    if (held == 0) return i;
    const Entry& entry = entries_[held - 1];
    if (entry.parent == parent && entry.name == name) return i;
  }
}

KnownPaths::KnownPaths(const tree::Document& doc, tree::NodeId root) {
  // Descendants come in document order, so every parent has its entry before
  // its children ask for it.
  const std::vector<tree::NodeId> elements = tree::descendants(doc, root);
  entries_.reserve(elements.size() + 1);
  // At most half full, so every probe ends soon at an empty slot.
  slots_.assign(std::bit_ceil(2 * (elements.size() + 1)), 0);
  std::vector<std::uint32_t> entry_of_element(doc.size(), kTop);
  entry_of_element[tree::index_of(root)] = child_entry(kTop, doc.name(root));
  for (const tree::NodeId element : elements) {
    const std::uint32_t parent = entry_of_element[tree::index_of(*doc.parent(element))];
    entry_of_element[tree::index_of(element)] = child_entry(parent, doc.name(element));
  }
}

std::uint32_t KnownPaths::child_entry(std::uint32_t parent, std::string_view name) {
  std::uint32_t& slot = slots_[slot_of(parent, name)];
  if (slot == 0) {
    const auto entry = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({parent, name});
    slot = entry + 1;
    NameCount& count = by_name_[name];
    if (count.entries++ == 0) count.first = entry;
  }
  return slot - 1;
}

std::string_view KnownPaths::root_name() const {
  return entries_.empty() ? std::string_view() : entries_.front().name;
}

bool KnownPaths::contains(std::string_view path) const {
  if (!path.starts_with('/')) return false;
  std::optional<PathId> entry = kTop;
  std::size_t start = 1;
  while (true) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    entry = child(*entry, path.substr(start, end - start));
    if (!entry) return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

std::optional<KnownPaths::PathId> KnownPaths::child(PathId parent, std::string_view name) const {
  if (entries_.empty()) return std::nullopt;
  const std::uint32_t slot = slots_[slot_of(parent, name)];
  if (slot == 0) return std::nullopt;
  return slot - 1;
}

std::optional<std::string> KnownPaths::only_path_ending_with(std::string_view name) const {
  const auto it = by_name_.find(name);
  if (it == by_name_.end() || it->second.entries != 1) return std::nullopt;
  return path_of(it->second.first);
}

std::string KnownPaths::path_of(std::uint32_t entry) const {
  std::vector<std::string_view> names;
  for (std::uint32_t e = entry; e != kTop; e = entries_[e].parent)
    names.push_back(entries_[e].name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += '/';
    path += *it;
  }
  return path;
}

}  // namespace tovarn::compat::detail
