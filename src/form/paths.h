#pragma once
// Which node paths an expression reads, read off the expression tree alone:
// nothing is evaluated and no document is consulted.

#include <string>
#include <string_view>
#include <vector>

#include "xpath/expr.h"

namespace tovarn::form {

// The paths that `expr` reads when it is a rule of a bind on `base` (a
// nodeset as written): "/" and names, "@name" for an attribute,
// "instance('id')" for where instance() starts, "*" for any element and an
// empty segment for any elements between ("/data//v"). Relative paths resolve
// against `base`, those in a predicate against the nodes it filters; each
// path comes after the paths of its predicates, duplicates kept. "~" leads a
// path that names more than it reads (a wildcard, a sibling or other axis),
// and "#" one whose nodes alone count (count(), a test of existence): their
// texts are not read, nor those of the elements below them.
std::vector<std::string> paths_read(const xpath::Expr& expr, std::string_view base);

}  // namespace tovarn::form
