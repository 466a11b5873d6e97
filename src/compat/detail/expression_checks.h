#pragma once
// The checks that find, in one parsed rule, the constructs on which the tablet
// and browser engines part ways. They inspect the tree and evaluate nothing.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compat/detail/repeat_paths.h"
#include "compat/finding.h"
#include "xpath/expr.h"

namespace tovarn::compat::detail {

// Appends an issue for every construct of the expression, a rule of the bind
// on `bind_path` (trimmed), in the order a depth-first walk meets them. The
// walk keeps its own stack, so the tree's depth does not matter.
void check_expression(const xpath::Expr& expr, const RepeatPaths& repeat_paths,
                      std::string_view bind_path, std::vector<CompatIssue>& issues);

// At most one issue for a call of a function that one engine lacks or reads
// otherwise; the name must match whole, prefix and case included.
void check_function_call(std::string_view name, std::span<const xpath::Expr> args,
                         std::vector<CompatIssue>& issues);

// Whether the pattern has a "|" outside every group and class.
bool has_top_level_alternation(std::string_view pattern);

}  // namespace tovarn::compat::detail
