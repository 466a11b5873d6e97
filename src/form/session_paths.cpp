#include "form/detail/compaction.h"
#include "form/detail/messages.h"
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
  Document& doc = session.instance;
  // Answers come one at a time: the index makes each independent of the
  // instance's size until its structure changes.
  if (!session.paths.fresh(doc)) session.paths.build(doc);
  if (std::optional<NodeId> node = first_node(session, path)) {
    doc.set_text(*node, value);
    detail::compact_if_sparse(session);
    return {};
  }

  std::vector<std::string_view> segments = segments_of(path);
  if (segments.empty()) return std::unexpected(detail::msg::names_nothing(path));
  for (std::string_view segment : segments)
    if (segment.find('[') != std::string_view::npos)
      return std::unexpected(detail::msg::row_does_not_exist(path, segment));
  // Only names can be created, and the last segment may name an attribute.
  // Names are stored, and tested by paths, without their prefix.
  bool attribute = segments.back().starts_with('@');
  if (attribute) segments.back().remove_prefix(1);
  for (std::string_view& segment : segments) {
    segment = tree::local_name(segment);
    if (!is_xml_name(segment)) return std::unexpected(detail::msg::names_nothing(path));
  }
  std::string_view last = segments.back();
  std::optional<NodeId> root = doc.root();
  if (!root) return std::unexpected(detail::msg::instance_without_root());

  std::size_t first = segments.size() >= 2 && segments.front() == doc.name(*root) ? 1 : 0;
  NodeId current = *root;
  bool created = false;
  for (std::size_t i = first; i + 1 < segments.size(); ++i) {
    if (std::optional<NodeId> child = tree::child_named(doc, current, segments[i])) {
      current = *child;
      continue;
    }
    NodeId child = doc.new_element(segments[i], "");
    doc.append_child(current, child);
    current = child;
    created = true;
  }
  // A path the expression language does not select (a trailing slash, a
  // relative path naming the root) may still walk to an existing node; that
  // node takes the answer rather than gaining a namesake no path reads.
  if (attribute) {
    if (std::optional<NodeId> existing = tree::attribute_named(doc, current, last)) {
      doc.set_text(*existing, value);
    } else {
      doc.add_attribute(current, last, value);
      created = true;
    }
  } else if (std::optional<NodeId> existing = tree::child_named(doc, current, last)) {
    doc.set_text(*existing, value);
  } else {
    NodeId element = doc.new_element(last, value);
    doc.append_child(current, element);
    created = true;
  }
  if (created) doc.reindex_document_order();
  detail::compact_if_sparse(session);
  return {};
}

}  // namespace tovarn::form
