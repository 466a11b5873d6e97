#include "xpath/evaluate.h"

// Placeholder until the evaluator lands.
namespace tovarn::xpath {
EvalResult evaluate(const Expr&, const tree::Document&, EvalContext, const Environment&) { return std::unexpected("the evaluator is not available yet"); }
std::optional<tree::NodeId> find_instance_element(const tree::Document&, std::string_view) { return std::nullopt; }
}  // namespace tovarn::xpath
