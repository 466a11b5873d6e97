#include "xpath/detail/call_site.h"

namespace tovarn::xpath::detail {

// Placeholder until this family lands.
EvalResult fn_area(const CallSite& call) {
  return std::unexpected(std::string(call.name) + "() is not implemented yet");
}

// Placeholder until this family lands.
EvalResult fn_distance(const CallSite& call) {
  return std::unexpected(std::string(call.name) + "() is not implemented yet");
}

}  // namespace tovarn::xpath::detail
