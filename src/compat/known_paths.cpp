#include "compat/detail/known_paths.h"

#include <algorithm>
#include <functional>

#include "tree/query.h"

namespace tovarn::compat::detail {

std::size_t KnownPaths::KeyHash::operator()(const Key& key) const {
  return std::hash<std::string_view>{}(key.name) ^ (std::size_t{key.parent} * 0x9e3779b97f4a7c15u);
}

KnownPaths::KnownPaths(const tree::Document& doc, tree::NodeId root) {
  // Descendants come in document order, so every parent has its entry before
  // its children ask for it.
  std::vector<std::uint32_t> entry_of_element(doc.size(), kTop);
  entry_of_element[tree::index_of(root)] = child_entry(kTop, doc.name(root));
  for (const tree::NodeId element : tree::descendants(doc, root)) {
    const std::uint32_t parent = entry_of_element[tree::index_of(*doc.parent(element))];
    entry_of_element[tree::index_of(element)] = child_entry(parent, doc.name(element));
  }
}

std::uint32_t KnownPaths::child_entry(std::uint32_t parent, std::string_view name) {
  const auto [it, added] =
      children_.try_emplace(Key{parent, name}, static_cast<std::uint32_t>(entries_.size()));
  if (added) {
    entries_.push_back({parent, name});
    NameCount& count = by_name_[name];
    if (count.entries++ == 0) count.first = it->second;
  }
  return it->second;
}

std::string_view KnownPaths::root_name() const {
  return entries_.empty() ? std::string_view() : entries_.front().name;
}

bool KnownPaths::contains(std::string_view path) const {
  if (!path.starts_with('/')) return false;
  std::uint32_t entry = kTop;
  std::size_t start = 1;
  while (true) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const auto it = children_.find(Key{entry, path.substr(start, end - start)});
    if (it == children_.end()) return false;
    entry = it->second;
    if (end == path.size()) return true;
    start = end + 1;
  }
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
