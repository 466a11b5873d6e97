#pragma once
// Where the form's own instance stands in the form document.

#include <optional>

#include "tree/document.h"

namespace tovarn::form::detail {

// The first element named "instance" below the form's root, with an id or
// without.
std::optional<tree::NodeId> primary_instance_element(const tree::Document& form_document);

// That element's first child element: the root of the form's instance.
std::optional<tree::NodeId> primary_instance_root(const tree::Document& form_document);

}  // namespace tovarn::form::detail
