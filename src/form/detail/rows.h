#pragma once
// Inside a repeat's row, an absolute path through that repeat reads the row,
// as both form engines evaluate it: for a node in /data/hh[2]/m[3],
// /data/hh/m/name reads hh[2]/m[3]/name and /data/hh/head reads hh[2]/head.
// A rule is rewritten once, at load, for the nodes its bind's nodeset
// selects, whose ancestors' names the nodeset spells out: such a path becomes
// the relative path that climbs from the node to the row and goes on from
// there, so it costs what that path written out costs, and a pass memo sees
// it read the context.

#include <cstdint>
#include <string_view>
#include <vector>

#include "form/detail/repeats.h"
#include "form/model.h"
#include "xpath/expr.h"

namespace tovarn::form::detail {

// Where the nodes of a nodeset stand among the form's rows. Views the names
// of the nodeset it was read from.
struct RowPlace {
  // The element steps' names from the instance's root down, while they name
  // the ancestors of a row.
  std::vector<std::string_view> names;
  std::uint32_t depth = 0;          // steps: the elements', and a last attribute step
  std::vector<std::uint32_t> rows;  // for each row holding the nodes, the steps to it; rising
};

// Fills `place` for the nodes of the nodeset, an absolute path of child steps
// naming elements (predicates allowed) with at most a last attribute step.
// False, `place` left unspecified, for any other nodeset and for nodes in no
// row of `repeats`.
bool read_row_place(const xpath::Expr& nodeset, const Repeats& repeats, RowPlace& place);

// `expr` read at a node of `place`. An absolute path whose leading steps are
// child steps without predicates naming the node's ancestors, and which goes
// on below a row holding the node, reads the deepest such row: it climbs from
// the node. Paths anywhere are read so (operands, arguments, predicates),
// but not the steps of a path that starts from a value, such as
// instance('id')/root/item. With `context_is_node` a path outside predicates
// becomes an ordinary relative path; every other one starts at the rule node
// (evaluate_for). `expr` itself when nothing changes; new trees go to `arena`,
// and no tree is changed, so trees binds share stay as they are.
const xpath::Expr& read_in_rows(const xpath::Expr& expr, const RowPlace& place,
                                bool context_is_node, xpath::ExprArena& arena);

// Reads the rules of every bind whose nodes lie in rows so (the load's last
// step, after the calculation order, which follows the rules as written).
// Readonly is never evaluated and stays as written.
void read_rules_in_rows(FormModel& model);

}  // namespace tovarn::form::detail
