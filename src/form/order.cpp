#include "form/detail/order.h"

#include <algorithm>

#include "form/detail/messages.h"

namespace tovarn::form::detail {
namespace {

enum class Mark : std::uint8_t { unvisited, in_progress, done };

struct Frame {
  std::uint32_t bind;
  std::uint32_t next;  // index of the next dependency to visit
};

std::string cycle_message(const std::vector<Bind>& binds, const std::vector<Frame>& stack,
                          std::uint32_t closing) {
  auto first = std::find_if(stack.begin(), stack.end(),
                            [closing](const Frame& f) { return f.bind == closing; });
  std::string chain;
  for (auto it = first; it != stack.end(); ++it) {
    if (it != first) chain += msg::cycle_arrow();
    chain += binds[it->bind].nodeset;
  }
  return msg::calculation_cycle(chain, binds[closing].nodeset);
}

}  // namespace

// The frame stack is the path stack of the walk, so the cycle's chain is read
// straight off it.
std::expected<std::vector<std::size_t>, std::string> order_calculations(
    const std::vector<Bind>& binds, const Dependencies& dependencies) {
  std::vector<Mark> marks(binds.size(), Mark::unvisited);
  std::vector<std::size_t> order;
  std::vector<Frame> stack;
  for (std::uint32_t start = 0; start < binds.size(); ++start) {
    if (!binds[start].calculate || marks[start] == Mark::done) continue;
    marks[start] = Mark::in_progress;
    stack.push_back({start, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      std::span<const std::uint32_t> deps = dependencies.of(top.bind);
      if (top.next == deps.size()) {
        marks[top.bind] = Mark::done;
        order.push_back(top.bind);
        stack.pop_back();
        continue;
      }
      std::uint32_t d = deps[top.next++];
      if (!binds[d].calculate || marks[d] == Mark::done) continue;
      if (marks[d] == Mark::in_progress) return std::unexpected(cycle_message(binds, stack, d));
      marks[d] = Mark::in_progress;
      stack.push_back({d, 0});
    }
  }
  return order;
}

}  // namespace tovarn::form::detail
