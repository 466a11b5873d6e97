#include "xpath/detail/call_site.h"

// Placeholder until the function library lands.
namespace tovarn::xpath::detail {
EvalResult eval_arg(const CallSite& call, std::size_t) { return std::unexpected(std::string(call.name)); }
std::expected<std::string, std::string> eval_arg_string(const CallSite& call, std::size_t) { return std::unexpected(std::string(call.name)); }
std::expected<double, std::string> eval_arg_number(const CallSite& call, std::size_t) { return std::unexpected(std::string(call.name)); }
std::expected<bool, std::string> eval_arg_boolean(const CallSite& call) { return std::unexpected(std::string(call.name)); }
}  // namespace tovarn::xpath::detail
