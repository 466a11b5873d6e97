#pragma once
// Every message template of the form logic, one function each.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tovarn::form::detail::msg {

std::string xform_xml(std::string_view reader_message);
std::string no_root_element();
std::string not_an_xform();
std::string bind_without_nodeset();
std::string rule_does_not_parse(std::string_view attribute, std::string_view nodeset,
                                std::string_view parser_message, std::string_view rule_text);
std::string no_binds();
// `chain` is the nodesets of the cycle already joined; `closing` the nodeset
// that closes it.
std::string calculation_cycle(std::string_view chain, std::string_view closing);
std::string_view cycle_arrow();

// Finding sentences.
std::string constraint_broken(std::string_view path);
std::string required_unanswered(std::string_view path);
std::string own_message(std::string_view path, std::string_view message);
std::string calculation_differs(std::string_view path, std::string_view held,
                                std::string_view computed);
std::string not_evaluated(std::string_view path, std::string_view error);

// An instance of another form.
std::string other_root(std::string_view instance_root, std::string_view form_root);
std::string other_form_id(std::string_view instance_id, std::string_view form_id);

// Sessions.
std::string saved_instance(std::string_view reader_message);
std::string no_primary_instance();
std::string primary_instance_empty();
std::string names_nothing(std::string_view path);
std::string row_does_not_exist(std::string_view path, std::string_view segment);
std::string instance_without_root();
std::string not_a_repeat(std::string_view path);
std::string template_empty(std::string_view path);
std::string nowhere_to_hang(std::string_view path);
std::string no_such_row(std::string_view path, std::size_t rows, std::uint64_t position);
// `first` and `last` are the node paths of the rows, `example` the path with
// the first of them.
std::string several_rows(std::string_view path, std::uint64_t rows, std::string_view first,
                         std::string_view last, std::string_view example);
std::string outside_form(std::string_view path);
// `position` counts characters from 1.
std::string unwritable_value(std::string_view path, std::size_t position, char32_t character);
std::string_view answer_not_allowed();

}  // namespace tovarn::form::detail::msg
