#pragma once
// The nodes each bind selects in one model document, evaluated once on
// first use and then shared by every pass of one judgement.

#include <optional>
#include <vector>

#include "form/judge.h"
#include "form/model.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form::detail {

class Selections {
 public:
  Selections(const std::vector<Bind>& binds, const tree::Document& doc,
             const xpath::Environment& env)
      : binds_(binds), doc_(doc), env_(env), nodes_(binds.size()) {}

  const std::vector<tree::NodeId>& of(std::size_t bind);

 private:
  const std::vector<Bind>& binds_;
  const tree::Document& doc_;
  const xpath::Environment& env_;
  std::vector<std::optional<std::vector<tree::NodeId>>> nodes_;
};

// The nodes a parsed nodeset selects at the document's root element.
std::vector<tree::NodeId> select_nodes(const xpath::Expr& nodeset, const tree::Document& doc,
                                       const xpath::Environment& env);

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
  static constexpr std::int8_t kUnset = -1, kFalse = 0, kTrue = 1;
  std::vector<std::int8_t> own_;  // by node id
  std::vector<bool> hidden_;      // by node id; empty while nothing is false
};

}  // namespace tovarn::form::detail
