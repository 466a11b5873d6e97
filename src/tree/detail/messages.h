#pragma once
// The texts the document tree refuses input with, each spelled once.

#include <string>
#include <string_view>

namespace tovarn::tree::detail {

enum class ReadError {
  unterminated_tag,
  closing_without_opening,
  more_than_one_root,
  unclosed_elements,
  no_root,
  unterminated_comment,
  unterminated_cdata,
  unterminated_instruction,
  unterminated_doctype,
  too_large,  // the character store addresses at most 4 GiB
};

std::string message(ReadError error);
std::string closing_mismatch(std::string_view closing, std::string_view open);

// What the std::length_error says when 32-bit offsets or ids would overflow.
std::string store_full();
std::string too_many_nodes();

}  // namespace tovarn::tree::detail
