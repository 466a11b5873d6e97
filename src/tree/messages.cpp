#include "tree/detail/messages.h"

namespace tovarn::tree::detail {

std::string message(ReadError error) {
  switch (error) {
    case ReadError::unterminated_tag:
      return "unterminated tag";
    case ReadError::closing_without_opening:
      return "closing tag without opening";
    case ReadError::more_than_one_root:
      return "more than one root element";
    case ReadError::unclosed_elements:
      return "unclosed elements";
    case ReadError::no_root:
      return "no root element";
    case ReadError::unterminated_comment:
      return "unterminated comment";
    case ReadError::unterminated_cdata:
      return "unterminated CDATA section";
    case ReadError::unterminated_instruction:
      return "unterminated processing instruction";
    case ReadError::unterminated_doctype:
      return "unterminated DOCTYPE declaration";
    case ReadError::too_large:
      return "XML text too large: more than 4294967294 bytes";
  }
  return {};
}

std::string closing_mismatch(std::string_view closing, std::string_view open) {
  std::string out = "closing </";
  out += closing;
  out += "> does not match open <";
  out += open;
  out += '>';
  return out;
}

std::string store_full() { return "document text store exceeds 4 GiB"; }

std::string too_many_nodes() { return "document has 2^32 - 1 nodes"; }

}  // namespace tovarn::tree::detail
