#include <cmath>
#include <limits>

#include "tree/query.h"
#include "xpath/functions/detail/core.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {
namespace {

// One scratch text serves every node, so reading a long node-set allocates
// once rather than once per node.
template <typename Visit>
void for_each_node_number(const NodeSet& nodes, const CallSite& call, Visit visit) {
  const tree::Document& doc = document_of(nodes, call);
  std::string text;
  for (tree::NodeId id : nodes.ids) {
    text.clear();
    tree::append_string_value(doc, id, text);
    visit(string_to_number(text));
  }
}

// min() and max(): every argument is evaluated, in order, even after a NaN,
// because a later argument may still fail.
template <bool kMax>
EvalResult extremum(const CallSite& call) {
  bool any = false;
  bool nan = false;
  double best = 0;
  auto take = [&](double x) {
    if (std::isnan(x)) {
      nan = true;
    } else if (!any || (kMax ? x > best : x < best)) {
      best = x;
    }
    any = true;
  };
  for (std::size_t p = 1; p <= call.args.size(); ++p) {
    EvalResult value = eval_arg(call, p);
    if (!value) return value;
    if (const auto* nodes = std::get_if<NodeSet>(&*value)) {
      for_each_node_number(*nodes, call, take);
    } else {
      take(value_to_number(*value));
    }
  }
  if (!any || nan) return std::numeric_limits<double>::quiet_NaN();
  return best;
}

}  // namespace

// Starts from negative zero, so the sum of no nodes is -0 (1 div sum(empty)
// is -Infinity), and one node that is no number makes the total NaN.
EvalResult fn_sum(const CallSite& call) {
  EvalResult value = eval_arg(call, 1);
  if (!value) return value;
  const auto* nodes = std::get_if<NodeSet>(&*value);
  if (nodes == nullptr) return std::unexpected(msg::sum_needs_nodeset(kind_phrase(*value)));
  double total = -0.0;
  for_each_node_number(*nodes, call, [&](double x) { total += x; });
  return total;
}

EvalResult fn_min(const CallSite& call) { return extremum<false>(call); }
EvalResult fn_max(const CallSite& call) { return extremum<true>(call); }

}  // namespace tovarn::xpath::detail
