#include <algorithm>
#include <array>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <span>
#include <utility>

#include "xpath/detail/parse_messages.h"
#include "xpath/detail/token.h"
#include "xpath/parse.h"
#include "xpath/watch.h"

namespace tovarn::xpath {

namespace {

using detail::Token;
using detail::TokenKind;

template <class T, std::size_t N>
std::optional<T> named(const std::array<std::pair<std::string_view, T>, N>& table,
                       std::string_view name) {
  for (const auto& [text, value] : table) {
    if (text == name) return value;
  }
  return std::nullopt;
}

std::optional<NodeType> node_type_named(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, NodeType>, 4> kTypes = {{
      {"node", NodeType::node},
      {"text", NodeType::text},
      {"comment", NodeType::comment},
      {"processing-instruction", NodeType::processing_instruction},
  }};
  return named(kTypes, name);
}

bool is_node_type_name(std::string_view name) { return node_type_named(name).has_value(); }

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
  return named(kAxes, name);
}

struct Operator {
  BinaryOp op;
  std::uint8_t precedence;  // higher binds tighter; 0 for no operator
};
// Two bytes returned in a register: an optional of it went through memory,
// and this runs after every operand at every level.
static_assert(sizeof(Operator) == 2);
constexpr Operator kNoOperator{BinaryOp::logical_or, 0};

// The binary operator a token stands for after a complete operand. Operator
// names are whole Name texts, compared byte for byte.
Operator binary_operator(const Token* token) {
  if (token == nullptr) return kNoOperator;
  switch (token->kind) {
    case TokenKind::name:
      if (token->text == "or") return Operator{BinaryOp::logical_or, 1};
      if (token->text == "and") return Operator{BinaryOp::logical_and, 2};
      if (token->text == "div") return Operator{BinaryOp::div, 6};
      if (token->text == "mod") return Operator{BinaryOp::mod, 6};
      return kNoOperator;
    case TokenKind::equal: return Operator{BinaryOp::eq, 3};
    case TokenKind::not_equal: return Operator{BinaryOp::ne, 3};
    case TokenKind::less: return Operator{BinaryOp::lt, 4};
    case TokenKind::less_equal: return Operator{BinaryOp::le, 4};
    case TokenKind::greater: return Operator{BinaryOp::gt, 4};
    case TokenKind::greater_equal: return Operator{BinaryOp::ge, 4};
    case TokenKind::plus: return Operator{BinaryOp::add, 5};
    case TokenKind::minus: return Operator{BinaryOp::sub, 5};
    case TokenKind::star: return Operator{BinaryOp::mul, 6};
    default: return kNoOperator;
  }
}

bool starts_step(const Token* token) {
  if (token == nullptr) return false;
  switch (token->kind) {
    case TokenKind::name:
    case TokenKind::dot:
    case TokenKind::double_dot:
    case TokenKind::at:
    case TokenKind::star: return true;
    default: return false;
  }
}

// The parser's place in the token list, for one parse_expression call.
class TokenCursor {
 public:
  explicit TokenCursor(std::span<const Token> tokens) : tokens_(tokens) {}

  std::size_t position() const { return position_; }
  bool at_end() const { return position_ == tokens_.size(); }

  // The token `ahead` places on, or null past the end.
  const Token* peek_token(std::size_t ahead = 0) const {
    return position_ + ahead < tokens_.size() ? &tokens_[position_ + ahead] : nullptr;
  }

  bool at(TokenKind kind, std::size_t ahead = 0) const {
    const Token* token = peek_token(ahead);
    return token != nullptr && token->kind == kind;
  }

  // Payload-less kinds only; names are matched through peek_token.
  bool eat(TokenKind kind) {
    if (!at(kind)) return false;
    ++position_;
    return true;
  }

  void advance(std::size_t n = 1) { position_ += n; }

