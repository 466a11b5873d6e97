#include "form/detail/messages.h"

#include <cstdio>

#include "xpath/quote.h"

namespace tovarn::form::detail::msg {
namespace {

// Concatenates pieces with one allocation.
std::string join(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (std::string_view p : pieces) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : pieces) out += p;
  return out;
}

constexpr std::string_view kDash = " \u2014 ";

}  // namespace

std::string xform_xml(std::string_view reader_message) {
  return join({"XForm XML: ", reader_message});
}
std::string no_root_element() { return "the XForm has no root element"; }
std::string not_an_xform() {
  return "the document is not an XForm: it has no <model> element";
}
std::string bind_without_nodeset() { return "a <bind> has no nodeset"; }
std::string rule_does_not_parse(std::string_view attribute, std::string_view nodeset,
                                std::string_view parser_message, std::string_view rule_text) {
  return join({attribute, " of ", nodeset, ": ", parser_message, kDash, "in expression ",
               xpath::quote_text(rule_text)});
}
std::string no_binds() { return "the XForm declares no binds, so it carries no rules"; }
std::string calculation_cycle(std::string_view chain, std::string_view closing) {
  return join({"these calculations depend on each other, so none of them has a defined value: ",
               chain, cycle_arrow(), closing});
}
std::string_view cycle_arrow() { return " \u2192 "; }

std::string constraint_broken(std::string_view path) {
  return join({path, ": the answer does not satisfy the form's constraint"});
}
std::string required_unanswered(std::string_view path) {
  return join({path, ": required, and unanswered"});
}
std::string own_message(std::string_view path, std::string_view message) {
  return join({path, ": ", message});
}
std::string calculation_differs(std::string_view path, std::string_view held,
                                std::string_view computed) {
  return join({path, ": holds ", xpath::quote_text(held), ", but the form calculates ",
               xpath::quote_text(computed)});
}
std::string not_evaluated(std::string_view path, std::string_view error) {
  return join({path, ": rule could not be evaluated", kDash, error});
}

std::string other_root(std::string_view instance_root, std::string_view form_root) {
  return join({"the submission's root element is <", instance_root,
               ">, and this form's instance is <", form_root, ">"});
}
std::string other_form_id(std::string_view instance_id, std::string_view form_id) {
  return join({"the submission is for form '", instance_id, "', and this form is '", form_id,
               "'"});
}

std::string saved_instance(std::string_view reader_message) {
  return join({"saved instance: ", reader_message});
}
std::string no_primary_instance() { return "the XForm has no primary instance"; }
std::string primary_instance_empty() { return "the XForm's primary instance is empty"; }
std::string names_nothing(std::string_view path) { return join({"'", path, "' names nothing"}); }
std::string row_does_not_exist(std::string_view path, std::string_view segment) {
  return join({"'", path, "' points at ", segment, ", which does not exist", kDash,
               "add the row first with add_row()"});
}
std::string instance_without_root() { return "the instance has no root"; }
std::string not_a_repeat(std::string_view path) {
  return join({"'", path, "' is not a repeat in this form"});
}
std::string template_empty(std::string_view path) {
  return join({"the template for '", path, "' is empty"});
}
std::string nowhere_to_hang(std::string_view path) {
  return join({"'", path, "' has nowhere to hang"});
}
std::string no_such_row(std::string_view path, std::size_t rows, std::uint64_t position) {
  return join({"'", path, "' has ", std::to_string(rows), " row(s); there is no row ",
               std::to_string(position)});
}
std::string several_rows(std::string_view path, std::uint64_t rows, std::string_view first,
                         std::string_view last, std::string_view example) {
  return join({"'", path, "' could mean any of the ", std::to_string(rows), " rows ", first, " to ",
               last, kDash, "name one, as in '", example, "'"});
}
std::string outside_form(std::string_view path) {
  return join({"'", path, "' names no element of this form's instance"});
}
std::string unwritable_value(std::string_view path, std::size_t position, char32_t character) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(character));
  return join({"the value for '", path, "' holds ", code, " at character ",
               std::to_string(position), kDash, "XML 1.0 cannot carry that character"});
}
std::string_view answer_not_allowed() { return "this answer is not allowed"; }

}  // namespace tovarn::form::detail::msg
