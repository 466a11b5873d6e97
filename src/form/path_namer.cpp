#include "form/detail/path_namer.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "tree/fast_paths.h"
#include "tree/query.h"

namespace tovarn::form::detail {

using tree::NodeId;

namespace {

std::size_t digits(std::uint32_t n) {
  std::size_t k = 1;
  for (; n >= 10; n /= 10) ++k;
  return k;
}

}  // namespace

void PathNamer::index_children(NodeId parent) {
  // Positions count namesakes before; kBare stays for a name met once.
  const bool entered = by_name_.enter(parent);
  if (entered) {
    // A child not yet given a position is the first of its name: its chain
    // holds its namesakes in order.
    for (NodeId child : doc_.children(parent)) {
      const std::uint32_t first = tree::index_of(child);
      if (position_[first] != 0) continue;
      if (by_name_.next_named(first) == tree::ChildNames::kNone) {
        position_[first] = kBare;
        continue;
      }
      std::uint32_t k = 0;
      for (std::uint32_t c = first; c != tree::ChildNames::kNone; c = by_name_.next_named(c))
        position_[c] = ++k;
    }
  } else {
    // Few children: comparing names pairwise (each pair once) beats a table.
    siblings_.clear();
    names_.clear();
    for (NodeId child : doc_.children(parent)) {
      siblings_.push_back(child);
      names_.push_back(doc_.name(child));
    }
    const std::size_t n = siblings_.size();
    for (std::size_t i = 0; i < n; ++i) position_[tree::index_of(siblings_[i])] = kBare;
    for (std::size_t i = 1; i < n; ++i) {
      std::uint32_t before = 0;
      for (std::size_t j = 0; j < i; ++j) {
        if (names_[j] != names_[i]) continue;
        ++before;
        std::uint32_t& first = position_[tree::index_of(siblings_[j])];
        if (first == kBare) first = 1;
      }
      if (before > 0) position_[tree::index_of(siblings_[i])] = before + 1;
    }
  }
  auto namesakes = [&](std::string_view name) {
    if (entered) {
      const std::optional<std::uint32_t> first = by_name_.first_named(parent, name);
      return first && *first != tree::ChildNames::kNone &&
             by_name_.next_named(*first) != tree::ChildNames::kNone;
    }
    return std::count(names_.begin(), names_.end(), name) >= 2;
  };
  // An attribute is not among the children it shares a name with, so it
  // counts as the first of them.
  for (NodeId attribute : doc_.attributes(parent))
    position_[tree::index_of(attribute)] = namesakes(doc_.name(attribute)) ? 1 : kBare;
}

std::string PathNamer::path(NodeId node) {
  std::string out;
  path_into(node, out);
  return out;
}

void PathNamer::path_into(NodeId node, std::string& out) {
  if constexpr (!kFastPaths) {
    out = tree::node_path(doc_, node);
    return;
  }
  if (position_.empty()) position_.assign(doc_.size(), 0);
  chain_.clear();
  for (std::optional<NodeId> n = node; n; n = doc_.parent(*n)) chain_.push_back(*n);
  // Positions first, so that the text is sized once.
  std::size_t size = 0;
  for (NodeId n : chain_) {
    size += 1 + doc_.name(n).size();
    std::optional<NodeId> parent = doc_.parent(n);
    if (!parent) continue;
    if (position_[tree::index_of(n)] == 0) index_children(*parent);
    const std::uint32_t position = position_[tree::index_of(n)];
    if (position != kBare) size += 2 + digits(position);
  }
  out.clear();
  out.reserve(size);
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    out += '/';
    out += doc_.name(*it);
    if (!doc_.parent(*it)) continue;
    const std::uint32_t position = position_[tree::index_of(*it)];
    if (position == kBare) continue;
    out += '[';
    out += std::to_string(position);
    out += ']';
  }
}

}  // namespace tovarn::form::detail
