#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "xpath/detail/parse_messages.h"
#include "xpath/detail/token.h"
#include "xpath/parse.h"

namespace tovarn::xpath {

namespace {

using detail::Token;
using detail::TokenKind;

template <class T>
using Result = std::expected<T, std::string>;
using Status = std::expected<void, std::string>;

// A subtree and the number of levels below its root (0 for a leaf). Depth is
// measured bottom-up because a left-deep chain only learns how deep its first
// operand sits once the chain ends.
struct Parsed {
  Expr expr;
  int depth = 0;
};

std::unexpected<std::string> too_deep() { return std::unexpected(detail::msg::nests_too_deep()); }

// Raises `depth` to hold a child of depth `child` one level down.
[[nodiscard]] Status hold_child(int& depth, int child) {
  depth = std::max(depth, child + 1);
  if (depth > kMaxExprDepth) return too_deep();
  return {};
}

bool is_node_type_name(std::string_view name) {
  return name == "node" || name == "text" || name == "comment" || name == "processing-instruction";
}

std::optional<Axis> axis_named(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, Axis>, 12> kAxes = {{
      {"child", Axis::child},
      {"parent", Axis::parent},
      {"self", Axis::self},
      {"descendant", Axis::descendant},
      {"descendant-or-self", Axis::descendant_or_self},
      {"ancestor", Axis::ancestor},
      {"ancestor-or-self", Axis::ancestor_or_self},
      {"attribute", Axis::attribute},
      {"following", Axis::following},
      {"following-sibling", Axis::following_sibling},
      {"preceding", Axis::preceding},
      {"preceding-sibling", Axis::preceding_sibling},
  }};
  for (const auto& [axis_name, axis] : kAxes) {
    if (axis_name == name) return axis;
  }
  return std::nullopt;
}

struct Operator {
  BinaryOp op;
  int precedence;  // higher binds tighter
};

// The binary operator a token stands for after a complete operand. Operator
// names are whole Name texts, compared byte for byte.
std::optional<Operator> binary_operator(const Token* token) {
  if (token == nullptr) return std::nullopt;
  switch (token->kind) {
    case TokenKind::name:
      if (token->text == "or") return Operator{BinaryOp::logical_or, 1};
      if (token->text == "and") return Operator{BinaryOp::logical_and, 2};
      if (token->text == "div") return Operator{BinaryOp::div, 6};
      if (token->text == "mod") return Operator{BinaryOp::mod, 6};
      return std::nullopt;
    case TokenKind::equal: return Operator{BinaryOp::eq, 3};
    case TokenKind::not_equal: return Operator{BinaryOp::ne, 3};
    case TokenKind::less: return Operator{BinaryOp::lt, 4};
    case TokenKind::less_equal: return Operator{BinaryOp::le, 4};
    case TokenKind::greater: return Operator{BinaryOp::gt, 4};
    case TokenKind::greater_equal: return Operator{BinaryOp::ge, 4};
    case TokenKind::plus: return Operator{BinaryOp::add, 5};
    case TokenKind::minus: return Operator{BinaryOp::sub, 5};
    case TokenKind::star: return Operator{BinaryOp::mul, 6};
    default: return std::nullopt;
  }
}

bool starts_step(const Token* token) {
  if (token == nullptr) return false;
  switch (token->kind) {
    case TokenKind::name:
    case TokenKind::dot:
    case TokenKind::double_dot:
    case TokenKind::at:
    case TokenKind::star:
      return true;
    default:
      return false;
  }
}

Step descendant_or_self_step() { return Step{Axis::descendant_or_self, std::nullopt, {}}; }

// Recursive descent over the token list. Two budgets keep it and the tree
// shallow: `nesting_` counts the parse_or calls that are open (parentheses,
// predicates, arguments and each tighter-binding operator level), which bounds
// the parser's own stack; Parsed::depth bounds the tree, so a left-deep chain
// such as 1+1+... stops growing at kMaxExprDepth. Nothing deeper is built.
class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  std::size_t position() const { return pos_; }

  // Operands joined by binary operators from "or" (loosest) to "*", "div" and
  // "mod" (tightest), each level left-associative.
  [[nodiscard]] Result<Parsed> parse_or() {
    auto first = parse_unary();
    if (!first) return first;
    return parse_operators(std::move(*first), 1);
  }

 private:
  const Token* peek(std::size_t ahead = 0) const {
    return pos_ + ahead < tokens_.size() ? &tokens_[pos_ + ahead] : nullptr;
  }

  bool at(TokenKind kind, std::size_t ahead = 0) const {
    const Token* token = peek(ahead);
    return token != nullptr && token->kind == kind;
  }

  bool eat(TokenKind kind) {
    if (!at(kind)) return false;
    ++pos_;
    return true;
  }

  // Used only for the payload-less closers RightParen and RightBracket.
  [[nodiscard]] Status expect(TokenKind kind) {
    if (eat(kind)) return {};
    return std::unexpected(detail::msg::expected_token(Token{kind, {}}, peek()));
  }

