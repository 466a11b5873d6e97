#pragma once
// The order in which a form's calculations run.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "form/model.h"

namespace tovarn::form::detail {

// What each bind's calculation reads: the binds of `depends_on` from
// `offsets[i]` to `offsets[i + 1]`, ascending and without duplicates
// (`offsets` has one entry more than there are binds).
struct Dependencies {
  std::vector<std::uint32_t> offsets;
  std::vector<std::uint32_t> depends_on;

  std::span<const std::uint32_t> of(std::size_t bind) const {
    return {depends_on.data() + offsets[bind], depends_on.data() + offsets[bind + 1]};
  }
};

// Every bind with a calculate, each after the calculate binds it depends on:
// a depth-first post-order from each calculate bind in bind order, taking
// dependencies in ascending order and passing over those without calculate.
// A cycle gives its message, naming the binds of the cycle from where the walk
// entered it. Iterative, so a chain of any length is fine.
[[nodiscard]] std::expected<std::vector<std::size_t>, std::string> order_calculations(
    const std::vector<Bind>& binds, const Dependencies& dependencies);

}  // namespace tovarn::form::detail
