#include "form/detail/completion.h"
#include "form/judge.h"

namespace tovarn::form {

tree::Document model_document(const FormModel& form, const tree::Document& instance) {
  tree::Document model;
  std::optional<tree::NodeId> top = instance.root();
  tree::NodeId root = model.new_element("model", "");
  model.set_root(root);
  std::optional<tree::NodeId> primary;
  if (top) {
    primary = tree::copy_subtree(model, instance, *top);
    model.append_child(root, *primary);
    detail::complete_from_form(model, *primary, form);
  }
  for (const auto& [id, element] : form.secondary_elements)
    model.append_child(root, tree::copy_subtree(model, form.form_document, element));
  // Rules read the instance as a document of its own: its // and .. never
  // reach the model root or a secondary instance, which instance() finds.
  model.hold_trees(primary);
  model.reindex_document_order();
  return model;
}

std::string_view reported_path(const tree::Document& model, std::string_view node_path) {
  std::optional<tree::NodeId> root = model.root();
  if (!root) return node_path;
  const std::string_view name = model.name(*root);
  if (node_path.size() > name.size() && node_path[0] == '/' &&
      node_path.substr(1, name.size()) == name)
    node_path.remove_prefix(name.size() + 1);
  return node_path;
}

}  // namespace tovarn::form
