#pragma once
// Every message of the function library's dispatch, arguments and core
// families, one function per template. Names are printed as written.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tovarn::xpath::detail::msg {

std::string unknown_function(std::string_view name);
std::string not_implemented(std::string_view name);
// `allowed` is ascending; printed joined with " or ".
std::string wrong_arity(std::string_view name, std::span<const std::size_t> allowed,
                        std::size_t given);
std::string missing_argument(std::string_view name, std::size_t position);

std::string sum_needs_nodeset(std::string_view kind);
std::string count_needs_nodeset(std::string_view kind);
std::string name_needs_nodeset(std::string_view name, std::string_view kind);

}  // namespace tovarn::xpath::detail::msg
