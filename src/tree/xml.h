#pragma once
// The XML reader and writer: the small subset of XML that forms, submissions
// and instances are read in, and the compact text that instances are written as.

#include <expected>
#include <string>
#include <string_view>

#include "tree/document.h"

namespace tovarn::tree {

// Reads XML text (valid UTF-8) into a document whose nodes are numbered in
// document order, or refuses it with one of the reader's messages. One forward
// scan with an explicit open-element stack, so depth does not matter.
[[nodiscard]] std::expected<Document, std::string> parse_xml(std::string_view text);

// The same reading for a document that lives for one request: the text becomes
// the document's character store and names and texts stay where they are in
// it, which saves copying each one, while the markup's bytes stay too.
[[nodiscard]] std::expected<Document, std::string> parse_xml_in_place(std::string text);

// The part of a name after its last ':'.
std::string_view local_name(std::string_view name);

// Decodes the five named entities and character references in one
// left-to-right pass; any other reference stays as written.
std::string decode_entities(std::string_view text);

// The header "<?xml version='1.0' ?>" and the root element, compact.
std::string write_xml(const Document& doc);

// Appends text with '"', '&', '<' and '>' escaped, and a CR as "&#13;".
void escape_xml(std::string_view text, std::string& out);

}  // namespace tovarn::tree
