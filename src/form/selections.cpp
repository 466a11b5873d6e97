#include "form/detail/selections.h"

#include "xpath/evaluate.h"

namespace tovarn::form::detail {

std::vector<tree::NodeId> select_nodes(const xpath::Expr& nodeset, const tree::Document& doc,
                                       const xpath::Environment& env) {
  std::optional<tree::NodeId> root = doc.root();
  if (!root) return {};
  auto value = xpath::evaluate(nodeset, doc, xpath::EvalContext{*root, 1, 1}, env);
  if (!value) return {};
  auto* nodes = std::get_if<xpath::NodeSet>(&*value);
  // Nodes of another document would be foreign ids here.
  if (!nodes || (nodes->document && nodes->document != &doc)) return {};
  return std::move(nodes->ids);
}

std::span<const tree::NodeId> Selections::of(std::size_t bind) {
  if (plain_.covers(bind)) return plain_.of(bind);
  std::optional<std::vector<tree::NodeId>>& nodes = nodes_[bind];
  if (!nodes) {
    const xpath::Expr* path = binds_[bind].nodeset_path;
    nodes = path ? select_nodes(*path, doc_, env_) : std::vector<tree::NodeId>();
  }
  return *nodes;
}

}  // namespace tovarn::form::detail