  [[nodiscard]] Result<Parsed> parse_nested() {
    if (nesting_ == kMaxExprDepth) return too_deep();
    ++nesting_;
    auto inner = parse_or();
    --nesting_;
    return inner;
  }

  // Precedence climbing: folds operators of at least `min_precedence` into
  // `lhs`; a tighter operator after a right operand takes that operand first.
  [[nodiscard]] Result<Parsed> parse_operators(Parsed lhs, int min_precedence) {
    for (auto op = binary_operator(peek()); op && op->precedence >= min_precedence;
         op = binary_operator(peek())) {
      ++pos_;
      auto rhs = parse_unary();
      if (!rhs) return rhs;
      for (auto next = binary_operator(peek()); next && next->precedence > op->precedence;
           next = binary_operator(peek())) {
        if (nesting_ == kMaxExprDepth) return too_deep();
        ++nesting_;
        rhs = parse_operators(std::move(*rhs), next->precedence);
        --nesting_;
        if (!rhs) return rhs;
      }
      int depth = 0;
      if (auto held = hold_child(depth, std::max(lhs.depth, rhs->depth)); !held) {
        return std::unexpected(std::move(held.error()));
      }
      lhs.expr = Expr{Expr::Binary{op->op, std::make_unique<Expr>(std::move(lhs.expr)),
                                   std::make_unique<Expr>(std::move(rhs->expr))}};
      lhs.depth = depth;
    }
    return lhs;
  }

  // Minus signs, counted rather than recursed into, then a union.
  [[nodiscard]] Result<Parsed> parse_unary() {
    int negations = 0;
    while (eat(TokenKind::minus)) {
      if (++negations > kMaxExprDepth) return too_deep();
    }
    auto operand = parse_union();
    if (!operand || negations == 0) return operand;
    if (operand->depth + negations > kMaxExprDepth) return too_deep();
    for (int i = 0; i < negations; ++i) {
      operand->expr = Expr{Expr::Negate{std::make_unique<Expr>(std::move(operand->expr))}};
    }
    operand->depth += negations;
    return operand;
  }

  [[nodiscard]] Result<Parsed> parse_union() {
    auto lhs = parse_path_expr();
    if (!lhs) return lhs;
    while (eat(TokenKind::pipe)) {
      auto rhs = parse_path_expr();
      if (!rhs) return rhs;
      int depth = 0;
      if (auto held = hold_child(depth, std::max(lhs->depth, rhs->depth)); !held) {
        return std::unexpected(std::move(held.error()));
      }
      lhs->expr = Expr{Expr::Union{std::make_unique<Expr>(std::move(lhs->expr)),
                                   std::make_unique<Expr>(std::move(rhs->expr))}};
      lhs->depth = depth;
    }
    return lhs;
  }

  [[nodiscard]] Result<Parsed> parse_path_expr() {
    if (eat(TokenKind::double_slash)) {
      Parsed path{Expr{Expr::LocationPath{true, {}}}};
      auto& steps = std::get<Expr::LocationPath>(path.expr.node).steps;
      steps.push_back(descendant_or_self_step());
      if (auto rest = parse_relative_path(steps, path.depth); !rest) {
        return std::unexpected(std::move(rest.error()));
      }
      return path;
    }
    if (eat(TokenKind::slash)) {
      Parsed path{Expr{Expr::LocationPath{true, {}}}};
      if (starts_step(peek())) {
        auto& steps = std::get<Expr::LocationPath>(path.expr.node).steps;
        if (auto rest = parse_relative_path(steps, path.depth); !rest) {
          return std::unexpected(std::move(rest.error()));
        }
      }
      return path;
    }

    auto primary = parse_primary();
    if (!primary) return std::unexpected(std::move(primary.error()));
    if (!*primary) {
      Parsed path{Expr{Expr::LocationPath{false, {}}}};
      auto& steps = std::get<Expr::LocationPath>(path.expr.node).steps;
      if (auto rest = parse_relative_path(steps, path.depth); !rest) {
        return std::unexpected(std::move(rest.error()));
      }
      return path;
    }
    return parse_filter(std::move(**primary));
  }

