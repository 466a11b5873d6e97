#include "form/detail/child_index.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tovarn::form::detail {

using tree::NodeId;

// An absolute path starts at the path root, and a first step naming it
// selects it itself. Every list holds nodes at one depth in
// document order, so their children, taken list by list, are in document
// order too, without duplicates.
template <class Names>
std::vector<NodeId> ChildIndex::select_steps(std::size_t count, Names name) {
  std::optional<NodeId> root = doc_.path_root();
  if (!root) return {};
  list_.assign(1, *root);
  std::size_t first = count > 0 && doc_.name(*root) == name(0) ? 1 : 0;
  for (std::size_t s = first; s < count && !list_.empty(); ++s) {
    next_.clear();
    std::string_view step = name(s);
    // The nodes are the document's own, so the table answers for each.
    for (NodeId node : list_) static_cast<void>(by_name_.append(node, step, next_));
    list_.swap(next_);
  }
  return list_;
}

std::optional<std::vector<NodeId>> ChildIndex::select(const xpath::Expr& expr) {
  const auto* path = std::get_if<xpath::Expr::LocationPath>(&expr.node);
  if (!path || !is_plain_step_list(*path)) return std::nullopt;
  return select_steps(path->steps.size(),
                      [path](std::size_t i) -> std::string_view { return *path->steps[i].name_test; });
}

std::vector<NodeId> ChildIndex::select_plain(std::string_view path) {
  names_.clear();
  for_each_name(path, [this](std::string_view name) { names_.push_back(name); });
  return select_steps(names_.size(), [this](std::size_t i) { return names_[i]; });
}

bool is_plain_step_list(const xpath::Expr::LocationPath& path) {
  if (!path.absolute || path.steps.empty()) return false;
  for (const xpath::Step& step : path.steps)
    if (step.axis != xpath::Axis::child || !step.name_test || !step.predicates.empty())
      return false;
  return true;
}

namespace {

// What a byte may be in a plain child path: a name's first byte, one of the
// rest, or neither. A table, as nodesets are read byte by byte at every load.
enum : std::uint8_t { kStartsName = 1, kContinuesName = 2 };

constexpr std::array<std::uint8_t, 256> kPathBytes = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool starts = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool continues = starts || (c >= '0' && c <= '9') || c == '.' || c == '-';
    table[c] = static_cast<std::uint8_t>((starts ? kStartsName : 0) |
                                         (continues ? kContinuesName : 0));
  }
  return table;
}();

bool path_byte_is(char c, std::uint8_t what) {
  return (kPathBytes[static_cast<unsigned char>(c)] & what) != 0;
}

}  // namespace

bool is_plain_child_path(std::string_view text) {
  if (text.empty()) return false;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    if (*p != '/' || end - p == 1 || !path_byte_is(p[1], kStartsName)) return false;
    p += 2;
    while (p != end && path_byte_is(*p, kContinuesName)) ++p;
  }
  return true;
}

}  // namespace tovarn::form::detail
