#include <algorithm>
#include <optional>
#include <span>

#include "form/detail/path_namer.h"
#include "form/detail/relevance.h"
#include "form/detail/selections.h"
#include "tree/fast_paths.h"
#include "xpath/evaluate.h"
#include "xpath/value.h"

namespace tovarn::form {

namespace detail {

bool Relevance::under_false(const tree::Document& doc, tree::NodeId node) const {
  if (doc.order_position(node) == tree::Document::kUnindexed) return false;
  for (auto p = doc.parent(node); p; p = doc.parent(*p)) {
    if (own_[tree::index_of(*p)] == kFalse && doc.order_position(*p) != tree::Document::kUnindexed)
      return true;
  }
  return false;
}

Relevance::Relevance(const std::vector<Bind>& binds, Selections& selections,
                     const tree::Document& doc, const xpath::Environment& env,
                     std::vector<SubmissionFinding>& findings,
                     std::vector<tree::NodeId>& failed_nodes)
    : own_(doc.size(), kUnset) {
  // A node bound twice takes its last value, so an ancestor's false may yet
  // turn true: then no evaluation is skipped.
  bool bound_once = true;
  for (std::size_t b = 0; b < binds.size(); ++b) {
    if (!binds[b].relevant) continue;
    for (tree::NodeId node : selections.of(b)) {
      std::int8_t& own = own_[tree::index_of(node)];
      bound_once &= own == kUnset;
      own = kTrue;
    }
  }
  bool any_false = false;
  for (std::size_t b = 0; b < binds.size(); ++b) {
    const Bind& bind = binds[b];
    if (!bind.relevant) continue;
    const std::span<const tree::NodeId> nodes = selections.of(b);
    // A rule that cannot fail gives no finding, so under a group found not
    // relevant already its value changes nothing.
    std::optional<bool> never_fails;
    std::optional<xpath::PassMemo> memo;  // made once a node is evaluated
    for (tree::NodeId node : nodes) {
      if (kFastPaths && any_false && bound_once && under_false(doc, node)) {
        if (!never_fails) never_fails = xpath::never_fails(*bind.relevant);
        if (*never_fails) continue;
      }
      if (!memo) memo.emplace(*bind.relevant, nodes.size());
      auto value = xpath::evaluate_for(*bind.relevant, doc, xpath::EvalContext{node, 1, 1}, node, env);
      std::int8_t& own = own_[tree::index_of(node)];
      if (!value) {
        own = kTrue;
        findings.push_back({std::string(bind.nodeset), std::string(), std::nullopt,
                            FindingKind{FindingKind::NotEvaluated{std::move(value.error())}}});
        failed_nodes.push_back(node);
        continue;
      }
      own = xpath::value_to_boolean(*value) ? kTrue : kFalse;
      any_false |= own == kFalse;
    }
  }
  if (!any_false) return;

  // A false own entry hides its whole subtree, which in document order is the
  // run of positions up to the subtree's end. Subtrees nest, so marking from
  // the outermost false node and skipping those inside it keeps this linear.
  std::vector<std::uint32_t> starts;
  for (std::uint32_t i = 0; i < own_.size(); ++i) {
    if (own_[i] != kFalse) continue;
    std::uint32_t position = doc.order_position(tree::NodeId{i});
    if (position != tree::Document::kUnindexed) starts.push_back(position);
  }
  std::sort(starts.begin(), starts.end());
  hidden_.assign(doc.size(), false);
  std::uint32_t covered_end = 0;
  bool covering = false;
  for (std::uint32_t start : starts) {
    if (covering && start <= covered_end) continue;
    std::uint32_t end = doc.order_subtree_end(doc.at_order_position(start));
    for (std::uint32_t p = start + 1; p <= end; ++p)
      hidden_[tree::index_of(doc.at_order_position(p))] = true;
    covered_end = end;
    covering = true;
  }
}

}  // namespace detail

RelevanceMap relevance(const std::vector<Bind>& binds, const tree::Document& model,
                       const xpath::Environment& env, std::vector<SubmissionFinding>& findings) {
  detail::Selections selections(binds, model, env);
  std::size_t first = findings.size();
  std::vector<tree::NodeId> failed_nodes;
  detail::Relevance own(binds, selections, model, env, findings, failed_nodes);
  detail::PathNamer namer(model);
  for (std::size_t i = 0; i < failed_nodes.size(); ++i)
    findings[first + i].path = namer.path(failed_nodes[i]);

  RelevanceMap map;
  map.by_node.assign(model.size(), RelevanceMap::State::unbound);
  for (std::size_t b = 0; b < binds.size(); ++b)
    for (tree::NodeId node : selections.of(b))
      map.by_node[tree::index_of(node)] = own.relevant(node) ? RelevanceMap::State::relevant
                                                             : RelevanceMap::State::not_relevant;
  return map;
}

}  // namespace tovarn::form
