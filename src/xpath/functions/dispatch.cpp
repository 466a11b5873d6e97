#include "xpath/functions/functions.h"

namespace tovarn::xpath {

// Placeholder until the function library lands: every call is unknown.
EvalResult call_function(const Expr::FunctionCall& call, const tree::Document&, EvalContext,
                         const Environment&) {
  return std::unexpected("unknown function " + call.name + "()");
}

}  // namespace tovarn::xpath
