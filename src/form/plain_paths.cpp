#include "form/detail/plain_paths.h"

#include <algorithm>
#include <bit>
#include <optional>

#include "form/detail/child_index.h"
#include "tree/child_names.h"
#include "tree/fast_paths.h"
#include "tree/name_hash.h"

namespace tovarn::form::detail {

using tree::NodeId;

namespace {

const xpath::Expr::LocationPath* plain_steps(const Bind& bind) {
  if (bind.nodeset_plain || !bind.nodeset_path) return nullptr;
  const auto* path = std::get_if<xpath::Expr::LocationPath>(&bind.nodeset_path->node);
  return path && is_plain_step_list(*path) ? path : nullptr;
}

}  // namespace

PlainPaths::PlainPaths(const std::vector<Bind>& binds, const tree::Document& doc)
    : of_bind_(binds.size(), kNone) {
  if constexpr (!kFastPaths) return;
  // The table grows as names come, so the paths are read once; most paths
  // have a few names.
  slots_.assign(std::bit_ceil(std::max<std::size_t>(16, 4 * binds.size())), kNone);
  nodes_.reserve(4 * binds.size() + 1);
  nodes_.push_back(Node{kNone, {}, 0});
  for (std::size_t b = 0; b < binds.size(); ++b) {
    std::uint32_t at = 0;
    if (binds[b].nodeset_plain) {
      for_each_name(binds[b].nodeset, [&](std::string_view name) { at = child(at, name); });
    } else if (const auto* path = plain_steps(binds[b])) {
      for (const xpath::Step& step : path->steps) at = child(at, *step.name_test);
    } else {
      continue;
    }
    of_bind_[b] = at;
  }
  resolve(doc);
}

std::uint32_t PlainPaths::child(std::uint32_t parent, std::string_view name) {
  const std::uint32_t hash = tree::child_name_hash(parent, name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = slots_[i];
    if (slot == kNone) {
      const auto id = static_cast<std::uint32_t>(nodes_.size());
      nodes_.push_back(Node{parent, name, hash});
      Node& above = nodes_[parent];
      (above.first_child == kNone ? above.first_child : nodes_[above.last_child].next_sibling) = id;
      above.last_child = id;
      slots_[i] = id;
      // At most half full, so probes stay short and always end.
      if (2 * nodes_.size() > slots_.size()) grow();
      return id;
    }
    if (nodes_[slot].hash == hash && nodes_[slot].parent == parent &&
        tree::same_name(nodes_[slot].name, name))
      return slot;
  }
}

void PlainPaths::grow() {
  slots_.assign(2 * slots_.size(), kNone);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint32_t id = 1; id < nodes_.size(); ++id) {
    std::size_t i = nodes_[id].hash & mask;
    while (slots_[i] != kNone) i = (i + 1) & mask;
    slots_[i] = id;
  }
}

// Parents come before their children in nodes_, so taking the trie nodes in
// order finds every parent's list before its children need it. An absolute
// path starts at the path root, and a first step naming it selects it
// itself. Every list holds nodes at one depth in document order, so
// their children, taken list by list, are in document order too.
void PlainPaths::resolve(const tree::Document& doc) {
  const std::optional<NodeId> root = doc.path_root();
  if (!root) return;
  // A judgement's steps share their table with the binds' paths.
  tree::ChildNames* names = tree::ChildNames::of(doc);
  std::optional<tree::ChildNames> own;
  if (names == nullptr) names = &own.emplace(doc);
  for (std::uint32_t p = 0; p < nodes_.size(); ++p) {
    // Above the root element stands the list of it alone.
    const std::uint32_t count = p == 0 ? 1 : nodes_[p].count;
    for (std::uint32_t t = nodes_[p].first_child; t != kNone; t = nodes_[t].next_sibling) {
      Node& wanted = nodes_[t];
      wanted.first = static_cast<std::uint32_t>(selected_.size());
      if (p == 0 && tree::same_name(wanted.name, doc.name(*root))) {
        selected_.push_back(*root);
      } else {
        for (std::uint32_t i = 0; i < count; ++i) {
          const NodeId parent = p == 0 ? *root : selected_[nodes_[p].first + i];
          // The nodes are the document's own, so the table answers for each.
          static_cast<void>(names->append(parent, wanted.name, selected_));
        }
      }
      wanted.count = static_cast<std::uint32_t>(selected_.size()) - wanted.first;
    }
  }
}

}  // namespace tovarn::form::detail
