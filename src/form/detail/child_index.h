#pragma once
// Plain absolute child paths (/data/group/q: child steps with names, no
// predicates), the shape of nearly every bind's nodeset, resolved without the
// evaluator. The binds of a form share long prefixes, so a wide parent's
// children are found through a table of them by name.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tree/child_names.h"
#include "tree/document.h"
#include "xpath/expr.h"

namespace tovarn::form::detail {

// Holds a view of the document, which must not change while the index lives.
class ChildIndex {
 public:
  explicit ChildIndex(const tree::Document& doc) : doc_(doc), by_name_(doc) {}

  // What evaluating `path` at the document's root gives (the same nodes in
  // the same order), or none when the path is not a plain absolute child path.
  std::optional<std::vector<tree::NodeId>> select(const xpath::Expr& path);
  // The same for a text that `is_plain_child_path` accepts.
  std::vector<tree::NodeId> select_plain(std::string_view path);

 private:
  // Steps child by child from the root; `name(i)` is the name of step i.
  template <class Names>
  std::vector<tree::NodeId> select_steps(std::size_t count, Names name);

  const tree::Document& doc_;
  tree::ChildNames by_name_;
  // Reused by every selection: the names of a plain path, the nodes reached.
  std::vector<std::string_view> names_;
  std::vector<tree::NodeId> list_;
  std::vector<tree::NodeId> next_;
};

// Whether the text is "/" and ASCII names ([A-Za-z_][A-Za-z0-9._-]*) joined
// by "/", with nothing else: such a text parses as an absolute path of child
// steps with those name tests and no predicates.
bool is_plain_child_path(std::string_view text);

// Calls `visit` with each name of a text that is_plain_child_path accepts.
template <class Visit>
void for_each_name(std::string_view path, Visit visit) {
  for (std::size_t at = 1; at <= path.size();) {
    std::size_t slash = std::min(path.find('/', at), path.size());
    visit(path.substr(at, slash - at));
    at = slash + 1;
  }
}

// Whether the parsed path is absolute and only child steps with name tests
// and no predicates, which ChildIndex and PlainPaths resolve without the
// evaluator.
bool is_plain_step_list(const xpath::Expr::LocationPath& path);

}  // namespace tovarn::form::detail
