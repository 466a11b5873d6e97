#include "form/recompute.h"

#include <algorithm>

#include "form/detail/child_index.h"
#include "form/detail/compaction.h"
#include "form/detail/messages.h"
#include "form/detail/path_namer.h"
#include "form/detail/selections.h"
#include "form/environment.h"
#include "form/judge.h"
#include "tree/query.h"
#include "xpath/evaluate.h"
#include "xpath/value.h"
#include "xpath/watch.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

// A node a calculation gave a value, in the model document.
struct Calculated {
  NodeId node;
  std::string value;     // the latest calculation's
  std::string original;  // the model's text before the first
  bool written = false;  // into the instance, which held something else
};

// The model document's copy of the instance, its first child. copy_subtree
// numbers the copies in the instance's document order, from the copy's root
// on, so the k-th id from there is the instance's k-th node. Elements the
// completion added come after them and stand for nothing in the instance.
class InstanceCopy {
 public:
  InstanceCopy(const Document& model, const Document& instance) {
    if (!instance.root()) return;
    start_ = tree::index_of(*model.first_child(*model.root()));
    size_ = instance.order_size();
  }
  std::optional<NodeId> instance_node(const Document& instance, NodeId model_node) const {
    std::uint32_t id = tree::index_of(model_node);
    if (id < start_ || id - start_ >= size_) return std::nullopt;
    return instance.at_order_position(id - start_);
  }

 private:
  std::uint32_t start_ = 0;
  std::uint32_t size_ = 0;
};

class Recompute {
 public:
  explicit Recompute(Session& session)
      : session_(session),
        form_(session.form),
        model_(prepared_model(session)),
        copy_(model_, session.instance),
        env_(form_, model_, std::string(session.clock.today()),
             std::string(session.clock.now())),
        slot_(model_.size(), kNone) {}

  RecomputeResult run() {
    calculate();
    if (stopped()) return {};
    write_back();
    // The model now holds the updated instance, as a fresh one would.
    restore_model();
    detail::PathNamer namer(model_);
    report_calculated(namer);
    judge(namer);
    if (stopped()) {
      undo_write_back();
      return {};
    }
    count_rows();
    return std::move(result_);
  }

