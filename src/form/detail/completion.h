#pragma once
// Completing the model document's copy of an instance from the form's own
// instance, so that rules meet the elements an engine's instance always has.
// Engines leave non-relevant questions out of what they submit: a missing
// element is taken as one left empty, and its relevance decides.

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "form/model.h"
#include "tree/document.h"

namespace tovarn::form::detail {

// Which elements of the form's primary instance stand for rows, and what each
// element's children are, read once when the form loads. An element stands
// for rows when it carries a template attribute, when its path is the
// nodeset of a repeat, or when a sibling shares its name. `instances` and
// `repeats` are the form's elements of those names in document order; the
// first instance below the root is the primary one. None for a form without
// a primary instance or with an empty one.
std::shared_ptr<const InstanceShape> read_instance_shape(const tree::Document& form_document,
                                                         std::span<const tree::NodeId> instances,
                                                         std::span<const tree::NodeId> repeats);

// The elements of the shape's instance, in document order, that carry a
// template attribute or whose path is the nodeset of a repeat: the rows the
// form itself shows. Never the root.
std::vector<tree::NodeId> repeat_rows(const tree::Document& form_document,
                                      const InstanceShape& shape);

// The root element of the form's primary instance, in its form_document.
std::optional<tree::NodeId> primary_instance_root(const FormModel& form);

// Adds to `copy` (the model's copy of the instance root) every element of the
// form's primary instance that it lacks, empty and without attributes, after
// the elements that precede it there. Each row the copy holds is completed
// from its repeat's template; rows are never added. Nothing is done when the
// two roots are named differently. The document order is left to the caller
// to rebuild.
void complete_from_form(tree::Document& model, tree::NodeId copy, const FormModel& form);

}  // namespace tovarn::form::detail
