#include <array>

#include "form/judge.h"
#include "form/model.h"
#include "python/entry.h"
#include "python/sources.h"
#include "tree/xml.h"

namespace tovarn::python {
namespace {

// By the index of the FindingKind alternative.
constexpr std::array<std::string_view, 4> kKindNames = {"constraint", "required", "calculation",
                                                        "not-evaluated"};

}  // namespace

Outcome<std::vector<Record>> submission_findings(std::string form, std::string submission,
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

  std::vector<Record> out;
  out.reserve(findings.size());
  for (const form::SubmissionFinding& finding : findings) {
    Record record;
    record.fields.reserve(3);
    record.fields.push_back({"path", finding.path});
    record.fields.push_back({"kind", std::string(kKindNames[finding.kind.value.index()])});
    record.fields.push_back({"says", form::finding_text(finding)});
    out.push_back(std::move(record));
  }
  return out;
}

}  // namespace tovarn::python
