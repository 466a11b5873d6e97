#include "compat/check_form.h"

#include "python/entry.h"
#include "python/sources.h"

namespace tovarn::python {

Outcome<std::vector<Record>> check_form(std::string form) {
  auto text = load_source(std::move(form), "form");
  if (!text) return std::unexpected(std::move(text.error()));
  auto findings = compat::check_form(*text);
  if (!findings) return runtime_error(std::move(findings.error()));

  std::vector<Record> records;
  records.reserve(findings->size());
  for (compat::CompatFinding& finding : *findings) {
    std::string says = compat::finding_sentence(finding);
    records.push_back(Record{{
        {"says", std::move(says)},
        {"path", std::move(finding.path)},
        {"rule", std::move(finding.rule)},
        {"expression", std::move(finding.expression)},
        {"construct", std::move(finding.construct)},
        {"breaks", std::string(compat::breaks_name(finding.breaks))},
        {"effect", std::move(finding.effect)},
        {"suggestion", std::move(finding.suggestion)},
    }});
  }
  return records;
}

}  // namespace tovarn::python
