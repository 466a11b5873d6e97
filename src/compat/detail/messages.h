#pragma once
// Every text the engine comparison produces, each written once.

#include <optional>
#include <string>
#include <string_view>

#include "compat/finding.h"

namespace tovarn::compat::detail {

std::string_view breaks_output_name(Breaks breaks);
std::string finding_sentence(std::string_view path, std::string_view rule,
                             std::string_view construct, std::string_view effect, Breaks breaks,
                             const std::optional<std::string>& suggestion);

// Expression checks.
CompatIssue repeat_comparison(std::string_view path);
CompatIssue descendant_shorthand();
CompatIssue positional_predicate(double position);
// The issue of a call of a function that one engine lacks or reads otherwise,
// or none for a name outside the table (regex() and boolean-from-string()
// included, which need their arguments looked at).
std::optional<CompatIssue> function_issue(std::string_view name);
CompatIssue regex_not_written_out();
CompatIssue regex_alternation(std::string_view pattern);
CompatIssue regex_unanchored(std::string_view pattern);
CompatIssue boolean_from_string(std::string_view literal);

// A rule the parser refuses, with the parser's message.
CompatIssue rule_does_not_parse(std::string_view parser_message);

// Instance path check.
CompatIssue missing_instance_path(std::string_view path, std::optional<std::string> suggestion);
std::string other_root_suggestion(std::string_view root_name, std::string_view first_step);

// The driver's own failures.
std::string xml_error(std::string_view reader_message);
std::string no_root_element();

}  // namespace tovarn::compat::detail
