#include "form/detail/path_namer.h"

#include <algorithm>
#include <string_view>

#include "tree/fast_paths.h"
#include "tree/name_hash.h"
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
  siblings_.clear();
  names_.clear();
  for (NodeId child : doc_.children(parent)) {
    siblings_.push_back(child);
    names_.push_back(doc_.name(child));
  }
  const std::size_t n = siblings_.size();
  // Most parents have a handful of children, where comparing names pairwise
  // (each pair once) beats sorting them; wide ones (repeats, long lists) are
  // sorted by their hashes.
  constexpr std::size_t kPairwise = 24;
  if (n > kPairwise) {
    // Sorted by the hash of the name, then by place: each run of one hash is
    // one name's namesakes in order, unless two names share the hash.
    keys_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i)
      keys_[i] = std::uint64_t{tree::child_name_hash(0, names_[i])} << 32 | i;
    std::sort(keys_.begin(), keys_.end());
    auto at = [this](std::size_t k) { return static_cast<std::uint32_t>(keys_[k]); };
    for (std::size_t run = 0; run < n;) {
      std::size_t end = run + 1;
      bool one_name = true;
      for (; end < n && keys_[end] >> 32 == keys_[run] >> 32; ++end)
        one_name = one_name && names_[at(end)] == names_[at(run)];
      for (std::size_t k = run; k < end; ++k) {
        std::uint32_t position = end - run >= 2 ? static_cast<std::uint32_t>(k - run + 1) : kBare;
        if (!one_name) {
          std::uint32_t before = 0, same = 0;
          for (std::size_t j = run; j < end; ++j) {
            if (names_[at(j)] != names_[at(k)]) continue;
            ++same;
            before += j < k;
          }
          position = same >= 2 ? before + 1 : kBare;
        }
        position_[tree::index_of(siblings_[at(k)])] = position;
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
      const std::uint64_t hash = tree::child_name_hash(0, name);
      auto first = std::lower_bound(keys_.begin(), keys_.end(), hash << 32);
      std::uint32_t k = 0;
      for (auto it = first; it != keys_.end() && *it >> 32 == hash; ++it)
        k += names_[static_cast<std::uint32_t>(*it)] == name;
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
