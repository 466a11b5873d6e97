#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "xpath/detail/call_site.h"
#include "xpath/functions/detail/core.h"
#include "xpath/functions/detail/messages.h"
#include "xpath/functions/functions.h"

namespace tovarn::xpath {
namespace {

using detail::Function;

// Allowed argument counts as a bit set: bit k allows k arguments.
enum Counts : std::uint8_t {
  unchecked = 0,  // no arity check: a missing argument is reported when reached
  c0 = 1u << 0,
  c1 = 1u << 1,
  c2 = 1u << 2,
  c3 = 1u << 3,
};

// What the evaluator may assume of a function, for its memos and never_fails.
enum Traits : std::uint8_t {
  none = 0,
  pure = 1u << 0,          // its value comes from its arguments' values alone
  safe = 1u << 1,          // fails only through its arguments
  safe_sets = 1u << 2,     // the same, but its arguments must be node-sets
  context = 1u << 3,       // reads the context
  bare_context = 1u << 4,  // reads the context when called without arguments
};

struct Entry {
  std::string_view name;
  Function function;  // nullptr: refused
  std::uint8_t counts;
  std::uint8_t traits;
};

constexpr Entry refused(std::string_view name, std::uint8_t traits = none) {
  return {name, nullptr, unchecked, traits};
}

template <std::size_t N>
constexpr std::array<Entry, N> sorted_by_name(std::array<Entry, N> table) {
  std::sort(table.begin(), table.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return table;
}

using namespace detail;

// The library's whole vocabulary. Names match byte for byte: case and prefix
// are part of the name.
constexpr auto kTable = sorted_by_name(std::array{
    // booleans
    Entry{"true", fn_true, c0, pure | safe},
    Entry{"false", fn_false, c0, pure | safe},
    Entry{"not", fn_not, c1, pure | safe},
    Entry{"boolean", fn_boolean, c1, pure | safe},
    Entry{"boolean-from-string", fn_boolean_from_string, c1, pure},
    Entry{"if", fn_if, c3, pure | safe},
    // numbers
    Entry{"number", fn_number, c0 | c1, pure | safe | bare_context},
    Entry{"int", fn_int, c1, pure | safe},
    Entry{"abs", fn_abs, c1, pure | safe},
    Entry{"floor", fn_floor, c1, pure | safe},
    Entry{"ceiling", fn_ceiling, c1, pure | safe},
    Entry{"round", fn_round, c1 | c2, pure | safe},
    Entry{"pow", fn_pow, c2, pure | safe},
    Entry{"sqrt", fn_sqrt, c1, pure},
    Entry{"log", fn_log, c1, pure},
    Entry{"log10", fn_log10, c1, pure},
    Entry{"exp", fn_exp, c1, pure},
    Entry{"sum", fn_sum, c1, pure | safe_sets},
    Entry{"min", fn_min, unchecked, pure | safe},
    Entry{"max", fn_max, unchecked, pure | safe},
    // strings
    Entry{"string", fn_string, c0 | c1, pure | safe | bare_context},
    Entry{"concat", fn_concat, unchecked, pure | safe},
    Entry{"join", fn_join, c2, pure},
    Entry{"string-length", fn_string_length, c0 | c1, pure | safe | bare_context},
    Entry{"normalize-space", fn_normalize_space, c0 | c1, pure | safe | bare_context},
    Entry{"contains", fn_contains, c2, pure},
    Entry{"starts-with", fn_starts_with, c2, pure},
    Entry{"ends-with", fn_ends_with, c2, pure},
    Entry{"substring-before", fn_substring_before, c2, pure},
    Entry{"substring-after", fn_substring_after, c2, pure},
    Entry{"substring", fn_substring, c2 | c3, pure},
    Entry{"substr", fn_substr, c2 | c3, pure},
    Entry{"translate", fn_translate, c3, pure},
    Entry{"coalesce", fn_coalesce, c2, pure | safe},
    // nodes, context and choice lists
    Entry{"count", fn_count, c1, pure | safe_sets},
    Entry{"last", fn_last, c0, context},
    Entry{"position", fn_position, c0, context},
    Entry{"name", fn_name, c0 | c1, pure | bare_context},
    Entry{"local-name", fn_name, c0 | c1, pure | bare_context},
    Entry{"once", fn_once, c1, context},
    Entry{"selected", fn_selected, c2, pure},
    Entry{"selected-at", fn_selected_at, c2, pure},
    Entry{"count-selected", fn_count_selected, c1, pure},
    // dates and times
    Entry{"today", fn_today, c0, pure},
    Entry{"now", fn_now, c0, pure},
    Entry{"format-date", fn_format_date, c2, pure},
    Entry{"format-date-time", fn_format_date, c2, pure},
    // geography
    Entry{"area", fn_area, unchecked, none},
    Entry{"distance", fn_distance, unchecked, none},
    // regex, choice names, external tables
    Entry{"regex", fn_regex, c2, pure},
    Entry{"choice-name", fn_choice_name, c2, none},
    Entry{"jr:choice-name", fn_choice_name, c2, none},
    Entry{"pulldata", fn_pulldata, unchecked, none},
    // known to forms, refused rather than guessed at
    refused("uuid"),
    refused("date"),
    refused("digest"),
    refused("current", context),
    refused("randomize"),
    refused("date-time"),
    refused("checklist"),
    refused("decimal-time"),
    refused("indexed-repeat"),
    refused("decimal-date-time"),
    refused("weighted-checklist"),
    refused("position-in-repeat"),
});

static_assert(std::adjacent_find(kTable.begin(), kTable.end(), [](const Entry& a, const Entry& b) {
                return a.name == b.name;
              }) == kTable.end(),
              "a function name appears twice");

const Entry* find_entry(std::string_view name) {
  const Entry* it = std::lower_bound(
      kTable.begin(), kTable.end(), name,
      [](const Entry& entry, std::string_view key) { return entry.name < key; });
  return it != kTable.end() && it->name == name ? it : nullptr;
}

// Succeeds when `given` is one of the allowed counts; otherwise the message
// lists them in ascending order.
[[nodiscard]] std::expected<void, std::string> check_arity(std::string_view name,
                                                           std::size_t given,
                                                           std::uint8_t counts) {
  if (given < 4 && (counts & (1u << given))) return {};
  std::array<std::size_t, 4> allowed{};
  std::size_t n = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    if (counts & (1u << k)) allowed[n++] = k;
  }
  return std::unexpected(detail::msg::wrong_arity(name, std::span(allowed.data(), n), given));
}

}  // namespace

CallTraits call_traits(const Expr::FunctionCall& call) {
  const Entry* entry = find_entry(call.name);
  if (entry == nullptr) return {};
  const std::size_t given = call.args.size();
  const bool runs = entry->function != nullptr &&
                    (entry->counts == unchecked || (given < 4 && (entry->counts & (1u << given))));
  const std::uint8_t t = entry->traits;
  return CallTraits{
      .reads_context = (t & context) != 0 || ((t & bare_context) != 0 && given == 0),
      .pure = (t & pure) != 0,
      .fails_only_through_arguments = runs && (t & (safe | safe_sets)) != 0,
      .needs_node_sets = (t & safe_sets) != 0,
  };
}

EvalResult call_function(const Expr::FunctionCall& call, const tree::Document& doc,
                         EvalContext context, const Environment& env) {
  const Entry* entry = find_entry(call.name);
  if (entry == nullptr) return std::unexpected(detail::msg::unknown_function(call.name));
  if (entry->function == nullptr) return std::unexpected(detail::msg::not_implemented(call.name));
  if (entry->counts != unchecked) {
    if (auto ok = check_arity(call.name, call.args.size(), entry->counts); !ok) {
      return std::unexpected(std::move(ok.error()));
    }
  }
  const detail::CallSite site{call.name, call.args, doc, context, env};
  return entry->function(site);
}

}  // namespace tovarn::xpath
