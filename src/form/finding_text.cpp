#include "form/detail/messages.h"
#include "form/judge.h"

namespace tovarn::form {
namespace {

struct Sentence {
  const SubmissionFinding& f;
  std::string operator()(const FindingKind::Constraint&) const {
    return f.message ? detail::msg::own_message(f.path, *f.message)
                     : detail::msg::constraint_broken(f.path);
  }
  std::string operator()(const FindingKind::Required&) const {
    return f.message ? detail::msg::own_message(f.path, *f.message)
                     : detail::msg::required_unanswered(f.path);
  }
  std::string operator()(const FindingKind::Calculation& c) const {
    return detail::msg::calculation_differs(f.path, c.held, c.computed);
  }
  std::string operator()(const FindingKind::NotEvaluated& n) const {
    return detail::msg::not_evaluated(f.path, n.error);
  }
};

}  // namespace

std::string finding_text(const SubmissionFinding& finding) {
  return std::visit(Sentence{finding}, finding.kind.value);
}

}  // namespace tovarn::form
