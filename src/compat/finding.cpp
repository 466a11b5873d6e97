#include "compat/finding.h"

#include "compat/detail/messages.h"

namespace tovarn::compat {

std::string_view breaks_name(Breaks breaks) { return detail::breaks_output_name(breaks); }

std::string finding_sentence(const CompatFindings& all, const CompatFinding& finding) {
  const CompatIssue& issue = finding.issue;
  return detail::finding_sentence(all.path_of(finding), all.rule_of(finding).rule, issue.construct,
                                  issue.effect, issue.breaks, issue.suggestion);
}

}  // namespace tovarn::compat
