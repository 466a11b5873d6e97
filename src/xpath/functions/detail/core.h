#pragma once
// The core families of the function library (boolean, number, string,
// node-set, context and selection functions) and the few helpers they share.
// Each function receives its call after the arity check of the dispatch.

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tree/document.h"
#include "xpath/detail/call_site.h"
#include "xpath/value.h"

namespace tovarn::xpath::detail {

// Booleans.
EvalResult fn_true(const CallSite& call);
EvalResult fn_false(const CallSite& call);
EvalResult fn_boolean(const CallSite& call);
EvalResult fn_not(const CallSite& call);
EvalResult fn_boolean_from_string(const CallSite& call);
EvalResult fn_if(const CallSite& call);

// Numbers.
EvalResult fn_number(const CallSite& call);
EvalResult fn_int(const CallSite& call);
EvalResult fn_abs(const CallSite& call);
EvalResult fn_floor(const CallSite& call);
EvalResult fn_ceiling(const CallSite& call);
EvalResult fn_round(const CallSite& call);
EvalResult fn_pow(const CallSite& call);
EvalResult fn_sqrt(const CallSite& call);
EvalResult fn_log(const CallSite& call);
EvalResult fn_log10(const CallSite& call);
EvalResult fn_exp(const CallSite& call);

// Numbers over node-sets.
EvalResult fn_sum(const CallSite& call);
EvalResult fn_min(const CallSite& call);
EvalResult fn_max(const CallSite& call);

// Strings.
EvalResult fn_string(const CallSite& call);
EvalResult fn_concat(const CallSite& call);
EvalResult fn_join(const CallSite& call);
EvalResult fn_string_length(const CallSite& call);
EvalResult fn_normalize_space(const CallSite& call);
EvalResult fn_coalesce(const CallSite& call);

// Searches within a string, by bytes.
EvalResult fn_contains(const CallSite& call);
EvalResult fn_starts_with(const CallSite& call);
EvalResult fn_ends_with(const CallSite& call);
EvalResult fn_substring_before(const CallSite& call);
EvalResult fn_substring_after(const CallSite& call);

// Cuts and replacements by character position.
EvalResult fn_substring(const CallSite& call);
EvalResult fn_substr(const CallSite& call);
EvalResult fn_translate(const CallSite& call);

// Nodes and the context.
EvalResult fn_count(const CallSite& call);
EvalResult fn_last(const CallSite& call);
EvalResult fn_position(const CallSite& call);
EvalResult fn_name(const CallSite& call);  // name() and local-name()
EvalResult fn_once(const CallSite& call);

// Choice lists.
EvalResult fn_selected(const CallSite& call);
EvalResult fn_selected_at(const CallSite& call);
EvalResult fn_count_selected(const CallSite& call);

// --- shared helpers -----------------------------------------------------------

// The nearest integer, halves away from zero. std::round is exact; adding
// 0.49999999999999994 and truncating is not (it rounds odd integers between
// 2^52 and 2^53 up to the next even one).
inline double round_half_away(double x) { return std::round(x); }

// A float as an index in [0, limit]: NaN and everything below 0 give 0,
// everything at or above `limit` (infinity included) gives `limit`, the rest
// is truncated toward zero. A bare cast of 1e300 would be undefined.
inline std::size_t saturate_index(double x, std::size_t limit) {
  if (!(x > 0)) return 0;
  if (x >= static_cast<double>(limit)) return limit;
  return static_cast<std::size_t>(x);
}

// The document a node-set's ids belong to: the one it carries, else the call's.
inline const tree::Document& document_of(const NodeSet& nodes, const CallSite& call) {
  return nodes.document != nullptr ? *nodes.document : call.document;
}

// The string value of the call's context node.
std::string context_string(const CallSite& call);

// The next run of characters without White_Space at or after byte `pos`, with
// `pos` moved past it; nullopt when only white space is left.
std::optional<std::string_view> next_word(std::string_view text, std::size_t& pos);

}  // namespace tovarn::xpath::detail
