#include "form/detail/child_index.h"

#include <algorithm>

namespace tovarn::form::detail {

using tree::NodeId;

namespace {

// Below this many children a scan is cheaper than sorting them.
constexpr std::size_t kIndexedWidth = 12;

bool is_plain_child_path(const xpath::Expr::LocationPath& path) {
  if (!path.absolute || path.steps.empty()) return false;
  for (const xpath::Step& step : path.steps)
    if (step.axis != xpath::Axis::child || !step.name_test || !step.predicates.empty())
      return false;
  return true;
}

}  // namespace

void ChildIndex::append_children(NodeId parent, std::string_view name,
                                 std::vector<NodeId>& out) {
  auto found = ranges_.find(tree::index_of(parent));
  if (found == ranges_.end()) {
    std::size_t width = 0;
    for ([[maybe_unused]] NodeId child : doc_.children(parent))
      if (++width > kIndexedWidth) break;
    if (width <= kIndexedWidth) {
      for (NodeId child : doc_.children(parent))
        if (doc_.name(child) == name) out.push_back(child);
      return;
    }
    auto begin = static_cast<std::uint32_t>(entries_.size());
    for (NodeId child : doc_.children(parent)) entries_.push_back({doc_.name(child), child});
    std::stable_sort(entries_.begin() + begin, entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
    found = ranges_.emplace(tree::index_of(parent),
                            std::pair{begin, static_cast<std::uint32_t>(entries_.size())})
                .first;
  }
  auto first = entries_.begin() + found->second.first;
  auto last = entries_.begin() + found->second.second;
  auto [from, to] = std::equal_range(first, last, Entry{name, NodeId{}},
                                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (auto it = from; it != to; ++it) out.push_back(it->child);
}

// An absolute path starts at the root element, and a first step naming the
// root selects the root itself. Every list holds nodes at one depth in
// document order, so their children, taken list by list, are in document
// order too, without duplicates.
std::optional<std::vector<NodeId>> ChildIndex::select(const xpath::Expr& expr) {
  const auto* path = std::get_if<xpath::Expr::LocationPath>(&expr.node);
  if (!path || !is_plain_child_path(*path)) return std::nullopt;
  std::optional<NodeId> root = doc_.root();
  if (!root) return std::vector<NodeId>();
  std::vector<NodeId> list{*root};
  std::size_t first = doc_.name(*root) == *path->steps.front().name_test ? 1 : 0;
  std::vector<NodeId> next;
  for (std::size_t s = first; s < path->steps.size() && !list.empty(); ++s) {
    next.clear();
    for (NodeId node : list) append_children(node, *path->steps[s].name_test, next);
    list.swap(next);
  }
  return list;
}

}  // namespace tovarn::form::detail
