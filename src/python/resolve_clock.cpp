#include "python/sources.h"
#include "tree/query.h"
#include "unicode/unicode.h"

namespace tovarn::python {
namespace {

std::optional<std::string> element_text(const tree::Document& doc, std::string_view name) {
  auto text = tree::descendant_text(doc, name);
  if (!text) return std::nullopt;
  return std::string(std::move(*text));
}

}  // namespace

xpath::Clock resolve_clock(const tree::Document& submission, std::optional<std::string> today,
                           std::optional<std::string> now) {
  std::optional<std::string> end;
  if (!today || !now) end = element_text(submission, "end");
  if (!today) {
    today = element_text(submission, "today");
    if (!today && end) {
      // The date part of an ISO date-time, never splitting a character.
      today = end->substr(0, unicode::boundary_at_most(*end, 10));
    }
  }
  if (!now) now = end ? std::move(end) : element_text(submission, "start");
  return xpath::Clock(today ? std::move(*today) : std::string(kDefaultToday),
                      now ? std::move(*now) : std::string(kDefaultNow));
}

}  // namespace tovarn::python
