#include <cmath>

#include "form/path_index.h"
#include "tree/fast_paths.h"

namespace tovarn::form {
namespace {

using tree::NodeId;

constexpr std::uint32_t kUnknown = UINT32_MAX;

std::uint64_t key_of(std::uint32_t parent, std::uint32_t name) {
  return (std::uint64_t{parent} << 32) | name;
}

// What a step's predicates ask of position: none at all, the position of a
// number predicate, or nothing that a plain path can answer.
enum class Wanted : std::uint8_t { all, position, unplain };

Wanted wanted_position(const xpath::Step& step, double& position) {
  if (step.predicates.empty()) return Wanted::all;
  if (step.predicates.size() > 1) return Wanted::unplain;
  const auto* number = std::get_if<xpath::Expr::Number>(&step.predicates.front().node);
  if (!number) return Wanted::unplain;
  position = number->value;
  return Wanted::position;
}

// The index (from 0) a number predicate picks out of `count` nodes, or none:
// it keeps the node whose position equals it, so 0, 1.5 or a number beyond
// the count keep nothing.
std::optional<std::uint32_t> pick(double position, std::uint32_t count) {
  if (!(position >= 1) || position > count || std::floor(position) != position)
    return std::nullopt;
  return static_cast<std::uint32_t>(position) - 1;
}

}  // namespace

void PathIndex::build(const tree::Document& doc) {
  if constexpr (!kFastPaths) return;
  names_.clear();
  groups_.clear();
  children_.clear();
  // Two passes over the document order, which meets each parent's children
  // in child order: count each group, then fill it.
  std::vector<std::uint64_t> keys;
  keys.reserve(doc.order_size());
  for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
    NodeId node = doc.at_order_position(p);
    std::optional<NodeId> parent = doc.parent(node);
    if (doc.is_attribute(node) || !parent) continue;
    std::string_view name = doc.name(node);
    auto known = names_.find(name);
    if (known == names_.end())
      known = names_.emplace(std::string(name), static_cast<std::uint32_t>(names_.size())).first;
    keys.push_back(key_of(tree::index_of(*parent), known->second));
    ++groups_[keys.back()].end;
  }
  std::uint32_t offset = 0;
  for (auto& [key, group] : groups_) {
    group.begin = offset;
    offset += group.end;
    group.end = group.begin;
  }
  children_.resize(offset);
  std::size_t k = 0;
  for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
    NodeId node = doc.at_order_position(p);
    if (doc.is_attribute(node) || !doc.parent(node)) continue;
    children_[groups_[keys[k++]].end++] = node;
  }
  built_ = true;
  size_ = doc.size();
  order_size_ = doc.order_size();
}

bool PathIndex::fresh(const tree::Document& doc) const {
  // Every change of structure a session makes adds records or, once the
  // order is rebuilt, takes nodes out of it.
  return built_ && doc.order_is_current() && size_ == doc.size() &&
         order_size_ == doc.order_size();
}

PathIndex::Group PathIndex::group(std::uint32_t parent, std::uint32_t name) const {
  auto found = groups_.find(key_of(parent, name));
  return found == groups_.end() ? Group{} : found->second;
}

bool PathIndex::first(const tree::Document& doc, const xpath::Expr& expr,
                      std::optional<NodeId>& node) const {
  const auto* path = std::get_if<xpath::Expr::LocationPath>(&expr.node);
  if (!path || !path->absolute || path->steps.empty()) return false;
  std::span<const xpath::Step> steps = path->steps;
  std::vector<Wanted> wanted(steps.size());
  std::vector<double> positions(steps.size());
  for (std::size_t s = 0; s < steps.size(); ++s) {
    if (steps[s].axis != xpath::Axis::child || !steps[s].name_test) return false;
    wanted[s] = wanted_position(steps[s], positions[s]);
    if (wanted[s] == Wanted::unplain) return false;
  }
  node.reset();
  std::optional<NodeId> root = doc.path_root();
  if (!root) return true;

  // A first step naming the root selects the root itself, its predicate
  // counting the root as the one node of its list.
  std::size_t from = 0;
  if (doc.name(*root) == *steps.front().name_test) {
    if (wanted.front() == Wanted::position && !pick(positions.front(), 1)) return true;
    from = 1;
  }
  if (from == steps.size()) {
    node = *root;
    return true;
  }
  std::vector<std::uint32_t> names(steps.size(), kUnknown);
  for (std::size_t s = from; s < steps.size(); ++s) {
    auto known = names_.find(std::string_view(*steps[s].name_test));
    if (known == names_.end()) return true;
    names[s] = known->second;
  }

  // Depth first, namesakes in child order: the first complete match is the
  // first selected node in document order. Each level holds the range of
  // candidates still to try under the current node of the level above.
  std::vector<Group> todo(steps.size());
  auto enter = [&](std::size_t level, NodeId parent) {
    Group g = group(tree::index_of(parent), names[level]);
    if (wanted[level] == Wanted::position) {
      std::optional<std::uint32_t> at = pick(positions[level], g.end - g.begin);
      g = at ? Group{g.begin + *at, g.begin + *at + 1} : Group{};
    }
    todo[level] = g;
  };
  std::size_t level = from;
  enter(level, *root);
  for (;;) {
    Group& g = todo[level];
    if (g.begin == g.end) {
      if (level == from) return true;
      --level;
      ++todo[level].begin;
      continue;
    }
    NodeId candidate = children_[g.begin];
    if (level + 1 == steps.size()) {
      node = candidate;
      return true;
    }
    ++level;
    enter(level, candidate);
  }
}

}  // namespace tovarn::form
