#include "python/entry.h"
#include "python/messages.h"
#include "python/sources.h"

namespace tovarn::python {

Outcome<SessionRecord> session_new(std::string form, std::optional<std::string> instance,
                                   std::optional<std::string>, std::optional<std::string>) {
  auto form_text = load_source(std::move(form), "form");
  if (!form_text) return std::unexpected(std::move(form_text.error()));
  if (instance) {
    auto instance_text = load_source(std::move(*instance), "instance");
    if (!instance_text) return std::unexpected(std::move(instance_text.error()));
  }
  return runtime_error(msg::not_available("Session()"));
}

Outcome<std::monostate> session_set(SessionRecord&, std::string, std::string) {
  return runtime_error(msg::not_available("Session.set()"));
}

Outcome<std::string> session_get(const SessionRecord&, std::string) {
  return runtime_error(msg::not_available("Session.get()"));
}

Outcome<std::uint64_t> session_add_row(SessionRecord&, std::string) {
  return runtime_error(msg::not_available("Session.add_row()"));
}

Outcome<std::uint64_t> session_remove_row(SessionRecord&, std::string, std::uint64_t) {
  return runtime_error(msg::not_available("Session.remove_row()"));
}

Outcome<RecomputeReport> session_recompute(SessionRecord&) {
  return runtime_error(msg::not_available("Session.recompute()"));
}

Outcome<std::optional<std::vector<Record>>> session_choices(const SessionRecord&, std::string) {
  return runtime_error(msg::not_available("Session.choices()"));
}

Outcome<std::string> session_instance_xml(const SessionRecord&) {
  return runtime_error(msg::not_available("Session.instance_xml()"));
}

Outcome<std::string> session_repr(const SessionRecord&) {
  return runtime_error(msg::not_available("Session.__repr__()"));
}

}  // namespace tovarn::python
