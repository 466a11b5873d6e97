#include "xpath/functions/detail/core.h"
#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail {

EvalResult fn_count(const CallSite& call) {
  EvalResult value = eval_arg(call, 1);
  if (!value) return value;
  const auto* nodes = std::get_if<NodeSet>(&*value);
  if (nodes == nullptr) return std::unexpected(msg::count_needs_nodeset(kind_phrase(*value)));
  return static_cast<double>(nodes->ids.size());
}

EvalResult fn_last(const CallSite& call) { return static_cast<double>(call.context.size); }

EvalResult fn_position(const CallSite& call) {
  return static_cast<double>(call.context.position);
}

// name() and local-name() agree: stored names carry no prefix.
EvalResult fn_name(const CallSite& call) {
  if (call.args.empty()) return std::string(call.document.name(call.context.node));
  EvalResult value = eval_arg(call, 1);
  if (!value) return value;
  const auto* nodes = std::get_if<NodeSet>(&*value);
  if (nodes == nullptr) return std::unexpected(msg::name_needs_nodeset(call.name, kind_phrase(*value)));
  if (nodes->ids.empty()) return std::string();
  return std::string(document_of(*nodes, call).name(nodes->ids[0]));
}

// The argument is never evaluated: the result is the context node's own value.
EvalResult fn_once(const CallSite& call) { return context_string(call); }

}  // namespace tovarn::xpath::detail
