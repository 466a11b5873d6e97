#include "form/detail/path_namer.h"

#include <algorithm>
#include <string_view>

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
  siblings_.clear();
  names_.clear();
  for (NodeId child : doc_.children(parent)) {
    siblings_.push_back(child);
    names_.push_back(doc_.name(child));
  }
  const std::size_t n = siblings_.size();
  // Most parents have a handful of children, where comparing names pairwise
  // (each pair once) beats sorting them; wide ones (repeats, long lists) are
  // sorted.
  constexpr std::size_t kPairwise = 24;
  if (n > kPairwise) {
    // Sorted by name, then by place: each run of one name is its namesakes
    // in order, with no table to build.
    order_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) {
      const int c = names_[a].compare(names_[b]);
      return c < 0 || (c == 0 && a < b);
    });
    for (std::size_t run = 0; run < n;) {
      std::size_t end = run + 1;
      while (end < n && names_[order_[end]] == names_[order_[run]]) ++end;
      for (std::size_t k = run; k < end; ++k) {
        position_[tree::index_of(siblings_[order_[k]])] =
            end - run >= 2 ? static_cast<std::uint32_t>(k - run + 1) : kBare;
      }
      run = end;
    }
  } else {
    // Positions count namesakes before; kBare stays for a name met once.
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
  auto namesakes = [&](std::string_view name) -> std::uint32_t {
    if (n > kPairwise) {
      auto less = [this](std::uint32_t i, std::string_view name) { return names_[i] < name; };
      auto first = std::lower_bound(order_.begin(), order_.end(), name, less);
      std::uint32_t k = 0;
      for (auto it = first; it != order_.end() && names_[*it] == name; ++it) ++k;
      return k;
    }
    std::uint32_t k = 0;
    for (std::string_view s : names_) k += s == name;
    return k;
  };
  // An attribute is not among the children it shares a name with, so it
  // counts as the first of them.
  for (NodeId attribute : doc_.attributes(parent))
    position_[tree::index_of(attribute)] = namesakes(doc_.name(attribute)) >= 2 ? 1 : kBare;
}

std::string PathNamer::path(NodeId node) {
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
  std::string out;
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
  return out;
}

}  // namespace tovarn::form::detail
