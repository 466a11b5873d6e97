#include "form/detail/compaction.h"

namespace tovarn::form::detail {
namespace {

// Below this many dead bytes a copy is not worth making.
constexpr std::size_t kSlackBytes = std::size_t{64} << 10;

}  // namespace

void compact_if_sparse(Session& session) {
  tree::Document& doc = session.instance;
  const std::optional<tree::NodeId> root = doc.root();
  if (!root) return;
  const bool sparse_nodes = doc.size() > 2 * std::size_t{doc.order_size()};
  const bool sparse_bytes = doc.stored_bytes() > 2 * session.compacted_bytes + kSlackBytes;
  if (!sparse_nodes && !sparse_bytes) return;
  tree::Document fresh;
  fresh.set_root(tree::copy_subtree(fresh, doc, *root));
  fresh.reindex_document_order();
  doc = std::move(fresh);
  session.paths = {};
  session.outline_entries.clear();
  session.compacted_bytes = doc.stored_bytes();
}

}  // namespace tovarn::form::detail
