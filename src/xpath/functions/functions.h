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

// What the evaluator's memos and never_fails may assume of a call, from the
// library's table; nothing for a name it does not hold.
struct CallTraits {
  bool reads_context = false;  // the context node, position or size
  // Its value comes from its arguments' values alone (and the names of
  // nodes, which a write of texts leaves alone).
  bool pure = false;
  // Known, implemented and given a count of arguments it takes: it fails
  // only through its arguments ...
  bool fails_only_through_arguments = false;
  bool needs_node_sets = false;  // ... which must then be node-sets
};
CallTraits call_traits(const Expr::FunctionCall& call);

}  // namespace tovarn::xpath
