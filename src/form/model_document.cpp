#include "form/detail/completion.h"
#include "form/judge.h"

namespace tovarn::form {
namespace {

// An instance whose own root is named "model" would be selected by its
// rules' /model/q as the model root itself, with no q below it: the model
// root then takes the empty name, which no name test matches.
constexpr std::string_view kModelRoot = "model";

}  // namespace

tree::Document model_document(const FormModel& form, const tree::Document& instance) {
  tree::Document model;
  std::optional<tree::NodeId> top = instance.root();
  const bool aside = top && instance.name(*top) == kModelRoot;
  tree::NodeId root = model.new_element(aside ? std::string_view() : kModelRoot, "");
  model.set_root(root);
  if (top) {
    tree::NodeId copy = tree::copy_subtree(model, instance, *top);
    model.append_child(root, copy);
    detail::complete_from_form(model, copy, form);
  }
  for (const auto& [id, element] : form.secondary_elements)
    model.append_child(root, tree::copy_subtree(model, form.form_document, element));
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