  // A stopped recompute leaves the session as it found it.
  static bool stopped() {
    const xpath::Watch* watch = xpath::current_watch();
    return watch != nullptr && watch->stopped();
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  static Document prepared_model(Session& session) {
    if (!session.instance.order_is_current()) session.instance.reindex_document_order();
    return model_document(session.form, session.instance);
  }

  // Later calculations see the values of earlier ones, and select their nodes
  // only when reached, since a nodeset's predicates may read those values.
  // Plain child paths read no values, so those are all selected up front,
  // through an index that must not outlive the first change of a text.
  void calculate() {
    const std::vector<std::size_t>& order = form_.calculation_order;
    std::vector<std::optional<std::vector<NodeId>>> plain(order.size());
    {
      detail::ChildIndex index(model_);
      for (std::size_t k = 0; k < order.size(); ++k) {
        const Bind& bind = form_.binds[order[k]];
        if (bind.nodeset_plain)
          plain[k] = index.select_plain(bind.nodeset);
        else if (bind.nodeset_path)
          plain[k] = index.select(*bind.nodeset_path);
      }
    }
    for (std::size_t k = 0; k < order.size(); ++k) {
      const Bind& bind = form_.binds[order[k]];
      if (!bind.calculate || (!plain[k] && !bind.nodeset_path)) continue;
      std::vector<NodeId> nodes = plain[k] ? std::move(*plain[k])
                                           : detail::select_nodes(*bind.nodeset_path, model_, env_);
      xpath::PassMemo memo(*bind.calculate, nodes.size());
      // Grown by doubling, a large repeat's records would be moved and fresh
      // memory touched for each step.
      if (calculated_.capacity() < calculated_.size() + nodes.size())
        calculated_.reserve(std::max(2 * calculated_.capacity(), calculated_.size() + nodes.size()));
      for (NodeId node : nodes) {
        auto value = xpath::evaluate(*bind.calculate, model_, xpath::EvalContext{node, 1, 1}, env_);
        if (!value) {
          result_.failed.emplace_back(bind.nodeset, std::move(value.error()));
          continue;
        }
        std::string text = xpath::value_to_string(*value);
        std::uint32_t& slot = slot_[tree::index_of(node)];
        if (slot == kNone) {
          slot = static_cast<std::uint32_t>(calculated_.size());
          calculated_.push_back({node, text, std::string(model_.text(node)), false});
        } else {
          calculated_[slot].value = text;
        }
        model_.set_text(node, text);
        memo.written(model_, node);
      }
    }
  }

  // In document order, which puts every group before its descendants, as the
  // byte order of their paths does: a group's string value is compared before
  // its children's new texts are in.
  void write_back() {
    auto before = [&](const Calculated& a, const Calculated& b) {
      return model_.order_position(a.node) < model_.order_position(b.node);
    };
    // One calculation over a repeat comes in order already.
    if (!std::is_sorted(calculated_.begin(), calculated_.end(), before))
      std::sort(calculated_.begin(), calculated_.end(), before);
    Document& instance = session_.instance;
    overwritten_.reserve(calculated_.size());
    for (Calculated& c : calculated_) {
      std::optional<NodeId> target = copy_.instance_node(instance, c.node);
      // A secondary instance is the form's, not the answers; an element the
      // completion added is not the instance's, which keeps its shape.
      if (!target) continue;
      held_.clear();
      tree::append_string_value(instance, *target, held_);
      if (held_ == c.value) continue;
      overwritten_.emplace_back(*target, instance.text(*target));
      instance.set_text(*target, c.value);
      c.written = true;
    }
  }

  void undo_write_back() {
    for (auto it = overwritten_.rbegin(); it != overwritten_.rend(); ++it)
      session_.instance.set_text(it->first, it->second);
  }

  void restore_model() {
    for (const Calculated& c : calculated_) {
      std::optional<NodeId> target = copy_.instance_node(session_.instance, c.node);
      // A written value is in the model already, and another copy of it
      // would only grow the model's text store.
      if (target) {
        std::string_view text = session_.instance.text(*target);
        if (model_.text(c.node) != text) model_.set_text(c.node, text);
      } else {
        model_.set_text(c.node, c.original);
      }
    }
  }

  // Through one buffer, so that each kept path is sized to itself.
  std::string reported(detail::PathNamer& namer, NodeId node) {
    namer.path_into(node, path_);
    return std::string(reported_path(model_, path_));
  }

  // The last use of the calculated values, which are handed over. In
  // document order, as relevance below: each path mostly goes in after the last.
  void report_calculated(detail::PathNamer& namer) {
    auto hint = result_.calculated.end();
    for (Calculated& c : calculated_) {
      if (!c.written) continue;
      hint = std::next(
          result_.calculated.insert_or_assign(hint, reported(namer, c.node), std::move(c.value)));
    }
  }

  // Relevance comes from the judgement itself: it is the same evaluation of
  // the same model document, and so are its failures, which lead its findings.
  void judge(detail::PathNamer& namer) {
    // The calculations ran above; of their second evaluation only failures
    // would be reported, so one that cannot fail is not run again.
    ModelJudgement judged = judge_model(form_, model_, session_.clock, true);
    const std::vector<RelevanceMap::State>& states = judged.relevance.by_node;
    // Rows in order mostly follow each other in byte order too (r[12] after
    // r[11], though r[1] comes between r[19] and r[20]), so each path is
    // offered the place after the last.
    auto hint = result_.relevant.end();
    for (std::uint32_t i = 0; i < states.size(); ++i) {
      if (states[i] == RelevanceMap::State::unbound) continue;
      hint = std::next(result_.relevant.insert_or_assign(
          hint, reported(namer, NodeId{i}), states[i] == RelevanceMap::State::relevant));
    }
    for (std::size_t i = 0; i < judged.relevance_failures; ++i)
      result_.failed.emplace_back(judged.findings[i].path, finding_text(judged.findings[i]));

    for (SubmissionFinding& finding : judged.findings) {
      // What lies under a non-relevant node is not asked.
      auto relevant = result_.relevant.find(finding.path);
      if (relevant != result_.relevant.end() && !relevant->second) continue;
      std::visit(
          [&](auto& kind) {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, FindingKind::Required>) {
              result_.missing.push_back(std::move(finding.path));
            } else if constexpr (std::is_same_v<Kind, FindingKind::Constraint>) {
              std::string message = finding.message
                                        ? std::move(*finding.message)
                                        : std::string(detail::msg::answer_not_allowed());
              result_.invalid.emplace_back(std::move(finding.path), std::move(message));
            } else if constexpr (std::is_same_v<Kind, FindingKind::NotEvaluated>) {
              result_.failed.emplace_back(std::move(finding.path), std::move(kind.error));
            }
          },
          finding.kind.value);
    }
  }

  void count_rows() { result_.repeats = form::count_rows(session_); }

  Session& session_;
  const FormModel& form_;
  Document model_;
  InstanceCopy copy_;
  FormEnvironment env_;
  std::vector<std::uint32_t> slot_;  // by model node id: index into calculated_
  std::vector<Calculated> calculated_;
  std::string held_;
  std::string path_;
  std::vector<std::pair<NodeId, std::string>> overwritten_;  // with the text each held
  RecomputeResult result_;
};

}  // namespace

RecomputeResult recompute_session(Session& session) {
  RecomputeResult result = Recompute(session).run();
  if (Recompute::stopped()) return result;
  detail::compact_if_sparse(session);
  return result;
}

}  // namespace tovarn::form
