#pragma once
#include <cstddef>
#include <cstdint>
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

// evaluate, where the paths marked from_rule_node start at `rule_node`, a
// node of `doc`, wherever they stand: how the form logic evaluates a rule for
// one of its nodes (at that node) or a choice list for a question (at the
// root). Elsewhere, and in another document, such a path selects nothing.
[[nodiscard]] EvalResult evaluate_for(const Expr& expr, const tree::Document& doc,
                                      EvalContext context, tree::NodeId rule_node,
                                      const Environment& env);

// While alive, each part of `rule` that reads no context (`sum(/data/rep/x)`,
// an absolute path) is evaluated once per document, however many nodes the
// rule is evaluated for: one pass of a rule over a bind's nodes. The
// documents must stay as they are meanwhile, but for texts changed and told
// through `written`. Lives on one thread, and only while `rule` does; the
// memos of a thread go in the reverse of the order they came.
class PassMemo {
 public:
  explicit PassMemo(const Expr& rule);
  // For a pass over that many nodes. A part evaluated once is never worth
  // keeping, and without predicates nothing is evaluated twice in one
  // evaluation, so a pass over one node of such a rule keeps nothing.
  PassMemo(const Expr& rule, std::size_t nodes);
  ~PassMemo();
  PassMemo(const PassMemo&) = delete;
  PassMemo& operator=(const PassMemo&) = delete;

  // A node's text changed: forgets every value that may have read it.
  void written(const tree::Document& doc, tree::NodeId node);

 private:
  static constexpr std::size_t kNothing = SIZE_MAX;  // registered nothing
  std::size_t paths_mark_ = kNothing;
  std::size_t values_mark_ = kNothing;
  std::size_t paths_end_ = 0;  // where its registrations end
  std::size_t values_end_ = 0;
};

// Whether no document, context or environment can make the expression fail:
// then its value is all an evaluation gives. Conservative: false for
// whatever it does not know.
bool never_fails(const Expr& expr);

// The first element named "instance" (the root included) with an id attribute
// of that value.
std::optional<tree::NodeId> find_instance_element(const tree::Document& doc, std::string_view id);

}  // namespace tovarn::xpath
