#pragma once
// The expression tree that the parser builds, the evaluator walks and the form
// logic and engine comparison inspect. A plain owned value: every child
// belongs to its parent alone. The parser bounds the tree's depth
// (kMaxExprDepth), so walks over an Expr may recurse.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tovarn::xpath {

inline constexpr int kMaxExprDepth = 1000;

enum class Axis : std::uint8_t {
  child,
  parent,
  self,
  descendant,
  descendant_or_self,
  ancestor,
  ancestor_or_self,
  attribute,
  following,
  following_sibling,
  preceding,
  preceding_sibling,
};

// "or" and "and" are alternative tokens in C++, hence logical_or / logical_and.
enum class BinaryOp : std::uint8_t {
  logical_or,
  logical_and,
  eq,
  ne,
  lt,
  le,
  gt,
  ge,
  add,
  sub,
  mul,
  div,
  mod,
};

struct Expr;

struct Step {
  Axis axis = Axis::child;
  // The local name the step's nodes must have; absent lets every node through.
  std::optional<std::string> name_test;
  std::vector<Expr> predicates;
};

struct Expr {
  struct Number {
    double value;
  };
  struct Literal {
    std::string text;
  };
  struct Variable {
    std::string name;  // without the "$"
  };
  struct LocationPath {
    bool absolute = false;
    std::vector<Step> steps;  // empty only for "/" alone
  };
  struct FilterPath {
    std::unique_ptr<Expr> primary;
    std::vector<Expr> predicates;
    std::vector<Step> steps;
  };
  struct FunctionCall {
    std::string name;  // as written, prefix included
    std::vector<Expr> args;
  };
  struct Binary {
    BinaryOp op;
    std::unique_ptr<Expr> lhs;
    std::unique_ptr<Expr> rhs;
  };
  struct Negate {
    std::unique_ptr<Expr> operand;
  };
  struct Union {
    std::unique_ptr<Expr> lhs;
    std::unique_ptr<Expr> rhs;
  };

  // Alternatives in the order of the kinds.
  std::variant<Number, Literal, Variable, LocationPath, FilterPath, FunctionCall, Binary, Negate,
               Union>
      node;
};

}  // namespace tovarn::xpath
