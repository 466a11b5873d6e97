// Loads the input as a form and judges a submission against it: the input is
// the form, then a NUL byte and the submission; without one, the form's own
// primary instance is judged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/predicate_nesting.h"
#include "form/judge.h"
#include "form/model.h"
#include "form/session.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/environment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!tovarn::unicode::is_valid_utf8(input) || fuzz::nests_too_deep(input)) return -1;
  const std::size_t cut = input.find('\0');
  const std::string_view form_text = input.substr(0, cut);

  auto form = tovarn::form::load_form_model(form_text);
  if (!form) return 0;
  auto submission = cut == std::string_view::npos
                        ? tovarn::form::primary_instance(form->form_document)
                        : tovarn::tree::parse_xml(input.substr(cut + 1));
  if (!submission) return 0;
  (void)tovarn::form::check_same_form(*form, *submission);
  const tovarn::xpath::Clock clock("2024-05-01", "2024-05-01T10:11:12.000+02:00");
  for (const auto& finding : tovarn::form::judge_submission(*form, *submission, clock)) {
    (void)tovarn::form::finding_text(finding);
  }
  return 0;
}
