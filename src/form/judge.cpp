#include "form/judge.h"

#include <optional>
#include <span>

#include "form/detail/itext.h"
#include "form/detail/path_namer.h"
#include "form/detail/relevance.h"
#include "form/detail/selections.h"
#include "form/environment.h"
#include "tree/child_names.h"
#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/evaluate.h"
#include "xpath/value.h"
#include "xpath/watch.h"

namespace tovarn::form {
namespace {

using tree::NodeId;

using detail::kItextPrefix;

// Findings gather their node ids; paths are named together at the end.
class Judgement {
 public:
  Judgement(const FormModel& form, const tree::Document& model, const xpath::Clock& clock,
            bool failures_only = false)
      : failures_only_(failures_only),
        form_(form),
        model_(model),
        child_names_(model),
        child_names_scope_(child_names_),
        env_(form, model, std::string(clock.today()), std::string(clock.now())),
        selections_(form.binds, model, env_) {}

  // Fills `judged` when given: the relevance map and the count of relevance
  // findings, which come first.
  std::vector<SubmissionFinding> run(ModelJudgement* judged = nullptr) {
    detail::Relevance relevance(form_.binds, selections_, model_, env_, findings_, nodes_);
    if (judged) {
      judged->relevance_failures = findings_.size();
      map_relevance(relevance, judged->relevance);
    }
    check_calculations(relevance);
    check_answers(relevance);
    finish();
    return std::move(findings_);
  }

 private:
  xpath::EvalResult evaluate(const xpath::Expr& rule, NodeId node) {
    return xpath::evaluate_for(rule, model_, xpath::EvalContext{node, 1, 1}, node, env_);
  }

  void add(const Bind& bind, NodeId node, FindingKind kind,
           const std::optional<std::string>& message = std::nullopt) {
    findings_.push_back({std::string(bind.nodeset), std::string(), message, std::move(kind)});
    nodes_.push_back(node);
  }
  void add_not_evaluated(const Bind& bind, NodeId node, std::string error) {
    add(bind, node, FindingKind{FindingKind::NotEvaluated{std::move(error)}});
  }

  void map_relevance(const detail::Relevance& relevance, RelevanceMap& map) {
    map.by_node.assign(model_.size(), RelevanceMap::State::unbound);
    for (std::size_t b = 0; b < form_.binds.size(); ++b)
      for (NodeId node : selections_.of(b))
        map.by_node[tree::index_of(node)] = relevance.relevant(node)
                                                ? RelevanceMap::State::relevant
                                                : RelevanceMap::State::not_relevant;
  }

  void check_calculations(const detail::Relevance& relevance) {
    for (std::size_t b : form_.calculation_order) {
      const Bind& bind = form_.binds[b];
      if (failures_only_ && xpath::never_fails(*bind.calculate)) continue;
      const std::span<const NodeId> nodes = selections_.of(b);
      std::optional<xpath::PassMemo> memo;  // made once a node is evaluated
      for (NodeId node : nodes) {
        if (!relevance.relevant(node)) continue;
        if (!memo) memo.emplace(*bind.calculate, nodes.size());
        auto value = evaluate(*bind.calculate, node);
        if (!value) {
          add_not_evaluated(bind, node, std::move(value.error()));
          continue;
        }
        std::string computed = xpath::value_to_string(*value);
        held_.clear();
        tree::append_string_value(model_, node, held_);
        if (held_ != computed)
          add(bind, node, FindingKind{FindingKind::Calculation{held_, std::move(computed)}});
      }
    }
  }

  void check_answers(const detail::Relevance& relevance) {
    for (std::size_t b = 0; b < form_.binds.size(); ++b) {
      const Bind& bind = form_.binds[b];
      if (!bind.required && !bind.constraint) continue;
      const std::span<const NodeId> nodes = selections_.of(b);
      // Made once a node is judged.
      std::optional<xpath::PassMemo> required_memo, constraint_memo;
      for (NodeId node : nodes) {
        if (!relevance.relevant(node)) continue;
        if (!required_memo && !constraint_memo) {
          if (bind.required) required_memo.emplace(*bind.required, nodes.size());
          if (bind.constraint) constraint_memo.emplace(*bind.constraint, nodes.size());
        }
        held_.clear();
        tree::append_string_value(model_, node, held_);
        bool answered = !unicode::is_blank(held_);
        if (bind.required) {
          auto required = evaluate(*bind.required, node);
          if (!required) {
            add_not_evaluated(bind, node, std::move(required.error()));
          } else if (!answered && xpath::value_to_boolean(*required)) {
            add(bind, node, FindingKind{FindingKind::Required{}}, bind.requiredMsg);
            continue;
          }
        }
        if (!answered || !bind.constraint) continue;
        auto satisfied = evaluate(*bind.constraint, node);
        if (!satisfied)
          add_not_evaluated(bind, node, std::move(satisfied.error()));
        else if (!xpath::value_to_boolean(*satisfied))
          add(bind, node, FindingKind{FindingKind::Constraint{}}, bind.constraintMsg);
      }
    }
  }

  void finish() {
    detail::PathNamer namer(model_);
    for (std::size_t i = 0; i < findings_.size(); ++i) {
      SubmissionFinding& finding = findings_[i];
      std::string path = namer.path(nodes_[i]);
      path.erase(0, path.size() - reported_path(model_, path).size());
      finding.path = std::move(path);
      if (!finding.message) continue;
      // Only the leading white space matters: the prefix ends in '('.
      if (unicode::trim(*finding.message).starts_with(kItextPrefix))
        finding.message = label_text(form_, *finding.message, model_, *model_.root());
    }
  }

  bool failures_only_;
  const FormModel& form_;
  const tree::Document& model_;
  // Every step of the judgement into the model finds children through it.
  tree::ChildNames child_names_;
  tree::ChildNames::Scope child_names_scope_;
  FormEnvironment env_;
  detail::Selections selections_;
  std::vector<SubmissionFinding> findings_;
  std::vector<NodeId> nodes_;  // the node of each finding
  std::string held_;           // reused for string values
};

}  // namespace

std::vector<SubmissionFinding> judge_submission(const FormModel& form,
                                                const tree::Document& instance,
                                                const xpath::Clock& clock) {
  tree::Document model = model_document(form, instance);
  std::vector<SubmissionFinding> findings = Judgement(form, model, clock).run();
  // Rules cut short by a stop did not run: they are not findings.
  if (const xpath::Watch* watch = xpath::current_watch(); watch != nullptr && watch->stopped())
    findings.clear();
  return findings;
}

ModelJudgement judge_model(const FormModel& form, const tree::Document& model,
                           const xpath::Clock& clock, bool failures_only) {
  ModelJudgement judged;
  judged.findings = Judgement(form, model, clock, failures_only).run(&judged);
  return judged;
}

}  // namespace tovarn::form
