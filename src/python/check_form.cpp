#include "python/entry.h"
#include "python/messages.h"
#include "python/sources.h"

namespace tovarn::python {

Outcome<std::vector<Record>> check_form(std::string form) {
  auto text = load_source(std::move(form), "form");
  if (!text) return std::unexpected(std::move(text.error()));
  return runtime_error(msg::not_available("check_form()"));
}

}  // namespace tovarn::python
