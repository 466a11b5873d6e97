#include <array>

#include "form/judge.h"
#include "form/model.h"
#include "python/entry.h"
#include "python/sources.h"
#include "tree/xml.h"

namespace tovarn::python {
namespace {

constexpr std::array<std::string_view, 3> kKeys = {"path", "kind", "says"};

// By the index of the FindingKind alternative.
constexpr std::array<std::string_view, 4> kKindNames = {"constraint", "required", "calculation",
                                                        "not-evaluated"};

// The findings as dicts sharing their keys and each kind's name. A finding's
// path is moved once its sentence is written.
SharedRecords shared_records(std::vector<form::SubmissionFinding>& findings) {
  SharedRecords out{kKeys, {}, {}};
  out.texts.reserve(2 * findings.size() + kKindNames.size());
  out.values.reserve(kKeys.size() * findings.size());
  std::array<std::size_t, kKindNames.size()> kind_text;
  kind_text.fill(SharedRecords::kNone);
  for (form::SubmissionFinding& finding : findings) {
    std::string says = form::finding_text(finding);
    out.values.push_back(out.texts.size());
    out.texts.push_back(std::move(finding.path));
    std::size_t& kind = kind_text[finding.kind.value.index()];
    if (kind == SharedRecords::kNone) {
      kind = out.texts.size();
      out.texts.emplace_back(kKindNames[finding.kind.value.index()]);
    }
    out.values.push_back(kind);
    out.values.push_back(out.texts.size());
    out.texts.push_back(std::move(says));
  }
  return out;
}

}  // namespace

Outcome<SharedRecords> submission_findings(std::string form, std::string submission,
                                                 std::optional<std::string> today,
                                                 std::optional<std::string> now) {
  // Both sources are resolved before either is read.
  auto form_text = load_source(std::move(form), "form");
  if (!form_text) return std::unexpected(std::move(form_text.error()));
  auto submission_text = load_source(std::move(submission), "submission");
  if (!submission_text) return std::unexpected(std::move(submission_text.error()));

  auto model = form::load_form_model_for_request(std::move(*form_text));
  if (!model) return runtime_error(std::move(model.error()));
  auto instance = tree::parse_xml_in_place(std::move(*submission_text));
  if (!instance) return runtime_error(std::move(instance.error()));
  if (auto same = form::check_same_form(*model, *instance); !same)
    return runtime_error(std::move(same.error()));

  const xpath::Clock clock = resolve_clock(*instance, std::move(today), std::move(now));
  std::vector<form::SubmissionFinding> findings = form::judge_submission(*model, *instance, clock);

  return shared_records(findings);
}

}  // namespace tovarn::python
