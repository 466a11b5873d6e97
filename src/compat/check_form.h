#pragma once
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "compat/finding.h"

namespace tovarn::compat {

// Compares how the tablet and browser engines read every rule of a form's
// binds, and finds the paths its rules read that the form's instance lacks.
// Works on the form document alone: nothing is evaluated. Fails only on XML
// the reader refuses, a document without a root element or one that is no
// XForm (form::require_model_element); a rule that does not parse is one
// finding. Findings come in bind, rule and check order.
[[nodiscard]] std::expected<CompatFindings, std::string> check_form(
    std::string_view form_xml);

// The same for a form text given up to the call: the document is read in
// place (tree::parse_xml_in_place) and so copies none of it.
[[nodiscard]] std::expected<CompatFindings, std::string> check_form_in_place(
    std::string form_xml);

}  // namespace tovarn::compat
