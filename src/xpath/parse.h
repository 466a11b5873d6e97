#pragma once
#include <expected>
#include <string>
#include <string_view>

#include "xpath/expr.h"

namespace tovarn::xpath {

// Parses one expression, or gives the tokenizer's or the parser's message.
// Nesting deeper than kMaxExprDepth (each chain link of a left-associative
// operator counts) is refused, so walks over the result may recurse.
[[nodiscard]] std::expected<Expression, std::string> parse_expression(std::string_view text);
// The same into an arena of the caller's, which then holds the whole tree;
// what a refused text used stays there until the arena goes.
[[nodiscard]] std::expected<const Expr*, std::string> parse_expression(std::string_view text,
                                                                       ExprArena& arena);

}  // namespace tovarn::xpath
