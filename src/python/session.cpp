#include "form/recompute.h"
#include "form/session.h"
#include "python/entry.h"
#include "python/messages.h"
#include "python/sources.h"
#include "tree/xml.h"

namespace tovarn::python {

Outcome<SessionRecord> session_new(std::string form, std::optional<std::string> instance,
                                   std::optional<std::string> today,
                                   std::optional<std::string> now) {
  auto form_text = load_source(std::move(form), "form");
  if (!form_text) return std::unexpected(std::move(form_text.error()));
  // Only the arguments set the clock; the instance's own elements never do.
  xpath::Clock clock = xpath::local_clock(std::move(today), std::move(now));
  std::optional<std::string> instance_text;
  if (instance) {
    auto loaded = load_source(std::move(*instance), "instance");
    if (!loaded) return std::unexpected(std::move(loaded.error()));
    instance_text = std::move(*loaded);
  }
  auto session = instance_text
                     ? form::session_with_instance(*form_text, *instance_text, std::move(clock))
                     : form::session_new(*form_text, std::move(clock));
  if (!session) return runtime_error(std::move(session.error()));
  return SessionRecord{std::move(*session)};
}

Outcome<std::monostate> session_set(SessionRecord& record, std::string path, std::string value) {
  auto done = form::set_value(record.session, path, value);
  if (!done) return value_error(std::move(done.error()));
  return std::monostate{};
}

Outcome<std::string> session_get(const SessionRecord& record, std::string path) {
  return form::value_at(record.session, path);
}

Outcome<std::uint64_t> session_add_row(SessionRecord& record, std::string path) {
  auto rows = form::add_row(record.session, path);
  if (!rows) return value_error(std::move(rows.error()));
  return *rows;
}

Outcome<std::uint64_t> session_remove_row(SessionRecord& record, std::string path,
                                          std::uint64_t position) {
  auto rows = form::remove_row(record.session, path, position);
  if (!rows) return value_error(std::move(rows.error()));
  return *rows;
}

Outcome<RecomputeReport> session_recompute(SessionRecord& record) {
  return form::recompute_session(record.session);
}

Outcome<std::optional<std::vector<Record>>> session_choices(const SessionRecord& record,
                                                            std::string path) {
  std::optional<std::vector<form::Choice>> listed = form::choices(record.session, path);
  if (!listed) return std::optional<std::vector<Record>>();
  std::vector<Record> out;
  out.reserve(listed->size());
  for (form::Choice& choice : *listed)
    out.push_back(Record{{{"value", std::move(choice.value)}, {"label", std::move(choice.label)}}});
  return std::optional<std::vector<Record>>(std::move(out));
}

Outcome<std::string> session_instance_xml(const SessionRecord& record) {
  return tree::write_xml(record.session.instance);
}

Outcome<std::string> session_repr(const SessionRecord& record) {
  return msg::session_repr(tree::write_xml(record.session.instance).size());
}

}  // namespace tovarn::python
