#pragma once
// Completing the model document's copy of an instance from the form's own
// instance, so that rules meet the elements an engine's instance always has.
// Engines leave non-relevant questions out of what they submit: a missing
// element is taken as one left empty, and its relevance decides.

#include "form/model.h"
#include "tree/document.h"

namespace tovarn::form::detail {

// Adds to `copy` (the model's copy of the instance root) every element of the
// form's primary instance that it lacks, empty and without attributes, after
// the elements that precede it there. Each row the copy holds is completed
// from its repeat's template; rows are never added. An element of the form's
// instance stands for rows when it carries a template attribute, when its
// path is the nodeset of a repeat, or when a sibling shares its name.
// Nothing is done when the two roots are named differently. The document
// order is left to the caller to rebuild.
void complete_from_form(tree::Document& model, tree::NodeId copy, const FormModel& form);

}  // namespace tovarn::form::detail
