#include "compat/check_form.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "python/entry.h"
#include "python/sources.h"

namespace tovarn::python {
namespace {

using compat::CompatFinding;
using compat::CompatFindings;
using compat::CompatIssue;

constexpr std::array<std::string_view, 8> kKeys = {
    "says", "path", "rule", "expression", "construct", "breaks", "effect", "suggestion"};
enum Key : std::size_t { says, path, rule, expression, construct, breaks, effect, suggestion };

constexpr std::array<compat::Breaks, 4> kBreaks = {
    compat::Breaks::collect, compat::Breaks::enketo, compat::Breaks::both_differently,
    compat::Breaks::both_silently};

// Findings by index, compared by their rule and issue. The effect and the
// suggestion follow from the construct, so the hash leaves them out.
struct SameFindingHash {
  const std::vector<CompatFinding>* findings;
  std::size_t operator()(std::size_t i) const {
    const CompatFinding& finding = (*findings)[i];
    return std::hash<std::string_view>{}(finding.issue.construct) * 31 + finding.rule;
  }
};

struct SameFinding {
  const std::vector<CompatFinding>* findings;
  bool operator()(std::size_t a, std::size_t b) const {
    const CompatFinding& x = (*findings)[a];
    const CompatFinding& y = (*findings)[b];
    return x.rule == y.rule && x.issue.construct == y.issue.construct &&
           x.issue.breaks == y.issue.breaks && x.issue.effect == y.issue.effect &&
           x.issue.suggestion == y.issue.suggestion;
  }
};

// For each finding, the first finding of its rule with the same issue: a call
// repeated in a rule gives findings whose every value is the same.
std::vector<std::size_t> first_of_same(const std::vector<CompatFinding>& findings) {
  std::vector<std::size_t> first(findings.size());
  std::unordered_set<std::size_t, SameFindingHash, SameFinding> seen(
      findings.size(), SameFindingHash{&findings}, SameFinding{&findings});
  for (std::size_t i = 0; i < findings.size(); ++i) first[i] = *seen.insert(i).first;
  return first;
}

// The findings as dicts whose texts are shared wherever they are the same by
// construction: a bind's path, a rule's name and text, and every value of the
// findings that repeat an issue within a rule. A finding's own texts are
// moved, never copied.
SharedRecords shared_records(CompatFindings& found) {
  const std::vector<std::size_t> first = first_of_same(found.findings);
  SharedRecords out{kKeys, {}, {}};
  out.values.resize(found.findings.size() * kKeys.size());
  auto add = [&out](std::string text) {
    out.texts.push_back(std::move(text));
    return out.texts.size() - 1;
  };

  std::array<std::size_t, kBreaks.size()> breaks_text{};
  for (const compat::Breaks b : kBreaks)
    breaks_text[static_cast<std::size_t>(b)] = add(std::string(compat::breaks_name(b)));
  // Before the paths and rule texts are moved.
  std::vector<std::string> sentences(found.findings.size());
  for (std::size_t i = 0; i < found.findings.size(); ++i) {
    if (first[i] == i) sentences[i] = compat::finding_sentence(found, found.findings[i]);
  }
  std::vector<std::size_t> path_text(found.bind_paths.size());
  for (std::size_t b = 0; b < found.bind_paths.size(); ++b)
    path_text[b] = add(std::move(found.bind_paths[b]));
  std::vector<std::size_t> rule_text(found.rules.size());
  std::vector<std::size_t> expression_text(found.rules.size());
  for (std::size_t r = 0; r < found.rules.size(); ++r) {
    rule_text[r] = add(std::string(found.rules[r].rule));
    expression_text[r] = add(std::move(found.rules[r].expression));
  }

  for (std::size_t i = 0; i < found.findings.size(); ++i) {
    CompatFinding& finding = found.findings[i];
    std::size_t* row = &out.values[i * kKeys.size()];
    if (first[i] != i) {
      const std::size_t* same = &out.values[first[i] * kKeys.size()];
      std::copy(same, same + kKeys.size(), row);
      continue;
    }
    CompatIssue& issue = finding.issue;
    row[says] = add(std::move(sentences[i]));
    row[path] = path_text[found.rules[finding.rule].bind];
    row[rule] = rule_text[finding.rule];
    row[expression] = expression_text[finding.rule];
    row[construct] = add(std::move(issue.construct));
    row[breaks] = breaks_text[static_cast<std::size_t>(issue.breaks)];
    row[effect] = add(std::move(issue.effect));
    row[suggestion] = issue.suggestion ? add(std::move(*issue.suggestion)) : SharedRecords::kNone;
  }
  return out;
}

}  // namespace

Outcome<SharedRecords> check_form(std::string form) {
  auto text = load_source(std::move(form), "form");
  if (!text) return std::unexpected(std::move(text.error()));
  auto found = compat::check_form_in_place(std::move(*text));
  if (!found) return runtime_error(std::move(found.error()));
  return shared_records(*found);
}

}  // namespace tovarn::python