 private:
  std::span<const Token> tokens_;
  std::size_t position_ = 0;
};

// Recursive descent over the token list. Two budgets keep it and the tree
// shallow. `nesting_` counts the parse_or calls that are open (parentheses,
// predicates, arguments and each tighter-binding operator level), which bounds
// the parser's own stack. The depth each rule reports, the levels below the
// node it built, bounds the tree; it is measured bottom-up because a left-deep
// chain such as 1+1+... only learns how deep its first operand sits as the
// chain grows. Nothing deeper than the limit (kMaxExprDepth, or less where the
// thread's stack is small) is built.
//
// Rules parse into the node they are given and answer false with error_ set.
// Frames on the recursive path hold at most one Expr and no message, so the
// deepest accepted input stays well inside a thread's stack, sanitizers
// included; texts are built in the cold fail_ functions.
//
// Nodes go to the arena. A list (arguments, predicates, steps) is gathered on
// a stack of the parse, above whatever the lists still open below it hold,
// and copied out whole once it ends; an item joins its stack only when
// complete, so no rule holds a reference into one while it grows.
class Parser {
 public:
  Parser(std::span<const Token> tokens, ExprArena& arena, std::pmr::memory_resource* scratch)
      : cursor_(tokens), arena_(arena), exprs_(scratch), steps_(scratch) {}

  const TokenCursor& cursor() const { return cursor_; }
  std::string& error() { return error_; }

  // Operands joined by binary operators from "or" (loosest) to "*", "div" and
  // "mod" (tightest), each level left-associative.
  [[nodiscard]] bool parse_or(Expr& out, int& depth) {
    return parse_unary(out, depth) && parse_operators(out, depth, 1);
  }

 private:
  [[gnu::noinline, gnu::cold]] bool fail_too_deep() {
    error_ = detail::msg::nests_too_deep(limit_);
    return false;
  }
  [[gnu::noinline, gnu::cold]] bool fail_expected(TokenKind kind) {
    error_ = detail::msg::expected_token(Token{kind, {}}, cursor_.peek_token());
    return false;
  }
  [[gnu::noinline, gnu::cold]] bool fail_node_test() {
    error_ = detail::msg::expected_node_test(cursor_.peek_token());
    return false;
  }
  [[gnu::noinline, gnu::cold]] bool fail_axis() {
    error_ = detail::msg::unsupported_axis(cursor_.peek_token()->text);
    return false;
  }

  // A backstop under the depth limit, for a stack smaller than measured.
  bool stack_low() const { return watch_ != nullptr && watch_->stack_low(); }

  // Raises `depth` to hold a child of depth `child` one level down.
  [[nodiscard]] bool hold(int& depth, int child) {
    depth = std::max(depth, child + 1);
    return depth <= limit_ || fail_too_deep();
  }

  // Used only for the payload-less closers RightParen and RightBracket.
  [[nodiscard]] bool expect(TokenKind kind) { return cursor_.eat(kind) || fail_expected(kind); }

  [[nodiscard, gnu::noinline]] bool parse_nested(Expr& out, int& depth) {
    if (nesting_ == limit_ || stack_low()) return fail_too_deep();
    ++nesting_;
    const bool ok = parse_or(out, depth);
    --nesting_;
    return ok;
  }

  // Precedence climbing: folds operators of at least `min_precedence` into
  // `lhs`; a tighter operator after a right operand takes that operand first.
  [[nodiscard, gnu::noinline]] bool parse_operators(Expr& lhs, int& lhs_depth, int min_precedence) {
    for (Operator op = binary_operator(cursor_.peek_token());
         op.precedence != 0 && op.precedence >= min_precedence;
         op = binary_operator(cursor_.peek_token())) {
      cursor_.advance();
      Expr rhs;
      int rhs_depth = 0;
      if (!parse_unary(rhs, rhs_depth)) return false;
      for (Operator next = binary_operator(cursor_.peek_token());
           next.precedence > op.precedence;
           next = binary_operator(cursor_.peek_token())) {
        if (nesting_ == limit_ || stack_low()) return fail_too_deep();
        ++nesting_;
        const bool ok = parse_operators(rhs, rhs_depth, next.precedence);
        --nesting_;
        if (!ok) return false;
      }
      int depth = 0;
      if (!hold(depth, std::max(lhs_depth, rhs_depth))) return false;
      join_binary(op.op, lhs, rhs);
      lhs_depth = depth;
    }
    return true;
  }

