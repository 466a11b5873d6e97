#include "python/entry.h"
#include "python/messages.h"
#include "python/sources.h"

namespace tovarn::python {

Outcome<std::vector<Record>> submission_findings(std::string form, std::string submission,
                                                 std::optional<std::string>,
                                                 std::optional<std::string>) {
  // Both sources are resolved before either is read.
  auto form_text = load_source(std::move(form), "form");
  if (!form_text) return std::unexpected(std::move(form_text.error()));
  auto submission_text = load_source(std::move(submission), "submission");
  if (!submission_text) return std::unexpected(std::move(submission_text.error()));
  return runtime_error(msg::not_available("submission_findings()"));
}

}  // namespace tovarn::python
