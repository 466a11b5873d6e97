#include "python/entry.h"
#include "python/messages.h"

namespace tovarn::python {

Outcome<std::vector<Record>> check_form(std::string) {
  return runtime_error(msg::not_available("check_form()"));
}

}  // namespace tovarn::python