  // The two operands side by side, in one piece of the arena.
  std::pair<const Expr*, const Expr*> place_pair(const Expr& lhs, const Expr& rhs) {
    const auto both = arena_.copy(std::span<const Expr>(std::array<Expr, 2>{lhs, rhs}));
    return {&both[0], &both[1]};
  }

  void join_binary(BinaryOp op, Expr& lhs, const Expr& rhs) {
    const auto [left, right] = place_pair(lhs, rhs);
    lhs.node.emplace<Expr::Binary>(op, left, right);
  }

  void join_union(Expr& lhs, const Expr& rhs) {
    const auto [left, right] = place_pair(lhs, rhs);
    lhs.node.emplace<Expr::Union>(left, right);
  }

  void negate(Expr& operand, int times) {
    for (int i = 0; i < times; ++i) operand.node.emplace<Expr::Negate>(arena_.make(operand));
  }

  // The items gathered above `base` on a list's stack, moved to the arena.
  template <class T>
  std::span<const T> take(std::pmr::vector<T>& stack, std::size_t base) {
    const auto items = arena_.copy(std::span<const T>(stack).subspan(base));
    stack.resize(base);
    return items;
  }

  // Minus signs, counted rather than recursed into, then a union.
  [[nodiscard, gnu::noinline]] bool parse_unary(Expr& out, int& depth) {
    int negations = 0;
    while (cursor_.eat(TokenKind::minus)) {
      if (++negations > limit_) return fail_too_deep();
    }
    if (!parse_union(out, depth)) return false;
    if (negations == 0) return true;
    if (depth + negations > limit_) return fail_too_deep();
    negate(out, negations);
    depth += negations;
    return true;
  }

  [[nodiscard, gnu::noinline]] bool parse_union(Expr& out, int& depth) {
    if (!parse_path_expr(out, depth)) return false;
    while (cursor_.eat(TokenKind::pipe)) {
      Expr rhs;
      int rhs_depth = 0;
      if (!parse_path_expr(rhs, rhs_depth)) return false;
      int joined = 0;
      if (!hold(joined, std::max(depth, rhs_depth))) return false;
      join_union(out, rhs);
      depth = joined;
    }
    return true;
  }

  void add_descendant_or_self() {
    Step step;
    step.axis = Axis::descendant_or_self;
    steps_.push_back(step);
  }

  // A path of the steps that follow, after a "//" when `descend`.
  [[nodiscard]] bool parse_path(Expr& out, int& depth, bool absolute, bool descend) {
    auto& path = out.node.emplace<Expr::LocationPath>();
    path.absolute = absolute;
    const std::size_t base = steps_.size();
    if (descend) add_descendant_or_self();
    if (!parse_relative_path(depth)) return false;
    path.steps = take(steps_, base);
    return true;
  }

  [[nodiscard, gnu::noinline]] bool parse_path_expr(Expr& out, int& depth) {
    if (cursor_.eat(TokenKind::double_slash)) return parse_path(out, depth, true, true);
    if (cursor_.eat(TokenKind::slash)) {
      // "/" alone is the root; what follows is left for the levels above.
      if (!starts_step(cursor_.peek_token())) {
        out.node.emplace<Expr::LocationPath>().absolute = true;
        return true;
      }
      return parse_path(out, depth, true, false);
    }
    switch (parse_primary(out, depth)) {
      case Primary::failed: return false;
      case Primary::absent: return parse_path(out, depth, false, false);
      case Primary::parsed: return parse_filter(out, depth);
    }
    return false;
  }

