#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

#include "tree/document.h"
#include "xpath/environment.h"
#include "xpath/expr.h"
#include "xpath/value.h"

namespace tovarn::xpath {

struct EvalContext {
  tree::NodeId node;
  std::size_t position = 1;  // counted from 1
  std::size_t size = 1;
};

// The value of an expression in one document at one context. The first error
// of any sub-evaluation is the result. Reads the document, never changes it.
[[nodiscard]] EvalResult evaluate(const Expr& expr, const tree::Document& doc,
                                  EvalContext context, const Environment& env);

// The first element named "instance" (the root included) with an id attribute
// of that value.
std::optional<tree::NodeId> find_instance_element(const tree::Document& doc, std::string_view id);

}  // namespace tovarn::xpath
