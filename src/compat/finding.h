#pragma once
// What the engine comparison reports: one issue per construct found in a rule,
// placed in its bind and rule as a finding.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovarn::compat {

// Where an issue breaks.
enum class Breaks : std::uint8_t {
  collect,
  enketo,
  both_differently,
  both_silently,
};

// The engine or engines as a finding names them ("Collect / KoboCollect").
std::string_view breaks_name(Breaks breaks);

// One construct found in one rule expression.
struct CompatIssue {
  std::string construct;
  Breaks breaks;
  std::string effect;
  std::optional<std::string> suggestion;
};

// One issue placed in its bind and rule.
struct CompatFinding {
  std::string path;        // the bind's path, trimmed
  std::string rule;        // "relevant", "calculate", "constraint", "required" or "readonly"
  std::string expression;  // the rule text, trimmed
  std::string construct;
  Breaks breaks;
  std::string effect;
  std::optional<std::string> suggestion;
};

// The one-sentence summary of a finding: its bind and rule, the construct, the
// effect, where it breaks and, when there is one, what to write instead.
std::string finding_sentence(const CompatFinding& finding);

}  // namespace tovarn::compat
