#pragma once
// The bodies of the module's entry points, behind the calling conventions.
// Each receives its arguments bound and converted (owned UTF-8 texts, absent
// optionals as nullopt) and returns its result record or a Failure; the frame
// turns either into Python objects. No body sees a Python object.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "form/recompute.h"
#include "form/session.h"

namespace tovarn::python {

// The exception a failure raises; every other type is raised by the frame.
enum class Raise : std::uint8_t { runtime_error, value_error };

struct Failure {
  Raise type;
  std::string message;
};

template <class T>
using Outcome = std::expected<T, Failure>;

inline std::unexpected<Failure> runtime_error(std::string message) {
  return std::unexpected(Failure{Raise::runtime_error, std::move(message)});
}
inline std::unexpected<Failure> value_error(std::string message) {
  return std::unexpected(Failure{Raise::value_error, std::move(message)});
}

// A dict with fixed keys, inserted in this order; an absent value is None.
struct Record {
  struct Field {
    std::string_view key;  // a literal
    std::optional<std::string> value;
  };
  std::vector<Field> fields;
};

// What Session.recompute returns, field for field.
using RecomputeReport = form::RecomputeResult;

// Dicts with the same keys whose values repeat: each text is held once and
// becomes one str that every dict holding it shares.
struct SharedRecords {
  static constexpr std::size_t kNone = SIZE_MAX;  // a None value
  std::span<const std::string_view> keys;         // literals, inserted in this order
  std::vector<std::string> texts;
  std::vector<std::size_t> values;  // keys.size() per dict: an index into texts, or kNone
};

// The state a Session object owns.
struct SessionRecord {
  form::Session session;
};

// Module functions.
[[nodiscard]] Outcome<SharedRecords> check_form(std::string form);
[[nodiscard]] Outcome<SharedRecords> submission_findings(std::string form, std::string submission,
                                                       std::optional<std::string> today,
                                                       std::optional<std::string> now);
[[nodiscard]] Outcome<std::string> eval_expression(std::string expression, std::string submission,
                                                   std::optional<std::string> today,
                                                   std::optional<std::string> now);

// The Session class. Methods that change the record get it mutable; the frame
// holds the matching borrow while they run.
[[nodiscard]] Outcome<SessionRecord> session_new(std::string form,
                                                 std::optional<std::string> instance,
                                                 std::optional<std::string> today,
                                                 std::optional<std::string> now);
[[nodiscard]] Outcome<std::monostate> session_set(SessionRecord& session, std::string path,
                                                  std::string value);
[[nodiscard]] Outcome<std::string> session_get(const SessionRecord& session, std::string path);
[[nodiscard]] Outcome<std::uint64_t> session_add_row(SessionRecord& session, std::string path);
[[nodiscard]] Outcome<std::uint64_t> session_remove_row(SessionRecord& session, std::string path,
                                                        std::uint64_t position);
[[nodiscard]] Outcome<RecomputeReport> session_recompute(SessionRecord& session);
[[nodiscard]] Outcome<std::optional<std::vector<Record>>> session_choices(
    const SessionRecord& session, std::string path);
[[nodiscard]] Outcome<std::string> session_instance_xml(const SessionRecord& session);
[[nodiscard]] Outcome<std::string> session_repr(const SessionRecord& session);

}  // namespace tovarn::python
