#pragma once
// Which calculations each calculation reads, found at load from the paths its
// rule and its nodeset's predicates read.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "form/model.h"

namespace tovarn::form::detail {

// For each bind, the calculate binds from `to[offsets[i]]` to
// `to[offsets[i + 1]]`, ascending and without duplicates (`offsets` has one
// entry more than there are binds).
struct Edges {
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint32_t> to;

  std::span<const std::uint32_t> of(std::size_t bind) const {
    return {to.data() + offsets[bind], to.data() + offsets[bind + 1]};
  }
  bool empty() const { return to.empty(); }
};

struct Dependencies {
  // Reads of exactly the nodes another calculation writes: a cycle of these
  // is a cycle of the form's own. A calculation's reads of its own nodes are
  // left out.
  Edges pinned;
  // Reads that may reach another calculation's nodes, or its own: through a
  // wildcard, a sibling or other axis, or the string value of an element
  // above them. Never pinned ones as well.
  Edges unpinned;
};

// Calculations whose nodeset selects nothing read nothing, and are read by
// none.
Dependencies read_dependencies(const std::vector<Bind>& binds);

}  // namespace tovarn::form::detail
