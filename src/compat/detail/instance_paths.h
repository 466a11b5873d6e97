#pragma once
// The check for paths that a rule reads and the form's instance lacks: such a
// path reads an empty node-set on both engines, and nothing warns of it.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "compat/detail/known_paths.h"
#include "compat/finding.h"
#include "xpath/expr.h"

namespace tovarn::compat::detail {

// The ids of the secondary instances; a path that starts with one is theirs.
using SecondaryIds = std::unordered_set<std::string_view>;

// Appends one issue for every path that the rule reads, resolved against the
// bind's path, that names no instance element and no secondary instance; each
// path at most once. `known_paths` must not be empty.
void check_instance_paths(const xpath::Expr& expr, std::string_view bind_path,
                          const KnownPaths& known_paths, const SecondaryIds& secondary_ids,
                          std::vector<CompatIssue>& issues);

}  // namespace tovarn::compat::detail
