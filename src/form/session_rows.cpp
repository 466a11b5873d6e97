#include "form/detail/compaction.h"
#include "form/detail/messages.h"
#include "form/session.h"

namespace tovarn::form {

std::expected<std::uint64_t, std::string> add_row(Session& session, std::string_view path) {
  auto found = session.templates.by_path.find(path);
  if (found == session.templates.by_path.end())
    return std::unexpected(detail::msg::not_a_repeat(path));
  const tree::Document& template_rows = session.templates.rows;
  const tree::NodeId template_row = found->second;
  if (!template_rows.root() || !template_rows.contains(template_row) ||
      template_rows.is_attribute(template_row))
    return std::unexpected(detail::msg::template_empty(path));

  tree::Document& doc = session.instance;
  // Read before the copy, which may mark the order stale by itself.
  const bool order_current = doc.order_is_current();
  std::vector<tree::NodeId> rows = rows_at(session, path);
  std::optional<tree::NodeId> parent;
  if (rows.empty()) {
    std::size_t slash = path.rfind('/');
    parent = slash != std::string_view::npos && slash > 0
                 ? first_node(session, path.substr(0, slash))
                 : doc.root();
    // An attribute holds no rows.
    if (!parent || doc.is_attribute(*parent))
      return std::unexpected(detail::msg::nowhere_to_hang(path));
  }
  // Looked up before the copy, so a refusal leaves no stray record behind.
  tree::NodeId row = tree::copy_subtree(doc, template_rows, template_row);
  if (parent)
    doc.append_child(*parent, row);
  else
    doc.insert_after(rows.back(), row);
  // The rows are read from one parent, so the new one is the only change.
  if (order_current)
    doc.index_linked_subtree(row);
  else
    doc.reindex_document_order();
  return rows.size() + 1;
}

std::expected<std::uint64_t, std::string> remove_row(Session& session, std::string_view path,
                                                     std::uint64_t position) {
  std::vector<tree::NodeId> rows = rows_at(session, path);
  if (position == 0 || position > rows.size())
    return std::unexpected(detail::msg::no_such_row(path, rows.size(), position));
  session.instance.detach(rows[position - 1]);
  session.instance.reindex_document_order();
  detail::compact_if_sparse(session);
  return rows_at(session, path).size();
}

}  // namespace tovarn::form
