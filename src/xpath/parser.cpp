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
    case TokenKind::star: return true;
    default: return false;
  }
}

// Out of line, like the other builders below: they keep vector growth and
// string copies off the frames of the recursive rules.
[[gnu::noinline]] void add_descendant_or_self(std::vector<Step>& steps) {
  steps.push_back(Step{Axis::descendant_or_self, std::nullopt, {}});
}

[[gnu::noinline]] Step& add_step(std::vector<Step>& steps) { return steps.emplace_back(); }
[[gnu::noinline]] Expr& add_expr(std::vector<Expr>& exprs) { return exprs.emplace_back(); }

// Local names only: "jr:x" tests x, "a:" the empty name.
[[gnu::noinline]] void set_name_test(Step& step, std::string_view name) {
  step.name_test.emplace(name.substr(name.rfind(':') + 1));
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

  bool at_index(std::size_t i, TokenKind kind) const {
    return i < tokens_.size() && tokens_[i].kind == kind;
  }

  // The number of steps of the path that starts here, exact up to its first
  // predicate, so that its step list is allocated once. Reads only the
  // path's own tokens, so parsing stays linear.
  std::size_t steps_ahead() const {
    std::size_t steps = 1;
    for (std::size_t i = position_;; ++i) {
      if (at_index(i, TokenKind::dot) || at_index(i, TokenKind::double_dot)) {
        ++i;
      } else {
        if (at_index(i, TokenKind::at)) {
          ++i;
        } else if (at_index(i, TokenKind::name) && at_index(i + 1, TokenKind::double_colon)) {
          i += 2;
        }
        if (!at_index(i, TokenKind::name) && !at_index(i, TokenKind::star)) return steps;
        ++i;
      }
      if (at_index(i, TokenKind::slash)) {
        steps += 1;
      } else if (at_index(i, TokenKind::double_slash)) {
        steps += 2;
      } else {
        return steps;
      }
    }
  }

 private:
  std::span<const Token> tokens_;
  std::size_t position_ = 0;
};

