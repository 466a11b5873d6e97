#include "form/detail/messages.h"
#include "form/model.h"
#include "tree/query.h"

namespace tovarn::form {

std::expected<void, std::string> require_model_element(const tree::Document& doc) {
  const auto root = doc.root();
  if (!root) return std::unexpected(detail::msg::not_an_xform());
  bool found = doc.name(*root) == "model";
  if (!found) {
    tree::walk_below(doc, *root, [&](tree::NodeId element) {
      found = doc.name(element) == "model";
      return !found;
    });
  }
  if (!found) return std::unexpected(detail::msg::not_an_xform());
  return {};
}

}  // namespace tovarn::form
