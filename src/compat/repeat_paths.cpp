#include "compat/detail/repeat_paths.h"

#include <functional>

namespace tovarn::compat::detail {
namespace {

// Calls `visit` with each piece of the path between slashes, the one before
// the first slash included, until it returns false.
template <typename Visit>
void for_each_segment(std::string_view path, Visit visit) {
  while (true) {
    const std::size_t slash = path.find('/');
    if (!visit(path.substr(0, slash)) || slash == std::string_view::npos) return;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

std::size_t RepeatPaths::KeyHash::operator()(const Key& key) const {
  return std::hash<std::string_view>{}(key.segment) ^
         (std::size_t{key.parent} * 0x9e3779b97f4a7c15u);
}

void RepeatPaths::add(std::string_view path) {
  while (path.ends_with('/')) path.remove_suffix(1);
  if (path.empty()) return;
  std::uint32_t node = 0;
  for_each_segment(path, [&](std::string_view segment) {
    const auto [it, added] =
        children_.try_emplace(Key{node, segment}, static_cast<std::uint32_t>(ends_.size()));
    if (added) ends_.push_back(false);
    node = it->second;
    return true;
  });
  ends_[node] = true;
}

bool RepeatPaths::covers(std::string_view path, std::string_view bind) const {
  if (children_.empty()) return false;
  std::uint32_t node = 0;
  std::size_t end = 0;  // of the segments walked, in `path`
  bool covered = false;
  for_each_segment(path, [&](std::string_view segment) {
    const auto it = children_.find(Key{node, segment});
    if (it == children_.end()) return false;
    node = it->second;
    end = static_cast<std::size_t>(segment.data() - path.data()) + segment.size();
    if (!ends_[node]) return true;
    const std::string_view repeat = path.substr(0, end);
    const bool in_row = end < path.size() && bind.starts_with(repeat) &&
                        (bind.size() == end || bind[end] == '/');
    covered = !in_row;
    return !covered;
  });
  return covered;
}

}  // namespace tovarn::compat::detail
