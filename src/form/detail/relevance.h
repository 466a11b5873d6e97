#pragma once
// Which bound nodes one judgement treats as relevant.

#include <cstdint>
#include <vector>

#include "form/detail/selections.h"
#include "form/judge.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form::detail {

// Each node's own relevance and whether a non-relevant ancestor hides it.
class Relevance {
 public:
  // Evaluates every relevant expression, appending a not-evaluated finding
  // (its node in `failed_nodes`) for each failure.
  Relevance(const std::vector<Bind>& binds, Selections& selections, const tree::Document& doc,
            const xpath::Environment& env, std::vector<SubmissionFinding>& findings,
            std::vector<tree::NodeId>& failed_nodes);

  bool relevant(tree::NodeId node) const {
    std::uint32_t i = tree::index_of(node);
    return own_[i] != kFalse && (hidden_.empty() || !hidden_[i]);
  }

 private:
  // Whether an ancestor's own relevance is false and hides the node.
  bool under_false(const tree::Document& doc, tree::NodeId node) const;

  static constexpr std::int8_t kUnset = -1, kFalse = 0, kTrue = 1;
  std::vector<std::int8_t> own_;  // by node id
  std::vector<bool> hidden_;      // by node id; empty while nothing is false
};

}  // namespace tovarn::form::detail
