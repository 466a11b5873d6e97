#pragma once
#include "tree/document.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/expr.h"
#include "xpath/value.h"

namespace tovarn::xpath {

// The function library's only entry: dispatch by exact name, arity check,
// lazy evaluation of the arguments in the call's own context.
[[nodiscard]] EvalResult call_function(const Expr::FunctionCall& call, const tree::Document& doc,
                                       EvalContext context, const Environment& env);

}  // namespace tovarn::xpath
