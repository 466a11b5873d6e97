#pragma once
// The order in which a form's calculations run.

#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "form/detail/dependencies.h"
#include "form/model.h"

namespace tovarn::form::detail {

struct CalculationOrder {
  std::vector<std::size_t> order;
  std::vector<CalculationLoop> loops;
};

// Every bind with a calculate, each after the calculate binds it depends on:
// a depth-first post-order from each calculate bind in bind order, taking
// dependencies in ascending order and passing over those without calculate.
// A cycle of pinned reads gives its message, naming the binds of the cycle
// from where the walk entered it. Unpinned reads order the calculations where
// they can; the calculations they join in a circle (with pinned ones, or one
// calculation reading itself) become a loop, ordered by its pinned reads.
// Iterative, so a chain of any length is fine.
[[nodiscard]] std::expected<CalculationOrder, std::string> order_calculations(
    const std::vector<Bind>& binds, const Dependencies& dependencies);

}  // namespace tovarn::form::detail
