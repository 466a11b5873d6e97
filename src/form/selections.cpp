#include "form/detail/selections.h"

#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::form {

namespace detail {

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

const std::vector<tree::NodeId>& Selections::of(std::size_t bind) {
  std::optional<std::vector<tree::NodeId>>& nodes = nodes_[bind];
  if (!nodes) {
    const std::optional<xpath::Expr>& path = binds_[bind].nodeset_path;
    if (binds_[bind].nodeset_plain)
      nodes = index_.select_plain(binds_[bind].nodeset);
    else if (!path)
      nodes.emplace();
    else if (auto plain = index_.select(*path))
      nodes = std::move(*plain);
    else
      nodes = select_nodes(*path, doc_, env_);
  }
  return *nodes;
}

}  // namespace detail

std::vector<tree::NodeId> nodeset_nodes(std::string_view nodeset, const tree::Document& doc,
                                        const xpath::Environment& env) {
  auto expr = xpath::parse_expression(nodeset);
  if (!expr) return {};
  return detail::select_nodes(*expr, doc, env);
}

}  // namespace tovarn::form