// For each "(" the number of items up to its ")" (commas at its own level
// plus one), so that a call's argument list is allocated once rather than
// grown and moved on every argument. Brackets are levels of their own. Only a
// hint: unbalanced input miscounts harmlessly, as the parser refuses it.
void count_items(std::span<const Token> tokens, std::pmr::vector<std::uint32_t>& items) {
  items.assign(tokens.size(), 1);
  std::pmr::vector<std::uint32_t> open(items.get_allocator());
  for (std::uint32_t i = 0; i < tokens.size(); ++i) {
    switch (tokens[i].kind) {
      case TokenKind::left_paren:
      case TokenKind::left_bracket: open.push_back(i); break;
      case TokenKind::right_paren:
      case TokenKind::right_bracket:
        if (!open.empty()) open.pop_back();
        break;
      case TokenKind::comma:
        if (!open.empty()) ++items[open.back()];
        break;
      default: break;
    }
  }
}

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
class Parser {
 public:
  Parser(std::span<const Token> tokens, std::span<const std::uint32_t> items)
      : cursor_(tokens), items_(items) {}

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
    for (auto op = binary_operator(cursor_.peek_token()); op && op->precedence >= min_precedence;
         op = binary_operator(cursor_.peek_token())) {
      cursor_.advance();
      Expr rhs;
      int rhs_depth = 0;
      if (!parse_unary(rhs, rhs_depth)) return false;
      for (auto next = binary_operator(cursor_.peek_token());
           next && next->precedence > op->precedence;
           next = binary_operator(cursor_.peek_token())) {
        if (nesting_ == limit_ || stack_low()) return fail_too_deep();
        ++nesting_;
        const bool ok = parse_operators(rhs, rhs_depth, next->precedence);
        --nesting_;
        if (!ok) return false;
      }
      int depth = 0;
      if (!hold(depth, std::max(lhs_depth, rhs_depth))) return false;
      join_binary(op->op, lhs, std::move(rhs));
      lhs_depth = depth;
    }
    return true;
  }

  [[gnu::noinline]] static void join_binary(BinaryOp op, Expr& lhs, Expr&& rhs) {
    auto left = std::make_unique<Expr>(std::move(lhs));
    lhs.node.emplace<Expr::Binary>(op, std::move(left), std::make_unique<Expr>(std::move(rhs)));
  }

  [[gnu::noinline]] static void join_union(Expr& lhs, Expr&& rhs) {
    auto left = std::make_unique<Expr>(std::move(lhs));
    lhs.node.emplace<Expr::Union>(std::move(left), std::make_unique<Expr>(std::move(rhs)));
  }

  [[gnu::noinline]] static void negate(Expr& operand, int times) {
    for (int i = 0; i < times; ++i) {
      auto inner = std::make_unique<Expr>(std::move(operand));
      operand.node.emplace<Expr::Negate>(std::move(inner));
    }
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
      join_union(out, std::move(rhs));
      depth = joined;
    }
    return true;
  }

  static std::vector<Step>& make_path(Expr& out, bool absolute) {
    auto& path = out.node.emplace<Expr::LocationPath>();
    path.absolute = absolute;
    return path.steps;
  }

  [[nodiscard, gnu::noinline]] bool parse_path_expr(Expr& out, int& depth) {
    if (cursor_.eat(TokenKind::double_slash)) {
      auto& steps = make_path(out, true);
      add_descendant_or_self(steps);
      return parse_relative_path(steps, depth);
    }
    if (cursor_.eat(TokenKind::slash)) {
      // "/" alone is the root; what follows is left for the levels above.
      auto& steps = make_path(out, true);
      return !starts_step(cursor_.peek_token()) || parse_relative_path(steps, depth);
    }
    switch (parse_primary(out, depth)) {
      case Primary::failed: return false;
      case Primary::absent: return parse_relative_path(make_path(out, false), depth);
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
        out.node.emplace<Expr::Literal>().text.assign(token->text);
        return Primary::parsed;
      case TokenKind::variable:
        cursor_.advance();
        out.node.emplace<Expr::Variable>().name.assign(token->text);
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
    call.name.assign(cursor_.peek_token()->text);
    cursor_.advance(2);  // the name and "("
    if (cursor_.eat(TokenKind::right_paren)) return true;
    call.args.reserve(items_[cursor_.position() - 1]);
    do {
      int arg_depth = 0;
      if (!parse_nested(add_expr(call.args), arg_depth) || !hold(depth, arg_depth)) {
        return false;
      }
    } while (cursor_.eat(TokenKind::comma));
    return expect(TokenKind::right_paren);
  }

  [[gnu::noinline]] static Expr::FilterPath& make_filter(Expr& primary) {
    auto inner = std::make_unique<Expr>(std::move(primary));
    auto& filter = primary.node.emplace<Expr::FilterPath>();
    filter.primary = std::move(inner);
    return filter;
  }

  // The predicates and trailing steps after the primary in `out`, which
  // stays as it is when there are none.
  [[nodiscard, gnu::noinline]] bool parse_filter(Expr& out, int& depth) {
    if (!cursor_.at(TokenKind::left_bracket) && !cursor_.at(TokenKind::slash) &&
        !cursor_.at(TokenKind::double_slash)) {
      return true;
    }
    auto& filter = make_filter(out);
    int primary_depth = depth;
    depth = 0;
    if (!hold(depth, primary_depth) || !parse_predicates(filter.predicates, depth)) return false;
    for (;;) {
      if (cursor_.eat(TokenKind::double_slash)) {
        add_descendant_or_self(filter.steps);
      } else if (!cursor_.eat(TokenKind::slash)) {
        return true;
      }
      if (!parse_relative_path(filter.steps, depth)) return false;
    }
  }

  // Steps separated by "/" or "//" (which adds a descendant-or-self step),
  // appended to `steps`; `depth` holds the deepest predicate.
  [[nodiscard, gnu::noinline]] bool parse_relative_path(std::vector<Step>& steps, int& depth) {
    steps.reserve(steps.size() + cursor_.steps_ahead());
    for (;;) {
      if (!parse_step(steps, depth)) return false;
      if (cursor_.eat(TokenKind::double_slash)) {
        add_descendant_or_self(steps);
      } else if (!cursor_.eat(TokenKind::slash)) {
        return true;
      }
    }
  }

  [[nodiscard, gnu::noinline]] bool parse_step(std::vector<Step>& steps, int& depth) {
    Step& step = add_step(steps);
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
        if (is_node_type_name(test->text) && cursor_.eat(TokenKind::left_paren)) {
          if (!expect(TokenKind::right_paren)) return false;
        } else {
          set_name_test(step, test->text);
        }
      } else {
        return fail_node_test();
      }
    }
    return parse_predicates(step.predicates, depth);
  }

  [[nodiscard, gnu::noinline]] bool parse_predicates(std::vector<Expr>& predicates, int& depth) {
    while (cursor_.eat(TokenKind::left_bracket)) {
      int predicate_depth = 0;
      if (!parse_nested(add_expr(predicates), predicate_depth) || !hold(depth, predicate_depth) ||
          !expect(TokenKind::right_bracket)) {
        return false;
      }
    }
    return true;
  }

  TokenCursor cursor_;
  std::span<const std::uint32_t> items_;  // count_items of the tokens
  int nesting_ = 0;  // open parse_or calls below the outermost
  const Watch* watch_ = current_watch();
  const int limit_ = max_expr_depth();  // what the thread's stack holds
  std::string error_;
};

}  // namespace

std::expected<Expr, std::string> parse_expression(std::string_view text) {
  if (Watch* watch = current_watch(); watch != nullptr && watch->interrupted())
    return std::unexpected(interrupted_message());
  // The token list and its item counts live only for this call: a buffer on
  // the stack holds them for expressions of a few hundred bytes, which is
  // nearly all of them, and longer ones spill to the heap.
  alignas(std::max_align_t) std::array<std::byte, 8192> buffer;
  std::pmr::monotonic_buffer_resource memory(buffer.data(), buffer.size());
  std::pmr::vector<Token> tokens(&memory);
  if (auto scanned = detail::tokenize_into(text, tokens); !scanned)
    return std::unexpected(std::move(scanned.error()));
  std::pmr::vector<std::uint32_t> items(&memory);
  count_items(tokens, items);
  Parser parser(tokens, items);
  Expr expr;
  int depth = 0;
  if (!parser.parse_or(expr, depth)) return std::unexpected(std::move(parser.error()));
  if (!parser.cursor().at_end()) {
    return std::unexpected(detail::msg::trailing_input(text, parser.cursor().position()));
  }
  return expr;
}

}  // namespace tovarn::xpath
