#pragma once
// A compact one-line form of an expression tree, for tests and diagnostics:
//   "a/b[1]"      path{child:a child:b[num{1}]}
//   "/x | f(1)"   union{abs{child:x} call{f num{1}}}
//   "-$v + 'a'"   add{neg{var{v}} lit{"a"}}
// A step is axis:name, or axis:* when it has no name test; an absolute path
// is abs{...}, one from the rule node node{...}; a filter path is
// filter{primary[predicates] steps}.

#include <string>

#include "xpath/expr.h"

namespace tovarn::xpath::detail {

std::string dump(const Expr& expr);

}  // namespace tovarn::xpath::detail
