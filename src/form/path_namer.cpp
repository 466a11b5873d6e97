#include "form/detail/path_namer.h"

#include <string_view>
#include <unordered_map>

namespace tovarn::form::detail {

using tree::NodeId;

void PathNamer::index_children(NodeId parent) {
  std::unordered_map<std::string_view, std::uint32_t> count;
  for (NodeId child : doc_.children(parent)) ++count[doc_.name(child)];
  std::unordered_map<std::string_view, std::uint32_t> seen;
  for (NodeId child : doc_.children(parent)) {
    std::string_view name = doc_.name(child);
    position_[tree::index_of(child)] = count[name] >= 2 ? ++seen[name] : kBare;
  }
  // An attribute is not among the children it shares a name with, so it
  // counts as the first of them.
  for (NodeId attribute : doc_.attributes(parent)) {
    auto found = count.find(doc_.name(attribute));
    position_[tree::index_of(attribute)] =
        found != count.end() && found->second >= 2 ? 1 : kBare;
  }
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
