#include "python/entry.h"
#include "python/messages.h"

namespace tovarn::python {

Outcome<std::vector<Record>> submission_findings(std::string, std::string,
                                                 std::optional<std::string>,
                                                 std::optional<std::string>) {
  return runtime_error(msg::not_available("submission_findings()"));
}

}  // namespace tovarn::python