  enum class Primary { failed, absent, parsed };

  // A function call, number, literal, variable or parenthesised expression;
  // absent (nothing consumed) where a relative path begins instead.
  [[nodiscard, gnu::noinline]] Primary parse_primary(Expr& out, int& depth) {
    const Token* token = cursor_.peek_token();
    if (token == nullptr) return Primary::absent;
    switch (token->kind) {
      case TokenKind::number:
        cursor_.advance();
        out.node.emplace<Expr::Number>(token->number);
        return Primary::parsed;
      case TokenKind::literal:
        cursor_.advance();
        out.node.emplace<Expr::Literal>(arena_.copy(token->text));
        return Primary::parsed;
      case TokenKind::variable:
        cursor_.advance();
        out.node.emplace<Expr::Variable>(arena_.copy(token->text));
        return Primary::parsed;
      case TokenKind::left_paren:
        cursor_.advance();
        return parse_nested(out, depth) && expect(TokenKind::right_paren) ? Primary::parsed
                                                                          : Primary::failed;
      case TokenKind::name:
        if (!cursor_.at(TokenKind::left_paren, 1) || is_node_type_name(token->text))
          return Primary::absent;
        return parse_call(out, depth) ? Primary::parsed : Primary::failed;
      default: return Primary::absent;
    }
  }

  [[nodiscard, gnu::noinline]] bool parse_call(Expr& out, int& depth) {
    auto& call = out.node.emplace<Expr::FunctionCall>();
    call.name = arena_.copy(cursor_.peek_token()->text);
    cursor_.advance(2);  // the name and "("
    if (cursor_.eat(TokenKind::right_paren)) return true;
    const std::size_t base = exprs_.size();
    do {
      Expr arg;
      int arg_depth = 0;
      if (!parse_nested(arg, arg_depth) || !hold(depth, arg_depth)) return false;
      exprs_.push_back(arg);
    } while (cursor_.eat(TokenKind::comma));
    if (!expect(TokenKind::right_paren)) return false;
    call.args = take(exprs_, base);
    return true;
  }

  // The predicates and trailing steps after the primary in `out`, which
  // stays as it is when there are none.
  [[nodiscard, gnu::noinline]] bool parse_filter(Expr& out, int& depth) {
    if (!cursor_.at(TokenKind::left_bracket) && !cursor_.at(TokenKind::slash) &&
        !cursor_.at(TokenKind::double_slash)) {
      return true;
    }
    const Expr* primary = arena_.make(out);
    auto& filter = out.node.emplace<Expr::FilterPath>();
    filter.primary = primary;
    int primary_depth = depth;
    depth = 0;
    if (!hold(depth, primary_depth) || !parse_predicates(filter.predicates, depth)) return false;
    const std::size_t base = steps_.size();
    for (;;) {
      if (cursor_.eat(TokenKind::double_slash)) {
        add_descendant_or_self();
      } else if (!cursor_.eat(TokenKind::slash)) {
        filter.steps = take(steps_, base);
        return true;
      }
      if (!parse_relative_path(depth)) return false;
    }
  }

  // Steps separated by "/" or "//" (which adds a descendant-or-self step),
  // pushed on the steps' stack; `depth` holds the deepest predicate.
  [[nodiscard, gnu::noinline]] bool parse_relative_path(int& depth) {
    for (;;) {
      if (!parse_step(depth)) return false;
      if (cursor_.eat(TokenKind::double_slash)) {
        add_descendant_or_self();
      } else if (!cursor_.eat(TokenKind::slash)) {
        return true;
      }
    }
  }

