#pragma once
// Which node paths an expression reads, read off the expression tree alone:
// nothing is evaluated and no document is consulted.

#include <string>
#include <string_view>
#include <vector>

#include "xpath/expr.h"

namespace tovarn::form {

// The absolute paths ("/data/group/q": no positions, predicates or prefixes)
// that the location paths of `expr` name, relative ones resolved against
// `base`, the nodeset of the bind holding the expression, taken as written.
// In the order met, duplicates kept; a path's own path comes before those of
// its predicates, and predicates resolve against `base` too. Paths that start
// from a function call, or take a step the walk cannot follow (an attribute,
// descendant or sibling axis, a child step without a name), add nothing.
std::vector<std::string> paths_read(const xpath::Expr& expr, std::string_view base);

}  // namespace tovarn::form
