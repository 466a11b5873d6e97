#include "form/detail/session_steps.h"

#include "form/detail/messages.h"
#include "tree/query.h"

namespace tovarn::form::detail {

std::optional<NamedStep> read_step(std::string_view text) {
  const std::size_t open = text.find('[');
  if (open == std::string_view::npos) return NamedStep{text, text, std::nullopt};
  if (open == 0 || text.size() - open < 3 || text.back() != ']') return std::nullopt;
  std::uint64_t position = 0;
  for (std::size_t i = open + 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    // Past any row count: held at the top of the range.
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    position = position > (UINT64_MAX - digit) / 10 ? UINT64_MAX : position * 10 + digit;
  }
  return NamedStep{text, text.substr(0, open), position};
}

Pick pick_child(const tree::Document& doc, tree::NodeId parent, const NamedStep& segment) {
  Pick pick;
  for (const tree::NodeId child : doc.children(parent)) {
    if (doc.name(child) != segment.name) continue;
    ++pick.count;
    if (!pick.first) pick.first = child;
    pick.last = child;
    if (segment.position && *segment.position == pick.count) pick.child = child;
  }
  if (!segment.position) {
    if (pick.count == 1) pick.child = pick.first;
    pick.several = pick.count >= 2;
  }
  return pick;
}

std::string several_rows(const tree::Document& doc, std::string_view path, const NamedStep& segment,
                         const Pick& pick) {
  const std::size_t end =
      static_cast<std::size_t>(segment.text.data() - path.data()) + segment.text.size();
  std::string example(path.substr(0, end));
  example += "[1]";
  example += path.substr(end);
  return msg::several_rows(path, pick.count, tree::node_path(doc, *pick.first),
                           tree::node_path(doc, *pick.last), example);
}

}  // namespace tovarn::form::detail
