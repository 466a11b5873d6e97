#pragma once
// What the engine comparison reports: one issue per construct found in a rule,
// placed in its bind and rule as a finding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// A rule that has findings. Its texts are held here once, however many
// findings it has: a rule can be long and yield a finding per call in it.
struct CheckedRule {
  std::size_t bind;        // its bind's index in CompatFindings::bind_paths
  std::string_view rule;   // "relevant", "calculate", "constraint", "required" or "readonly"
  std::string expression;  // the rule text, trimmed
};

// One issue placed in its bind and rule.
struct CompatFinding {
  std::size_t rule;  // its rule's index in CompatFindings::rules
  CompatIssue issue;
};

// The findings of a form, in bind, rule and check order, with the texts of
// their binds and rules.
struct CompatFindings {
  std::vector<std::string> bind_paths;  // trimmed, one per bind that has findings
  std::vector<CheckedRule> rules;       // one per rule that has findings
  std::vector<CompatFinding> findings;

  const CheckedRule& rule_of(const CompatFinding& finding) const { return rules[finding.rule]; }
  const std::string& path_of(const CompatFinding& finding) const {
    return bind_paths[rule_of(finding).bind];
  }
};

// The one-sentence summary of a finding: its bind and rule, the construct, the
// effect, where it breaks and, when there is one, what to write instead.
std::string finding_sentence(const CompatFindings& all, const CompatFinding& finding);

}  // namespace tovarn::compat