  [[nodiscard, gnu::noinline]] bool parse_step(int& depth) {
    Step step;
    if (cursor_.eat(TokenKind::dot)) {
      step.axis = Axis::self;
    } else if (cursor_.eat(TokenKind::double_dot)) {
      step.axis = Axis::parent;
    } else {
      if (cursor_.eat(TokenKind::at)) {
        step.axis = Axis::attribute;
      } else if (cursor_.at(TokenKind::name) && cursor_.at(TokenKind::double_colon, 1)) {
        const auto axis = axis_named(cursor_.peek_token()->text);
        if (!axis) return fail_axis();
        step.axis = *axis;
        cursor_.advance(2);
      }
      const Token* test = cursor_.peek_token();
      if (test != nullptr && test->kind == TokenKind::star) {
        cursor_.advance();
      } else if (test != nullptr && test->kind == TokenKind::name) {
        cursor_.advance();
        // The parenthesis first: most steps are names, which it rules out.
        std::optional<NodeType> type;
        if (cursor_.at(TokenKind::left_paren) && (type = node_type_named(test->text))) {
          cursor_.advance();
          if (!expect(TokenKind::right_paren)) return false;
          step.type = *type;
        } else {
          // Local names only: "jr:x" tests x, "a:" the empty name. Most
          // names have no colon, which memchr tells faster than rfind.
          std::string_view local = test->text;
          if (local.find(':') != std::string_view::npos) local.remove_prefix(local.rfind(':') + 1);
          step.name_test = arena_.copy(local);
        }
      } else {
        return fail_node_test();
      }
    }
    if (!parse_predicates(step.predicates, depth)) return false;
    steps_.push_back(step);
    return true;
  }

  [[nodiscard, gnu::noinline]] bool parse_predicates(std::span<const Expr>& predicates,
                                                     int& depth) {
    if (!cursor_.at(TokenKind::left_bracket)) return true;
    const std::size_t base = exprs_.size();
    while (cursor_.eat(TokenKind::left_bracket)) {
      Expr predicate;
      int predicate_depth = 0;
      if (!parse_nested(predicate, predicate_depth) || !hold(depth, predicate_depth) ||
          !expect(TokenKind::right_bracket)) {
        return false;
      }
      exprs_.push_back(predicate);
    }
    predicates = take(exprs_, base);
    return true;
  }

  TokenCursor cursor_;
  ExprArena& arena_;
  std::pmr::vector<Expr> exprs_;  // the open lists of arguments and predicates
  std::pmr::vector<Step> steps_;  // the open lists of steps
  int nesting_ = 0;  // open parse_or calls below the outermost
  const Watch* watch_ = current_watch();
  const int limit_ = max_expr_depth();  // what the thread's stack holds
  std::string error_;
};

}  // namespace

std::expected<const Expr*, std::string> parse_expression(std::string_view text,
                                                         ExprArena& arena) {
  if (Watch* watch = current_watch(); watch != nullptr && watch->interrupted())
    return std::unexpected(interrupted_message());
  // The token list and the lists' stacks live only for this call: a buffer on
  // the stack holds them for expressions of a few hundred bytes, which is
  // nearly all of them, and longer ones spill to the heap.
  alignas(std::max_align_t) std::array<std::byte, 8192> buffer;
  std::pmr::monotonic_buffer_resource memory(buffer.data(), buffer.size());
  std::pmr::vector<Token> tokens(&memory);
  if (auto scanned = detail::tokenize_into(text, tokens); !scanned)
    return std::unexpected(std::move(scanned.error()));
  Parser parser(tokens, arena, &memory);
  Expr expr;
  int depth = 0;
  if (!parser.parse_or(expr, depth)) return std::unexpected(std::move(parser.error()));
  if (!parser.cursor().at_end()) {
    return std::unexpected(detail::msg::trailing_input(text, parser.cursor().position()));
  }
  return arena.make(expr);
}

std::expected<Expression, std::string> parse_expression(std::string_view text) {
  Expression expression;
  // Trees take some tens of bytes a byte of text.
  expression.arena.expect(text.size() * 24);
  auto root = parse_expression(text, expression.arena);
  if (!root) return std::unexpected(std::move(root.error()));
  static_cast<Expr&>(expression) = **root;
  return expression;
}

}  // namespace tovarn::xpath
