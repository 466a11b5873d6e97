#pragma once
// `=` and `!=` between a location path and one value, with the path's nodes
// walked rather than listed: a row testing its name against every row before
// it then visits each earlier row once, copies nothing, and stops at the
// first row that settles the comparison. Equality of a node-set with one
// value is the same in any order and with any duplicates, so the walk needs
// neither.

#include <string>

#include "tree/document.h"
#include "xpath/expr.h"
#include "xpath/value.h"
#include "xpath/watch.h"

namespace tovarn::xpath::detail {

// Whether the walk takes the path: no predicates; steps that keep one node
// (self, parent), then one step of any axis, then child and attribute steps
// (and bare self steps), which never reach a node twice from distinct nodes.
// Such a path never fails.
bool walkable_path(const Expr::LocationPath& path);

// Whether the path selects one node at most: relative, self and parent
// steps only ("." or "../..").
bool single_node_path(const Expr::LocationPath& path);

// compare_equal(op, nodes of the path, other) for a walkable path from the
// context node, op `=` or `!=`, and `other` anything but a node-set of two or
// more nodes. Ticks the thread's watch (given, or nullptr) as it visits
// nodes; when the watch stops it, the interruption is the result.
EvalResult compare_walked(BinaryOp op, const Expr::LocationPath& path, const Value& other,
                          const tree::Document& doc, tree::NodeId context, Watch* watch);

}  // namespace tovarn::xpath::detail
