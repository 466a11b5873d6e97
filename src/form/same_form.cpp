#include "form/detail/messages.h"
#include "form/detail/completion.h"
#include "form/judge.h"

namespace tovarn::form {

std::expected<void, std::string> check_same_form(const FormModel& form,
                                                 const tree::Document& instance) {
  const tree::Document& doc = form.form_document;
  std::optional<tree::NodeId> own = detail::primary_instance_root(form);
  std::optional<tree::NodeId> root = instance.root();
  if (!own || !root) return {};
  if (instance.name(*root) != doc.name(*own))
    return std::unexpected(detail::msg::other_root(instance.name(*root), doc.name(*own)));
  // A blank id names no form.
  std::optional<std::string_view> id = attribute_if_not_blank(instance, *root, "id");
  std::optional<std::string_view> own_id = attribute_if_not_blank(doc, *own, "id");
  if (id && own_id && *id != *own_id)
    return std::unexpected(detail::msg::other_form_id(*id, *own_id));
  return {};
}

}  // namespace tovarn::form
