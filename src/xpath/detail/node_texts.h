#pragma once
// A node-set's string values gathered once, for comparing the set with `=`
// and `!=` many times over while its document stays unchanged.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "xpath/expr.h"
#include "xpath/value.h"

namespace tovarn::xpath::detail {

class NodeTest;

// Outside NodeTexts: clang takes a nested class with member initializers as not
// default-constructible within its enclosing class, and std::optional asks.
struct NodeTextNumbers {
  std::unordered_set<double> values;  // the texts' numbers but NaN, zero unsigned
  bool nan = false;
};

class NodeTexts {
 public:
  explicit NodeTexts(const NodeSet& set);

  // compare_equal(op, set, other), and so also compare_equal(op, other, set).
  bool compare(BinaryOp op, const Value& other) const;
  bool compare(BinaryOp op, const NodeSet& other) const;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Numbers = NodeTextNumbers;
  const Numbers& numbers() const;

  bool any_text_passes(const NodeTest& test) const;

  bool has_ids_ = false;  // the set is not empty (a boolean compares that)
  std::unordered_set<std::string, Hash, std::equal_to<>> texts_;
  mutable std::optional<Numbers> numbers_;
};

}  // namespace tovarn::xpath::detail
