#include "xpath/functions/detail/pulldata.h"

#include <array>

#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {

std::string pulldata_lookup(const tree::Document& table, std::string_view return_column,
                            std::string_view search_column, std::string_view search_value) {
  std::optional<tree::NodeId> root = table.root();
  if (!root) return {};
  tree::NodeId rows = *root;
  // A table shaped like a secondary instance (instance > data > rows). A table
  // of a single row is read the same way: its cells become the rows.
  if (auto only = table.first_child(rows);
      only && !table.next_sibling(*only) && table.has_children(*only)) {
    rows = *only;
  }
  std::string_view wanted = unicode::trim(search_value);
  std::string cell_text;
  for (tree::NodeId row : table.children(rows)) {
    cell_text.clear();
    if (auto cell = tree::child_named(table, row, search_column)) {
      tree::append_string_value(table, *cell, cell_text);
    }
    if (unicode::trim(cell_text) != wanted) continue;
    auto result = tree::child_named(table, row, return_column);
    return result ? tree::string_value(table, *result) : std::string();
  }
  return {};
}

EvalResult fn_pulldata(const CallSite& call) {
  std::array<std::string, 4> args;  // table id, return column, search column, search value
  for (std::size_t p = 0; p < args.size(); ++p) {
    auto arg = eval_arg_string(call, p + 1);
    if (!arg) return std::unexpected(std::move(arg.error()));
    args[p] = std::move(*arg);
  }
  const tree::Document* table = call.environment.instance(args[0]);
  if (!table) return std::unexpected(msg::no_table(args[0]));
  return pulldata_lookup(*table, args[1], args[2], args[3]);
}

}  // namespace tovarn::xpath::detail
