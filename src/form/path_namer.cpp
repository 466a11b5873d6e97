#include "form/detail/path_namer.h"

#include <string_view>
#include <unordered_map>

namespace tovarn::form::detail {

using tree::NodeId;

void PathNamer::index_children(NodeId parent) {
  siblings_.clear();
  for (NodeId child : doc_.children(parent)) siblings_.push_back(child);
  // Most parents have a handful of children, where comparing names pairwise
  // beats hashing them; wide ones (repeats, long lists) are hashed.
  constexpr std::size_t kPairwise = 24;
  std::unordered_map<std::string_view, std::uint32_t> count;
  auto namesakes = [&](std::string_view name) -> std::uint32_t {
    if (siblings_.size() > kPairwise) {
      auto found = count.find(name);
      return found == count.end() ? 0 : found->second;
    }
    std::uint32_t n = 0;
    for (NodeId s : siblings_) n += doc_.name(s) == name;
    return n;
  };
  if (siblings_.size() > kPairwise) {
    for (NodeId child : siblings_) ++count[doc_.name(child)];
    std::unordered_map<std::string_view, std::uint32_t> seen;
    for (NodeId child : siblings_) {
      std::string_view name = doc_.name(child);
      position_[tree::index_of(child)] = count[name] >= 2 ? ++seen[name] : kBare;
    }
  } else {
    for (std::size_t i = 0; i < siblings_.size(); ++i) {
      std::string_view name = doc_.name(siblings_[i]);
      std::uint32_t before = 0;
      for (std::size_t j = 0; j < i; ++j) before += doc_.name(siblings_[j]) == name;
      position_[tree::index_of(siblings_[i])] = namesakes(name) >= 2 ? before + 1 : kBare;
    }
  }
  // An attribute is not among the children it shares a name with, so it
  // counts as the first of them.
  for (NodeId attribute : doc_.attributes(parent))
    position_[tree::index_of(attribute)] = namesakes(doc_.name(attribute)) >= 2 ? 1 : kBare;
}

std::string PathNamer::path(NodeId node) {
  if (position_.empty()) position_.assign(doc_.size(), 0);
  chain_.clear();
  for (std::optional<NodeId> n = node; n; n = doc_.parent(*n)) chain_.push_back(*n);
  std::string out;
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    out += '/';
    out += doc_.name(*it);
    std::optional<NodeId> parent = doc_.parent(*it);
    if (!parent) continue;
    if (position_[tree::index_of(*it)] == 0) index_children(*parent);
    std::uint32_t position = position_[tree::index_of(*it)];
    if (position == kBare || position == 0) continue;
    out += '[';
    out += std::to_string(position);
    out += ']';
  }
  return out;
}

}  // namespace tovarn::form::detail
