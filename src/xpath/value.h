#pragma once
// Values of expressions and the conversions between them.

#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tree/document.h"
#include "xpath/expr.h"

namespace tovarn::xpath {

// Node ids carry the document they belong to, so a node-set taken from a
// secondary instance can never be read in the wrong document.
struct NodeSet {
  const tree::Document* document = nullptr;
  std::vector<tree::NodeId> ids;  // document order, no duplicates
};

// Alternatives in tag order: boolean, number, string, node-set.
using Value = std::variant<bool, double, std::string, NodeSet>;
using EvalResult = std::expected<Value, std::string>;

bool value_to_boolean(const Value& value);
std::string value_to_string(const Value& value);
double value_to_number(const Value& value);

// Integral values below 1e21 in magnitude as exact integers, everything else
// as the shortest decimal that reads back to the same float; never an exponent.
std::string format_number(double number);
// Trimmed float grammar with sign, point, exponent, inf/infinity/nan; failing
// that, an ISO date or date-time as days since 1970-01-01 (its zone dropped);
// NaN for anything else.
double string_to_number(std::string_view text);
// Whether the text, as it stands (untrimmed), is in that grammar: tells a
// text reading "nan" from one that is no number at all.
bool is_number_text(std::string_view text);

// `op` is BinaryOp::eq or BinaryOp::ne.
bool compare_equal(BinaryOp op, const Value& lhs, const Value& rhs);

// "a boolean", "a number", "a string" (never asked of a node-set).
std::string_view kind_phrase(const Value& value);

// The node-set, or "{what} needs a node-set, got {kind phrase}".
[[nodiscard]] std::expected<NodeSet, std::string> value_to_nodeset(Value&& value,
                                                                   std::string_view what);

// Stable sort by document order (unindexed ids last, in their given order),
// then removal of adjacent duplicates.
void sort_document_order(std::vector<tree::NodeId>& ids, const tree::Document& doc);

}  // namespace tovarn::xpath