  // A function call, number, literal, variable or parenthesised expression;
  // nullopt (nothing consumed) where a relative path begins instead.
  [[nodiscard]] Result<std::optional<Parsed>> parse_primary() {
    const Token* token = peek();
    if (token == nullptr) return std::nullopt;
    switch (token->kind) {
      case TokenKind::number:
        ++pos_;
        return Parsed{Expr{Expr::Number{token->number}}};
      case TokenKind::literal:
        ++pos_;
        return Parsed{Expr{Expr::Literal{std::string(token->text)}}};
      case TokenKind::variable:
        ++pos_;
        return Parsed{Expr{Expr::Variable{std::string(token->text)}}};
      case TokenKind::left_paren: {
        ++pos_;
        auto inner = parse_nested();
        if (!inner) return std::unexpected(std::move(inner.error()));
        if (auto closed = expect(TokenKind::right_paren); !closed) {
          return std::unexpected(std::move(closed.error()));
        }
        return std::move(*inner);
      }
      case TokenKind::name:
        if (at(TokenKind::left_paren, 1) && !is_node_type_name(token->text)) return parse_call();
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }

  [[nodiscard]] Result<std::optional<Parsed>> parse_call() {
    Parsed call{Expr{Expr::FunctionCall{std::string(peek()->text), {}}}};
    pos_ += 2;  // the name and "("
    if (eat(TokenKind::right_paren)) return call;
    auto& args = std::get<Expr::FunctionCall>(call.expr.node).args;
    do {
      auto arg = parse_nested();
      if (!arg) return std::unexpected(std::move(arg.error()));
      if (auto held = hold_child(call.depth, arg->depth); !held) {
        return std::unexpected(std::move(held.error()));
      }
      args.push_back(std::move(arg->expr));
    } while (eat(TokenKind::comma));
    if (auto closed = expect(TokenKind::right_paren); !closed) {
      return std::unexpected(std::move(closed.error()));
    }
    return call;
  }

  // The predicates and trailing steps after a primary; the primary itself
  // when there are none.
  [[nodiscard]] Result<Parsed> parse_filter(Parsed primary) {
    Expr::FilterPath filter;
    int depth = 0;
    if (auto predicates = parse_predicates(filter.predicates, depth); !predicates) {
      return std::unexpected(std::move(predicates.error()));
    }
    for (;;) {
      if (eat(TokenKind::double_slash)) {
        filter.steps.push_back(descendant_or_self_step());
      } else if (!eat(TokenKind::slash)) {
        break;
      }
      if (auto rest = parse_relative_path(filter.steps, depth); !rest) {
        return std::unexpected(std::move(rest.error()));
      }
    }
    if (filter.predicates.empty() && filter.steps.empty()) return primary;
    if (auto held = hold_child(depth, primary.depth); !held) {
      return std::unexpected(std::move(held.error()));
    }
    filter.primary = std::make_unique<Expr>(std::move(primary.expr));
    return Parsed{Expr{std::move(filter)}, depth};
  }

  // Steps separated by "/" or "//" (which adds a descendant-or-self step),
  // appended to `steps`; `depth` holds the deepest predicate.
  [[nodiscard]] Status parse_relative_path(std::vector<Step>& steps, int& depth) {
    for (;;) {
      if (auto step = parse_step(steps, depth); !step) return step;
      if (eat(TokenKind::double_slash)) {
        steps.push_back(descendant_or_self_step());
      } else if (!eat(TokenKind::slash)) {
        return {};
      }
    }
  }

  [[nodiscard]] Status parse_step(std::vector<Step>& steps, int& depth) {
    Step step;
    if (eat(TokenKind::dot)) {
      step.axis = Axis::self;
    } else if (eat(TokenKind::double_dot)) {
      step.axis = Axis::parent;
    } else {
      if (eat(TokenKind::at)) {
        step.axis = Axis::attribute;
      } else if (at(TokenKind::name) && at(TokenKind::double_colon, 1)) {
        const auto axis = axis_named(peek()->text);
        if (!axis) return std::unexpected(detail::msg::unsupported_axis(peek()->text));
        step.axis = *axis;
        pos_ += 2;
      }
      const Token* test = peek();
      if (test != nullptr && test->kind == TokenKind::star) {
        ++pos_;
      } else if (test != nullptr && test->kind == TokenKind::name) {
        ++pos_;
        if (is_node_type_name(test->text) && eat(TokenKind::left_paren)) {
          if (auto closed = expect(TokenKind::right_paren); !closed) return closed;
        } else {
          // Local names only: "jr:x" tests x, "a:" the empty name.
          step.name_test.emplace(test->text.substr(test->text.rfind(':') + 1));
        }
      } else {
        return std::unexpected(detail::msg::expected_node_test(test));
      }
    }
    if (auto predicates = parse_predicates(step.predicates, depth); !predicates) return predicates;
    steps.push_back(std::move(step));
    return {};
  }

  [[nodiscard]] Status parse_predicates(std::vector<Expr>& predicates, int& depth) {
    while (eat(TokenKind::left_bracket)) {
      auto predicate = parse_nested();
      if (!predicate) return std::unexpected(std::move(predicate.error()));
      if (auto held = hold_child(depth, predicate->depth); !held) return held;
      if (auto closed = expect(TokenKind::right_bracket); !closed) return closed;
      predicates.push_back(std::move(predicate->expr));
    }
    return {};
  }

  const std::vector<Token>& tokens_;
  std::size_t pos_ = 0;
  int nesting_ = 0;  // open parse_or calls below the outermost
};

}  // namespace

std::expected<Expr, std::string> parse_expression(std::string_view text) {
  auto tokens = detail::tokenize(text);
  if (!tokens) return std::unexpected(std::move(tokens.error()));
  Parser parser(*tokens);
  auto parsed = parser.parse_or();
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  if (parser.position() < tokens->size()) {
    return std::unexpected(detail::msg::trailing_input(text, parser.position()));
  }
  return std::move(parsed->expr);
}

}  // namespace tovarn::xpath
