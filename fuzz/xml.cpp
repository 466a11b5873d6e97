// Reads the input as XML, by copies and in place, which must agree; whatever
// is accepted is written and read again, and the second reading must hold the
// same nodes as the first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tree/document.h"
#include "tree/xml.h"
#include "unicode/unicode.h"

namespace {

using tovarn::tree::Document;
using tovarn::tree::NodeId;

// The reader takes names that XML has no way to write back: names are written
// as stored, never escaped, so an empty name ("k:" has an empty local name),
// a name with white space at an end (": k" has one), a name holding a quote,
// '<', '>' or '/', or one the reader would take for a declaration cannot survive.
bool writable_name(std::string_view name, bool element) {
  if (name.empty() || name.find_first_of("\"'<>/") != std::string_view::npos) return false;
  if (tovarn::unicode::trim(name).size() != name.size()) return false;
  return !element || (name[0] != '?' && name[0] != '!');
}

bool writable(const Document& doc) {
  for (std::uint32_t i = 0; i < doc.size(); ++i) {
    const NodeId id{i};
    if (!writable_name(doc.name(id), !doc.is_attribute(id))) return false;
  }
  return true;
}

// A freshly read document numbers its nodes in document order, so two
// readings match id by id. An element with children loses its own text when
// written, by design.
bool same_nodes(const Document& first, const Document& second) {
  if (first.size() != second.size()) return false;
  for (std::uint32_t i = 0; i < first.size(); ++i) {
    const NodeId id{i};
    if (first.is_attribute(id) != second.is_attribute(id) || first.name(id) != second.name(id) ||
        first.parent(id) != second.parent(id)) {
      return false;
    }
    const bool text_written = first.is_attribute(id) || !first.has_children(id);
    if (second.text(id) != (text_written ? first.text(id) : std::string_view())) return false;
  }
  return true;
}

// Both ways of reading keep every name and text byte for byte.
bool same_reading(const Document& first, const Document& second) {
  if (first.size() != second.size() || first.root() != second.root()) return false;
  for (std::uint32_t i = 0; i < first.size(); ++i) {
    const NodeId id{i};
    if (first.is_attribute(id) != second.is_attribute(id) || first.name(id) != second.name(id) ||
        first.text(id) != second.text(id) || first.parent(id) != second.parent(id)) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Every caller of the reader checks UTF-8 first.
  if (!tovarn::unicode::is_valid_utf8(text)) return -1;
  auto first = tovarn::tree::parse_xml(text);
  auto in_place = tovarn::tree::parse_xml_in_place(std::string(text));
  if (first.has_value() != in_place.has_value()) std::abort();
  if (!first) {
    if (first.error() != in_place.error()) std::abort();
    return 0;
  }
  if (!same_reading(*first, *in_place)) std::abort();
  const std::string written = tovarn::tree::write_xml(*first);
  if (!writable(*first)) return 0;
  auto second = tovarn::tree::parse_xml(written);
  if (!second || !same_nodes(*first, *second)) std::abort();
  if (tovarn::tree::write_xml(*second) != written) std::abort();
  return 0;
}
