#include "tree/query.h"

// Placeholder until the queries land.
namespace tovarn::tree {
std::vector<NodeId> ancestors(const Document&, NodeId) { return {}; }
std::vector<NodeId> descendants(const Document&, NodeId) { return {}; }
std::string string_value(const Document& doc, NodeId id) { return std::string(doc.text(id)); }
void append_string_value(const Document& doc, NodeId id, std::string& out) { out += doc.text(id); }
std::optional<std::string_view> attribute_value(const Document&, NodeId, std::string_view) { return std::nullopt; }
std::optional<std::string_view> descendant_text(const Document&, std::string_view) { return std::nullopt; }
std::string node_path(const Document&, NodeId) { return "/"; }
}  // namespace tovarn::tree
