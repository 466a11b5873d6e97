#include "compat/finding.h"

#include "compat/detail/messages.h"

namespace tovarn::compat {

std::string_view breaks_name(Breaks breaks) { return detail::breaks_output_name(breaks); }

std::string finding_sentence(const CompatFinding& finding) {
  return detail::finding_sentence(finding.path, finding.rule, finding.construct, finding.effect,
                                  finding.breaks, finding.suggestion);
}

}  // namespace tovarn::compat
