#pragma once
// The function library's view of one call, and the argument operations every
// function evaluates its arguments through.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "tree/document.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/expr.h"
#include "xpath/value.h"

namespace tovarn::xpath::detail {

// Refers to everything, owns nothing; lives for one call.
struct CallSite {
  std::string_view name;  // as written, prefix included
  std::span<const Expr> args;
  const tree::Document& document;
  EvalContext context;
  const Environment& environment;
};

using Function = EvalResult (*)(const CallSite&);

// Argument p (from 1) evaluated in the call's own context, or "{}() needs an
// argument in position {}" when the call has fewer arguments.
[[nodiscard]] EvalResult eval_arg(const CallSite& call, std::size_t p);
[[nodiscard]] std::expected<std::string, std::string> eval_arg_string(const CallSite& call,
                                                                      std::size_t p);
[[nodiscard]] std::expected<double, std::string> eval_arg_number(const CallSite& call,
                                                                 std::size_t p);
// Argument 1 as a boolean.
[[nodiscard]] std::expected<bool, std::string> eval_arg_boolean(const CallSite& call);

// Date and time, geographic, regex, choice-name and pulldata functions; the
// dispatch table refers to them by these names.
EvalResult fn_today(const CallSite& call);
EvalResult fn_now(const CallSite& call);
EvalResult fn_format_date(const CallSite& call);  // format-date() and format-date-time()
EvalResult fn_area(const CallSite& call);
EvalResult fn_distance(const CallSite& call);
EvalResult fn_regex(const CallSite& call);
EvalResult fn_choice_name(const CallSite& call);  // choice-name() and jr:choice-name()
EvalResult fn_pulldata(const CallSite& call);

}  // namespace tovarn::xpath::detail
