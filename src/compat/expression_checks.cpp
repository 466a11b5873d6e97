#include "compat/detail/expression_checks.h"

#include <type_traits>
#include <variant>

#include "compat/detail/messages.h"

namespace tovarn::compat::detail {
namespace {

using xpath::Axis;
using xpath::BinaryOp;
using xpath::Expr;
using xpath::Step;

bool is_comparison(BinaryOp op) { return op >= BinaryOp::eq && op <= BinaryOp::ge; }

// A plain absolute child path (/data/rep/q) that lies in or under a repeat,
// but for one whose row holds the bind's node.
void check_repeat_comparison(const Expr& operand, const RepeatPaths& repeat_paths,
                             std::string_view bind_path, std::vector<CompatIssue>& issues) {
  const auto* path = std::get_if<Expr::LocationPath>(&operand.node);
  if (path == nullptr || !path->absolute || path->steps.empty()) return;
  std::string text;
  for (const Step& step : path->steps) {
    if (step.axis != Axis::child || !step.name_test || !step.predicates.empty()) return;
    text += '/';
    text += *step.name_test;
  }
  if (repeat_paths.covers(text, bind_path)) issues.push_back(repeat_comparison(text));
}

// The walk's pending work. A step predicate is examined as a position before
// it is walked; a filter's own predicates are only walked.
struct StepPredicate {
  const Expr* expr;
};
using Task = std::variant<const Expr*, const Step*, StepPredicate>;

void push_steps(std::span<const Step> steps, std::vector<Task>& stack) {
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) stack.emplace_back(&*it);
}

}  // namespace

void check_expression(const Expr& expr, const RepeatPaths& repeat_paths,
                      std::string_view bind_path, std::vector<CompatIssue>& issues) {
  // Every issue is appended when its task is taken, and children are pushed in
  // reverse, so the order is that of a recursive pre-order walk.
  std::vector<Task> stack{&expr};
  while (!stack.empty()) {
    const Task task = stack.back();
    stack.pop_back();
    if (const auto* step = std::get_if<const Step*>(&task)) {
      if ((*step)->axis == Axis::descendant_or_self && !(*step)->name_test)
        issues.push_back(descendant_shorthand());
      const auto& predicates = (*step)->predicates;
      for (auto it = predicates.rbegin(); it != predicates.rend(); ++it)
        stack.emplace_back(StepPredicate{&*it});
      continue;
    }
    const Expr* node = nullptr;
    if (const auto* predicate = std::get_if<StepPredicate>(&task)) {
      node = predicate->expr;
      // A negative number is a negation, not a number, and does not count.
      if (const auto* number = std::get_if<Expr::Number>(&node->node))
        issues.push_back(positional_predicate(number->value));
    } else {
      node = std::get<const Expr*>(task);
    }
    std::visit(
        [&](const auto& n) {
          using T = std::decay_t<decltype(n)>;
          if constexpr (std::is_same_v<T, Expr::LocationPath>) {
            push_steps(n.steps, stack);
          } else if constexpr (std::is_same_v<T, Expr::FilterPath>) {
            push_steps(n.steps, stack);
            for (auto it = n.predicates.rbegin(); it != n.predicates.rend(); ++it)
              stack.emplace_back(&*it);
            stack.emplace_back(n.primary.get());
          } else if constexpr (std::is_same_v<T, Expr::FunctionCall>) {
            check_function_call(n.name, n.args, issues);
            for (auto it = n.args.rbegin(); it != n.args.rend(); ++it) stack.emplace_back(&*it);
          } else if constexpr (std::is_same_v<T, Expr::Binary>) {
            if (is_comparison(n.op)) {
              check_repeat_comparison(*n.lhs, repeat_paths, bind_path, issues);
              check_repeat_comparison(*n.rhs, repeat_paths, bind_path, issues);
            }
            stack.emplace_back(n.rhs.get());
            stack.emplace_back(n.lhs.get());
          } else if constexpr (std::is_same_v<T, Expr::Union>) {
            stack.emplace_back(n.rhs.get());
            stack.emplace_back(n.lhs.get());
          } else if constexpr (std::is_same_v<T, Expr::Negate>) {
            stack.emplace_back(n.operand.get());
          }
        },
        node->node);
  }
}

}  // namespace tovarn::compat::detail
