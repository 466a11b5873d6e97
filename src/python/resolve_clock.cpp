#include <array>

#include "python/sources.h"
#include "tree/query.h"
#include "unicode/unicode.h"

namespace tovarn::python {
namespace {

// The names the clock is taken from, in the order of ClockTexts.
constexpr std::array<std::string_view, 3> kClockNames = {"today", "end", "start"};

// For each clock name, the string value of the first element of that name
// below the root, absent when there is none or it is blank (what
// tree::descendant_text gives for one name).
using ClockTexts = std::array<std::optional<std::string>, kClockNames.size()>;

// One pass over the root's part of the document order finds all three, where a
// lookup per name would walk a submission that lacks them whole three times.
// The order describes the tree only while it is current; otherwise each name
// is looked up on its own.
ClockTexts clock_texts(const tree::Document& doc) {
  ClockTexts texts;
  const auto root = doc.root();
  if (!root) return texts;
  if (!doc.order_is_current()) {
    for (std::size_t k = 0; k < kClockNames.size(); ++k) {
      texts[k] = tree::descendant_text(doc, kClockNames[k]);
    }
    return texts;
  }
  std::array<bool, kClockNames.size()> seen{};
  std::size_t left = kClockNames.size();
  const std::uint32_t last = doc.order_subtree_end(*root);
  for (std::uint32_t p = doc.order_position(*root) + 1; p <= last && left > 0; ++p) {
    const tree::NodeId id = doc.at_order_position(p);
    if (doc.is_attribute(id)) continue;
    const std::string_view name = doc.name(id);
    for (std::size_t k = 0; k < kClockNames.size(); ++k) {
      if (seen[k] || name != kClockNames[k]) continue;
      seen[k] = true;
      --left;
      std::string value = tree::string_value(doc, id);
      if (!unicode::is_blank(value)) texts[k] = std::move(value);
    }
  }
  return texts;
}

}  // namespace

xpath::Clock resolve_clock(const tree::Document& submission, std::optional<std::string> today,
                           std::optional<std::string> now) {
  if (!today || !now) {
    auto [found_today, end, start] = clock_texts(submission);
    if (!today) {
      today = std::move(found_today);
      if (const std::optional<std::string>& stamp = end ? end : start; !today && stamp) {
        // The date part of an ISO date-time, never splitting a character; an
        // indented element's white space is no part of it.
        const std::string_view text = unicode::trim(*stamp);
        today = std::string(text.substr(0, unicode::boundary_at_most(text, 10)));
      }
    }
    if (!now) now = end ? std::move(end) : std::move(start);
  }
  return xpath::local_clock(std::move(today), std::move(now));
}

}  // namespace tovarn::python
