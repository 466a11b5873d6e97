#pragma once
// Every text the module layer writes itself, one function per template.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tovarn::python::msg {

enum class Text : std::uint8_t {
  reinitialised,
  already_borrowed,
  already_mutably_borrowed,
  nul_in_path,
  invalid_utf8,
  not_regular_file,
  no_submission_root,
  source_too_large,
};
std::string_view text(Text which);

// Binding, where `callable` is the full name ("eval_expression()", "Session.get()").
std::string takes_positional(std::string_view callable, std::size_t params, std::size_t given);
std::string takes_from_to(std::string_view callable, std::size_t required, std::size_t params,
                          std::size_t given);
std::string unexpected_keyword(std::string_view callable, std::string_view keyword);
std::string multiple_values(std::string_view callable, std::string_view param);
std::string missing_required(std::string_view callable, std::span<const std::string_view> names);

// Conversion.
std::string not_a_string(std::string_view type_name);
std::string argument_error(std::string_view param, std::string_view inner);


// Sources.
std::string could_not_read(std::string_view source, std::string_view argument,
                           std::string_view reason);
std::string os_error(int error_number);

std::string session_repr(std::size_t bytes);

}  // namespace tovarn::python::msg
