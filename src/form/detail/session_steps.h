#pragma once
// The steps of a session path as edits read them: names, each with a
// position or without, followed through the instance one level at a time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tree/document.h"

namespace tovarn::form::detail {

struct NamedStep {
  std::string_view text;  // as written, a view into the path
  std::string_view name;
  // Counted from 1; 0, or a number past the range, names no row.
  std::optional<std::uint64_t> position;
};

// "name" or "name[digits]"; none for any other use of '['. The name is not
// checked.
std::optional<NamedStep> read_step(std::string_view text);

// Of `parent`'s children named as the segment: the one its position picks,
// or without a position the only one. `count` is how many there are, and
// `first` and `last` the first and last of them.
struct Pick {
  std::optional<tree::NodeId> child;
  std::uint64_t count = 0;
  std::optional<tree::NodeId> first;
  std::optional<tree::NodeId> last;
  // No position, and several to choose from.
  bool several = false;
};
Pick pick_child(const tree::Document& doc, tree::NodeId parent, const NamedStep& segment);

// The refusal of a path whose segment, `segment` of `path`, could mean any
// of the rows `pick` met: it names them and shows the path with the first.
std::string several_rows(const tree::Document& doc, std::string_view path, const NamedStep& segment,
                         const Pick& pick);

}  // namespace tovarn::form::detail
