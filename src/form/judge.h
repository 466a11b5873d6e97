#pragma once
// Judging an instance against a form's rules: the model document every rule
// is evaluated in, relevance, and the findings with their sentences.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "form/model.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form {

struct FindingKind {
  struct Constraint {};
  struct Required {};
  struct Calculation {
    std::string held;
    std::string computed;
  };
  struct NotEvaluated {
    std::string error;
  };
  std::variant<Constraint, Required, Calculation, NotEvaluated> value;
};

struct SubmissionFinding {
  std::string nodeset;  // of the bind whose rule gave the finding
  std::string path;     // the reported path
  std::optional<std::string> message;
  FindingKind kind;
};

// Refuses an instance of another form: its root element named otherwise than
// the root of the form's instance, or its root's id not the form's. Without
// an id on either side it passes; versions are never compared.
[[nodiscard]] std::expected<void, std::string> check_same_form(const FormModel& form,
                                                               const tree::Document& instance);

// A root "model" holding a copy of the instance's root element, completed
// from the form's own instance (detail/completion.h), then a copy of every
// secondary instance element in ascending id order. When the instance's root
// is itself named "model", the model root has the empty name, so that an
// absolute path naming the instance root still selects it.
tree::Document model_document(const FormModel& form, const tree::Document& instance);

// A node path of the model document with the model root's segment ("/model")
// cut.
std::string_view reported_path(const tree::Document& model, std::string_view node_path);

// Relevance of every node any bind selects, by node id. Nodes no bind
// selects are `unbound` and count as relevant.
struct RelevanceMap {
  enum class State : std::uint8_t { unbound, relevant, not_relevant };
  std::vector<State> by_node;
  bool relevant(tree::NodeId node) const {
    return tree::index_of(node) >= by_node.size() ||
           by_node[tree::index_of(node)] != State::not_relevant;
  }
};

// Appends one not-evaluated finding (path with the model root's segment on) for
// each failed relevant expression; a failure counts as relevant.
RelevanceMap relevance(const std::vector<Bind>& binds, const tree::Document& model,
                       const xpath::Environment& env, std::vector<SubmissionFinding>& findings);

// Every finding of the form's rules on the instance: relevance failures, then
// calculations in calculation order, then requiredness and constraints bind by
// bind. Never fails: a rule that cannot be evaluated is a finding.
std::vector<SubmissionFinding> judge_submission(const FormModel& form,
                                                const tree::Document& instance,
                                                const xpath::Clock& clock);

// judge_submission over the instance's model document, already built, with
// the relevance it judged by. The first `relevance_failures` findings are the
// ones `relevance` appends, their paths reported.
struct ModelJudgement {
  std::vector<SubmissionFinding> findings;
  std::size_t relevance_failures = 0;
  RelevanceMap relevance;
};
// With `failures_only`, a calculation that cannot fail is not evaluated at
// all, so its findings are only those of calculations that failed or may.
ModelJudgement judge_model(const FormModel& form, const tree::Document& model,
                           const xpath::Clock& clock, bool failures_only = false);

// The finding as one sentence.
std::string finding_text(const SubmissionFinding& finding);

}  // namespace tovarn::form
