#include "form/detail/compaction.h"
#include "form/detail/messages.h"
#include "form/detail/session_steps.h"
#include "form/session.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

bool is_name_start(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
         (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}

bool is_name_char(char32_t c) {
  return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// An XML name without prefix, so that what set_value creates is written back
// well-formed.
bool is_xml_name(std::string_view text) {
  if (text.empty()) return false;
  std::size_t i = 0;
  if (!is_name_start(unicode::decode(text, i))) return false;
  while (i < text.size())
    if (!is_name_char(unicode::decode(text, i))) return false;
  return true;
}

// XML 1.0 carries no control character but tab, line feed and carriage
// return, and neither U+FFFE nor U+FFFF.
struct Unwritable {
  std::size_t position;  // in characters, from 1
  char32_t character;
};

std::optional<Unwritable> first_unwritable(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char32_t found = 0;
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
      found = byte;
    } else if (byte == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
               (static_cast<unsigned char>(text[i + 2]) | 1) == 0xBF) {
      found = static_cast<unsigned char>(text[i + 2]) == 0xBE ? 0xFFFE : 0xFFFF;
    } else {
      continue;
    }
    std::size_t position = 1;
    for (std::size_t k = 0; k < i; ++k)
      position += (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80;
    return Unwritable{position, found};
  }
  return std::nullopt;
}

std::vector<std::string_view> segments_of(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) segments.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return segments;
}

}  // namespace

std::optional<NodeId> first_node(const Session& session, std::string_view path) {
  auto expr = xpath::parse_expression(path);
  if (!expr) return std::nullopt;
  std::optional<NodeId> indexed;
  if (session.paths.fresh(session.instance) && session.paths.first(session.instance, *expr, indexed))
    return indexed;
  std::optional<NodeId> root = session.instance.root();
  if (!root) return std::nullopt;
  auto value = xpath::evaluate(*expr, session.instance, xpath::EvalContext{*root, 1, 1},
                               session.clock);
  if (!value) return std::nullopt;
  const auto* nodes = std::get_if<xpath::NodeSet>(&*value);
  if (!nodes || nodes->ids.empty()) return std::nullopt;
  if (nodes->document && nodes->document != &session.instance) return std::nullopt;
  return nodes->ids.front();
}

std::string value_at(const Session& session, std::string_view path) {
  std::optional<NodeId> node = first_node(session, path);
  return node ? tree::string_value(session.instance, *node) : std::string();
}

std::vector<NodeId> rows_at(const Session& session, std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::optional<NodeId> parent =
      slash == 0 ? session.instance.root() : first_node(session, path.substr(0, slash));
  if (!parent) return {};
  std::string_view name = path.substr(slash + 1);
  std::vector<NodeId> rows;
  for (NodeId child : session.instance.children(*parent))
    if (session.instance.name(child) == name) rows.push_back(child);
  return rows;
}

std::expected<void, std::string> set_value(Session& session, std::string_view path,
                                           std::string_view value) {
  if (std::optional<Unwritable> bad = first_unwritable(value))
    return std::unexpected(detail::msg::unwritable_value(path, bad->position, bad->character));
  Document& doc = session.instance;
  const InstanceOutline& outline = session.templates.outline;
  // Answers come one at a time: the index makes each independent of the
  // instance's size until its structure changes.
  if (!session.paths.fresh(doc)) session.paths.build(doc);
  if (std::optional<NodeId> node = first_node(session, path)) {
    if (!outline.entry_of(doc, *node, session.outline_entries)) return std::unexpected(detail::msg::outside_form(path));
    doc.set_text(*node, value);
    detail::compact_if_sparse(session);
    return {};
  }

  std::vector<detail::NamedStep> segments;
  for (std::string_view text : segments_of(path)) {
    std::optional<detail::NamedStep> segment = detail::read_step(text);
    if (!segment) return std::unexpected(detail::msg::row_does_not_exist(path, text));
    segments.push_back(*segment);
  }
  if (segments.empty()) return std::unexpected(detail::msg::names_nothing(path));
  // Only names can be created, and the last segment may name an attribute.
  // Names are stored, and tested by paths, without their prefix.
  const bool attribute = segments.back().name.starts_with('@');
  if (attribute) {
    if (segments.back().position) return std::unexpected(detail::msg::names_nothing(path));
    segments.back().name.remove_prefix(1);
  }
  for (detail::NamedStep& segment : segments) {
    segment.name = tree::local_name(segment.name);
    if (!is_xml_name(segment.name)) return std::unexpected(detail::msg::names_nothing(path));
  }
  std::optional<NodeId> root = doc.root();
  if (!root) return std::unexpected(detail::msg::instance_without_root());
  if (outline.empty() || outline.entry(0).name != doc.name(*root))
    return std::unexpected(detail::msg::outside_form(path));

  std::size_t first = 0;
  if (segments.size() >= 2 && segments.front().name == doc.name(*root)) {
    const std::optional<std::uint64_t>& position = segments.front().position;
    if (position && *position != 1)
      return std::unexpected(detail::msg::row_does_not_exist(path, segments.front().text));
    first = 1;
  }
  // Every segment is checked against the form before anything is made: the
  // existing elements are followed as far as they go, and from the first
  // missing one on, each is one to create, which no row may be.
  NodeId at = *root;
  std::uint32_t at_entry = 0;
  std::size_t created_from = segments.size();
  std::vector<std::uint32_t> entries(segments.size(), 0);
  std::uint32_t entry = 0;
  for (std::size_t i = first; i < segments.size(); ++i) {
    const detail::NamedStep& segment = segments[i];
    const bool is_attribute = attribute && i + 1 == segments.size();
    std::optional<std::uint32_t> known = outline.child(entry, segment.name, is_attribute);
    if (!known) return std::unexpected(detail::msg::outside_form(path));
    entry = entries[i] = *known;
    if (is_attribute || created_from < segments.size()) {
      if (segment.position || outline.entry(entry).row)
        return std::unexpected(detail::msg::row_does_not_exist(path, segment.text));
      continue;
    }
    detail::Pick pick = detail::pick_child(doc, at, segment);
    if (pick.child) {
      at = *pick.child;
      at_entry = entry;
      continue;
    }
    if (pick.several) return std::unexpected(detail::several_rows(doc, path, segment, pick));
    if (segment.position || outline.entry(entry).row)
      return std::unexpected(detail::msg::row_does_not_exist(path, segment.text));
    created_from = i;
  }

  const std::size_t elements = segments.size() - (attribute ? 1 : 0);
  if (created_from == segments.size() && !attribute) {
    // A path the expression language does not select (a trailing slash, a
    // relative path naming the root) may still walk to an existing node; that
    // node takes the answer rather than gaining a namesake no path reads.
    doc.set_text(at, value);
    detail::compact_if_sparse(session);
    return {};
  }
  if (created_from == segments.size()) {
    if (std::optional<NodeId> existing = tree::attribute_named(doc, at, segments.back().name)) {
      doc.set_text(*existing, value);
      detail::compact_if_sparse(session);
      return {};
    }
    created_from = elements;
  }
  NodeId parent = at;
  for (std::size_t i = created_from; i < elements; ++i) {
    NodeId element = doc.new_element(segments[i].name, i + 1 == segments.size() ? value : "");
    if (i == created_from)
      place_as_the_form_does(doc, outline, at_entry, at, entries[i], element);
    else
      doc.append_child(parent, element);
    parent = element;
  }
  if (attribute) doc.add_attribute(parent, segments.back().name, value);
  doc.reindex_document_order();
  detail::compact_if_sparse(session);
  return {};
}

}  // namespace tovarn::form
