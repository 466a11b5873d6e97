#pragma once
// The texts of the evaluator's and the conversions' failures, one function per
// template.

#include <string>
#include <string_view>

namespace tovarn::xpath::detail::msg {

std::string needs_node_set(std::string_view what, std::string_view kind_phrase);
std::string variable(std::string_view name);
std::string instance_needs_id();
std::string instance_not_loaded(std::string_view id);
std::string union_of_two_documents();

}  // namespace tovarn::xpath::detail::msg
