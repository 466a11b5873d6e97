#include "tree/child_names.h"

#include <algorithm>
#include <bit>

#include "tree/fast_paths.h"
#include "tree/name_hash.h"

namespace tovarn::tree {

namespace {

// Entering a child costs about as much as reading its name a few times
// over, so a wide parent is scanned that often before its children enter:
// one read once or twice, as a large secondary instance's list mostly is,
// never pays for the table.
constexpr std::uint8_t kScansBeforeIndex = 2;

constinit thread_local ChildNames::Scope* innermost = nullptr;

}  // namespace

ChildNames::Scope::Scope(ChildNames& names) : names_(names), outer_(innermost) {
  innermost = this;
}

ChildNames::Scope::~Scope() { innermost = outer_; }

ChildNames* ChildNames::of(const Document& doc) {
  if constexpr (!kFastPaths) return nullptr;
  for (Scope* scope = innermost; scope != nullptr; scope = scope->outer_) {
    if (&scope->names_.doc_ == &doc) return &scope->names_;
  }
  return nullptr;
}

// The slot holding the entry of that parent and name, or the empty slot
// where it belongs. The table is at most half full, so the probe ends.
std::uint32_t* ChildNames::slot(std::uint32_t parent, std::uint32_t hash, std::string_view name) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash >> shift_;; i = (i + 1) & mask) {
    const std::uint32_t e = slots_[i];
    if (e == kNone) return &slots_[i];
    const Entry& entry = entries_[e];
    if (entry.parent == parent && entry.hash == hash &&
        same_name(doc_.name(NodeId{entry.first}), name)) {
      return &slots_[i];
    }
  }
}

std::uint32_t ChildNames::lookup(std::uint32_t parent, std::string_view name) {
  const std::uint32_t e = *slot(parent, child_name_hash(parent, name), name);
  return e == kNone ? kNone : entries_[e].first;
}

void ChildNames::grow(std::size_t entries) {
  const std::size_t size = std::bit_ceil(std::max<std::size_t>(64, 2 * entries));
  slots_.assign(size, kNone);
  shift_ = 32 - std::countr_zero(size);
  const std::size_t mask = size - 1;
  for (std::uint32_t e = 0; e < entries_.size(); ++e) {
    std::size_t i = entries_[e].hash >> shift_;
    while (slots_[i] != kNone) i = (i + 1) & mask;
    slots_[i] = e;
  }
}

void ChildNames::index(NodeId parent, std::uint32_t width) {
  if (next_same_.size() < doc_.size()) next_same_.resize(doc_.size(), kNone);
  const std::uint32_t p = index_of(parent);
  // Room for every child at once, so the table grows at most once a parent.
  if (2 * (entries_.size() + width) > slots_.size()) grow(entries_.size() + width);
  for (NodeId child : doc_.children(parent)) {
    const std::string_view name = doc_.name(child);
    const std::uint32_t hash = child_name_hash(p, name);
    std::uint32_t* s = slot(p, hash, name);
    const std::uint32_t c = index_of(child);
    if (*s == kNone) {
      *s = static_cast<std::uint32_t>(entries_.size());
      entries_.push_back(Entry{p, hash, c, c});
    } else {
      Entry& entry = entries_[*s];
      next_same_[entry.last] = c;
      entry.last = c;
    }
  }
}

std::uint8_t* ChildNames::scans_of(NodeId parent) {
  // Made on first use: most judgements of small forms step into no parent.
  if (scans_.empty()) scans_.assign(doc_.size(), 0);
  const std::uint32_t p = index_of(parent);
  return p < scans_.size() ? &scans_[p] : nullptr;
}

void ChildNames::enter_if_wide(NodeId parent, std::uint8_t& scans) {
  std::uint32_t width = 0;
  for ([[maybe_unused]] NodeId child : doc_.children(parent)) ++width;
  if (width <= kNarrow) {
    scans = kNarrowSeen;
    return;
  }
  index(parent, width);
  scans = kIndexed;
}

bool ChildNames::append(NodeId parent, std::string_view name, std::vector<NodeId>& out) {
  std::uint8_t* scans = scans_of(parent);
  if (scans == nullptr) return false;
  if (*scans == kIndexed) {
    for (std::uint32_t c = lookup(index_of(parent), name); c != kNone; c = next_same_[c])
      out.push_back(NodeId{c});
    return true;
  }
  // The scan counts the children too, so a narrow parent costs nothing more.
  std::uint32_t width = 0;
  for (NodeId child : doc_.children(parent)) {
    ++width;
    if (same_name(doc_.name(child), name)) out.push_back(child);
  }
  if (!kFastPaths || width <= kNarrow) return true;
  if (*scans < kScansBeforeIndex) {
    ++*scans;
    return true;
  }
  index(parent, width);
  *scans = kIndexed;
  return true;
}

std::optional<std::uint32_t> ChildNames::first_named(NodeId parent, std::string_view name) {
  if constexpr (!kFastPaths) return std::nullopt;
  std::uint8_t* scans = scans_of(parent);
  if (scans == nullptr || *scans == kNarrowSeen) return std::nullopt;
  if (*scans != kIndexed) {
    if (*scans < kScansBeforeIndex) {
      ++*scans;
      return std::nullopt;
    }
    enter_if_wide(parent, *scans);
    if (*scans != kIndexed) return std::nullopt;
  }
  return lookup(index_of(parent), name);
}

bool ChildNames::enter(NodeId parent) {
  if constexpr (!kFastPaths) return false;
  std::uint8_t* scans = scans_of(parent);
  if (scans == nullptr || *scans == kNarrowSeen) return false;
  if (*scans != kIndexed) enter_if_wide(parent, *scans);
  return *scans == kIndexed;
}

}  // namespace tovarn::tree
