#include "form/recompute.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "form/detail/child_index.h"
#include "form/detail/compaction.h"
#include "form/detail/messages.h"
#include "form/detail/path_namer.h"
#include "form/detail/selections.h"
#include "form/environment.h"
#include "form/judge.h"
#include "tree/fast_paths.h"
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
  // Below this many dead bytes in the model, compacting it is not worth it.
  static constexpr std::size_t kSlackBytes = std::size_t{64} << 10;

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
    plain_.assign(order.size(), std::nullopt);
    if constexpr (kFastPaths) {
      detail::ChildIndex index(model_);
      for (std::size_t k = 0; k < order.size(); ++k) {
        const Bind& bind = form_.binds[order[k]];
        if (bind.nodeset_plain)
          plain_[k] = index.select_plain(bind.nodeset);
        else if (bind.nodeset_path)
          plain_[k] = index.select(*bind.nodeset_path);
      }
    }
    auto loop = form_.calculation_loops.begin();
    for (std::size_t k = 0; k < order.size();) {
      if (loop != form_.calculation_loops.end() && loop->begin == k) {
        settle(*loop);
        k = loop++->end;
        continue;
      }
      const Bind& bind = form_.binds[order[k]];
      std::vector<NodeId> nodes = nodes_of(k, false);
      if (!bind.calculate || nodes.empty()) {
        ++k;
        continue;
      }
      reserve_records(nodes.size());
      xpath::PassMemo memo(*bind.calculate, nodes.size());
      for (NodeId node : nodes)
        if (calculate_node(bind, node)) memo.written(model_, node);
      ++k;
    }
  }

  // The nodes of the k-th calculation: those selected up front, which one in
  // a loop keeps for the next pass, or those its nodeset selects now.
  std::vector<NodeId> nodes_of(std::size_t k, bool keep) {
    const Bind& bind = form_.binds[form_.calculation_order[k]];
    std::optional<std::vector<NodeId>>& plain = plain_[k];
    if (plain) return keep ? *plain : std::move(*plain);
    if (!bind.nodeset_path) return {};
    return detail::select_nodes(*bind.nodeset_path, model_, env_);
  }

  // Grown by doubling, a large repeat's records would be moved and fresh
  // memory touched for each step.
  void reserve_records(std::size_t more) {
    if (calculated_.capacity() < calculated_.size() + more)
      calculated_.reserve(std::max(2 * calculated_.capacity(), calculated_.size() + more));
  }

  // Evaluates the calculation at the node and records its value; whether the
  // node's text changed.
  bool calculate_node(const Bind& bind, NodeId node) {
    auto value =
        xpath::evaluate_for(*bind.calculate, model_, xpath::EvalContext{node, 1, 1}, node, env_);
    if (!value) {
      result_.failed.emplace_back(bind.nodeset, std::move(value.error()));
      return false;
    }
    std::string text = xpath::value_to_string(*value);
    const bool changed = model_.text(node) != text;
    std::uint32_t& slot = slot_[tree::index_of(node)];
    if (slot == kNone) {
      slot = static_cast<std::uint32_t>(calculated_.size());
      calculated_.push_back({node, text, std::string(model_.text(node)), false});
    } else {
      calculated_[slot].value = text;
    }
    if (changed) model_.set_text(node, text);
    return changed;
  }

  // Runs the loop's calculations again until a pass changes nothing. Each
  // pass takes every chain of nodes that read one another at least one node
  // further, so one pass more than the nodes it evaluates settles any loop
  // whose nodes do not read each other in a circle; a real circle stops
  // there, having cost passes times nodes. Only the last pass's failures are
  // reported.
  void settle(CalculationLoop loop) {
    const std::size_t failed = result_.failed.size();
    std::size_t bound = 0;
    std::size_t compacted = model_.stored_bytes();
    for (std::size_t pass = 1;; ++pass) {
      result_.failed.resize(failed);
      const Sweep sweep = sweep_loop(loop, pass % 2 == 1);
      if (pass == 1) bound = sweep.evaluated + 1;
      if (!sweep.changed || pass >= bound || stopped()) return;
      // Every pass stores its texts anew; a circle that never settles would
      // otherwise keep all of them. No view of the model's texts outlives a
      // pass.
      if (model_.stored_bytes() > 2 * compacted + kSlackBytes) {
        model_.compact_store();
        compacted = model_.stored_bytes();
      }
    }
  }

  struct Sweep {
    std::size_t evaluated = 0;
    bool changed = false;
  };

  // One pass over the loop's nodes, row by row: nodes by their parent's place
  // in the document, forward or backward, and those of one parent in
  // calculation order. Values that run down the rows (a running total over
  // preceding siblings) then settle in one forward pass, those that run up
  // them in one backward pass, where calculation by calculation would take a
  // pass per row.
  Sweep sweep_loop(CalculationLoop loop, bool forward) {
    struct Item {
      std::uint32_t parent;  // its place in document order
      std::size_t k;
      NodeId node;
    };
    std::vector<Item> items;
    // Alive together, each forgetting what any write may change; they go in
    // the reverse of the order they came, as their marks require.
    std::deque<xpath::PassMemo> memos;
    for (std::size_t k = loop.begin; k < loop.end; ++k) {
      const Bind& bind = form_.binds[form_.calculation_order[k]];
      std::vector<NodeId> nodes = nodes_of(k, true);
      if (!bind.calculate || nodes.empty()) continue;
      memos.emplace_back(*bind.calculate, nodes.size());
      for (NodeId node : nodes) {
        const std::optional<NodeId> parent = model_.parent(node);
        items.push_back({parent ? model_.order_position(*parent) : 0, k, node});
      }
    }
    std::stable_sort(items.begin(), items.end(), [forward](const Item& a, const Item& b) {
      return forward ? a.parent < b.parent : a.parent > b.parent;
    });
    reserve_records(items.size());
    Sweep sweep;
    for (const Item& item : items) {
      ++sweep.evaluated;
      if (!calculate_node(form_.binds[form_.calculation_order[item.k]], item.node)) continue;
      sweep.changed = true;
      for (xpath::PassMemo& memo : memos) memo.written(model_, item.node);
    }
    while (!memos.empty()) memos.pop_back();
    return sweep;
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
  // By place in the calculation order: the nodes of a plain nodeset.
  std::vector<std::optional<std::vector<NodeId>>> plain_;
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
