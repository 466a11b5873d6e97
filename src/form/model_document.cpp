#include "form/judge.h"

namespace tovarn::form {

tree::Document model_document(const FormModel& form, const tree::Document& instance) {
  tree::Document model;
  tree::NodeId root = model.new_element("model", "");
  model.set_root(root);
  if (std::optional<tree::NodeId> top = instance.root())
    model.append_child(root, tree::copy_subtree(model, instance, *top));
  for (const auto& [id, secondary] : form.secondary_instances)
    if (std::optional<tree::NodeId> top = secondary.root())
      model.append_child(root, tree::copy_subtree(model, secondary, *top));
  model.reindex_document_order();
  return model;
}

std::string_view reported_path(std::string_view node_path) {
  constexpr std::string_view kModel = "/model";
  if (node_path.starts_with(kModel)) node_path.remove_prefix(kModel.size());
  return node_path;
}

}  // namespace tovarn::form
