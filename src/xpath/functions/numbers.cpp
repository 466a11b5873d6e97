#include <cmath>

#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

template <double (*F)(double)>
EvalResult unary(const CallSite& call) {
  auto x = eval_arg_number(call, 1);
  if (!x) return std::unexpected(std::move(x.error()));
  return F(*x);
}

// Wrappers pick the double overload of each <cmath> function.
double identity(double x) { return x; }
double trunc_of(double x) { return std::trunc(x); }
double abs_of(double x) { return std::fabs(x); }
double floor_of(double x) { return std::floor(x); }
double ceil_of(double x) { return std::ceil(x); }
double sqrt_of(double x) { return std::sqrt(x); }
double log_of(double x) { return std::log(x); }
double log10_of(double x) { return std::log10(x); }
double exp_of(double x) { return std::exp(x); }

}  // namespace

EvalResult fn_number(const CallSite& call) {
  if (call.args.empty()) return string_to_number(context_string(call));
  return unary<identity>(call);
}

EvalResult fn_int(const CallSite& call) { return unary<trunc_of>(call); }
EvalResult fn_abs(const CallSite& call) { return unary<abs_of>(call); }
EvalResult fn_floor(const CallSite& call) { return unary<floor_of>(call); }
EvalResult fn_ceiling(const CallSite& call) { return unary<ceil_of>(call); }
EvalResult fn_sqrt(const CallSite& call) { return unary<sqrt_of>(call); }
EvalResult fn_log(const CallSite& call) { return unary<log_of>(call); }
EvalResult fn_log10(const CallSite& call) { return unary<log10_of>(call); }
EvalResult fn_exp(const CallSite& call) { return unary<exp_of>(call); }

// With a digit count d: round(x * 10^d) / 10^d, so a d that makes 10^d
// infinite or zero gives NaN (inf / inf, 0 / 0) rather than x unchanged. A
// finite x whose scaling overflows is far past 2^53, a whole number with no
// digits to drop, so it is its own rounding.
EvalResult fn_round(const CallSite& call) {
  auto x = eval_arg_number(call, 1);
  if (!x) return std::unexpected(std::move(x.error()));
  if (call.args.size() == 1) return round_half_away(*x);
  auto digits = eval_arg_number(call, 2);
  if (!digits) return std::unexpected(std::move(digits.error()));
  const double m = std::pow(10.0, std::trunc(*digits));
  const double scaled = *x * m;
  if (std::isinf(scaled) && std::isfinite(*x) && std::isfinite(m)) return *x;
  return round_half_away(scaled) / m;
}

EvalResult fn_pow(const CallSite& call) {
  auto base = eval_arg_number(call, 1);
  if (!base) return std::unexpected(std::move(base.error()));
  auto exponent = eval_arg_number(call, 2);
  if (!exponent) return std::unexpected(std::move(exponent.error()));
  return std::pow(*base, *exponent);
}

}  // namespace tovarn::xpath::detail
