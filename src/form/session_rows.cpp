#include "form/detail/compaction.h"
#include "form/detail/messages.h"
#include "form/detail/path_namer.h"
#include "form/detail/session_steps.h"
#include "form/session.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

// Where a repeat path leads: the repeat, and the element its rows hang from,
// or the first element on the way that the instance lacks.
struct RowsPlace {
  std::uint32_t repeat = 0;  // entries of the outline
  std::uint32_t parent_entry = 0;
  std::optional<NodeId> parent;
  std::string_view missing;  // the segment of the element lacking
  bool missing_row = false;  // a repeat's row lacks, not a group
};

// A repeat path is written exactly: "/", the names of the form's instance
// from its root, each step above the repeat's own with a position where its
// element has several. Without a position, one element of the name is
// followed, and several are refused.
std::expected<RowsPlace, std::string> find_rows(const Session& session, std::string_view path) {
  const InstanceOutline& outline = session.templates.outline;
  auto not_a_repeat = [&] { return std::unexpected(detail::msg::not_a_repeat(path)); };
  if (outline.empty() || !path.starts_with('/')) return not_a_repeat();
  std::vector<detail::NamedStep> segments;
  std::vector<std::uint32_t> entries;
  for (std::size_t start = 1;;) {
    std::size_t slash = std::min(path.find('/', start), path.size());
    std::optional<detail::NamedStep> segment = detail::read_step(path.substr(start, slash - start));
    if (!segment || segment->name.empty()) return not_a_repeat();
    if (segments.empty()) {
      if (segment->position || segment->name != outline.entry(0).name) return not_a_repeat();
      entries.push_back(0);
    } else {
      std::optional<std::uint32_t> entry = outline.child(entries.back(), segment->name, false);
      if (!entry) return not_a_repeat();
      entries.push_back(*entry);
    }
    segments.push_back(*segment);
    if (slash == path.size()) break;
    start = slash + 1;
  }
  RowsPlace place;
  place.repeat = entries.back();
  if (segments.size() < 2 || segments.back().position || !outline.entry(place.repeat).row)
    return not_a_repeat();

  const Document& doc = session.instance;
  std::optional<NodeId> at = doc.root();
  if (!at || doc.name(*at) != segments.front().name) {
    place.missing = segments.front().text;
    return place;
  }
  for (std::size_t i = 1; i + 1 < segments.size(); ++i) {
    detail::Pick pick = detail::pick_child(doc, *at, segments[i]);
    if (pick.several) return std::unexpected(detail::several_rows(doc, path, segments[i], pick));
    if (!pick.child) {
      place.missing = segments[i].text;
      place.missing_row = outline.entry(entries[i]).row.has_value();
      return place;
    }
    at = pick.child;
  }
  place.parent = at;
  place.parent_entry = entries[entries.size() - 2];
  return place;
}

}  // namespace

std::expected<std::uint64_t, std::string> add_row(Session& session, std::string_view path) {
  auto place = find_rows(session, path);
  if (!place) return std::unexpected(std::move(place.error()));
  const InstanceOutline& outline = session.templates.outline;
  const InstanceOutline::Entry& repeat = outline.entry(place->repeat);
  const Document& template_rows = session.templates.rows;
  if (!template_rows.root() || !template_rows.contains(*repeat.row) ||
      template_rows.is_attribute(*repeat.row))
    return std::unexpected(detail::msg::template_empty(path));
  if (!place->parent)
    return std::unexpected(place->missing_row
                               ? detail::msg::row_does_not_exist(path, place->missing)
                               : detail::msg::nowhere_to_hang(path));

  Document& doc = session.instance;
  // Read before the copy, which may mark the order stale by itself.
  const bool order_current = doc.order_is_current();
  std::uint64_t rows = 0;
  std::optional<NodeId> last;
  for (NodeId child : doc.children(*place->parent)) {
    if (doc.name(child) != repeat.name) continue;
    ++rows;
    last = child;
  }
  NodeId row = tree::copy_subtree(doc, template_rows, *repeat.row);
  // Later rows follow the last; the first stands where the template did.
  if (last)
    doc.insert_after(*last, row);
  else
    place_as_the_form_does(doc, outline, place->parent_entry, *place->parent, place->repeat, row);
  // The new row is the only change.
  if (order_current)
    doc.index_linked_subtree(row);
  else
    doc.reindex_document_order();
  return rows + 1;
}

std::expected<std::uint64_t, std::string> remove_row(Session& session, std::string_view path,
                                                     std::uint64_t position) {
  auto place = find_rows(session, path);
  if (!place) return std::unexpected(std::move(place.error()));
  Document& doc = session.instance;
  const std::string& name = session.templates.outline.entry(place->repeat).name;
  std::vector<NodeId> rows;
  if (place->parent)
    for (NodeId child : doc.children(*place->parent))
      if (doc.name(child) == name) rows.push_back(child);
  if (position == 0 || position > rows.size())
    return std::unexpected(detail::msg::no_such_row(path, rows.size(), position));
  doc.detach(rows[position - 1]);
  doc.reindex_document_order();
  detail::compact_if_sparse(session);
  return rows.size() - 1;
}

std::map<std::string, std::uint64_t> count_rows(const Session& session) {
  std::map<std::string, std::uint64_t> counts;
  const InstanceOutline& outline = session.templates.outline;
  const Document& doc = session.instance;
  detail::PathNamer namer(doc);
  std::vector<std::uint32_t> chain;
  std::vector<NodeId> level, next;
  std::string key;
  for (const std::uint32_t repeat : outline.repeats()) {
    // The elements the rows hang from, level by level from the root down.
    chain.clear();
    for (std::uint32_t e = outline.entry(repeat).parent; e != InstanceOutline::kNone;
         e = outline.entry(e).parent)
      chain.push_back(e);
    level.clear();
    std::optional<NodeId> root = doc.root();
    if (root && doc.name(*root) == outline.entry(chain.back()).name) level.push_back(*root);
    for (auto it = chain.rbegin() + 1; it != chain.rend() && !level.empty(); ++it) {
      const std::string& name = outline.entry(*it).name;
      next.clear();
      for (NodeId element : level)
        for (NodeId child : doc.children(element))
          if (doc.name(child) == name) next.push_back(child);
      level.swap(next);
    }
    if (level.empty()) {
      counts.emplace(outline.path(repeat), 0);
      continue;
    }
    const std::string& name = outline.entry(repeat).name;
    for (NodeId parent : level) {
      std::uint64_t rows = 0;
      for (NodeId child : doc.children(parent)) rows += doc.name(child) == name;
      namer.path_into(parent, key);
      key += '/';
      key += name;
      counts.emplace(key, rows);
    }
  }
  return counts;
}

}  // namespace tovarn::form
