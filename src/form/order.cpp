#include "form/detail/order.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <ranges>

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

// The post-order over `edges` from each of `starts` in turn, appended to
// `order`; `follow` says which dependencies the walk takes. The frame stack is
// the path stack of the walk, so a cycle's chain is read straight off it.
template <class Starts, class Follow>
std::expected<void, std::string> post_order(const std::vector<Bind>& binds, const Edges& edges,
                                            const Starts& starts, Follow follow,
                                            std::vector<Mark>& marks,
                                            std::vector<std::size_t>& order) {
  std::vector<Frame> stack;
  for (std::uint32_t first : starts) {
    if (!binds[first].calculate || marks[first] == Mark::done) continue;
    marks[first] = Mark::in_progress;
    stack.push_back({first, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      std::span<const std::uint32_t> deps = edges.of(top.bind);
      if (top.next == deps.size()) {
        marks[top.bind] = Mark::done;
        order.push_back(top.bind);
        stack.pop_back();
        continue;
      }
      std::uint32_t d = deps[top.next++];
      if (!binds[d].calculate || !follow(d) || marks[d] == Mark::done) continue;
      if (marks[d] == Mark::in_progress) return std::unexpected(cycle_message(binds, stack, d));
      marks[d] = Mark::in_progress;
      stack.push_back({d, 0});
    }
  }
  return {};
}

// Both kinds of edge, merged, for the walk over the circles they make.
Edges merged(const Dependencies& deps) {
  Edges all;
  all.offsets.reserve(deps.pinned.offsets.size());
  all.offsets.push_back(0);
  all.to.reserve(deps.pinned.to.size() + deps.unpinned.to.size());
  for (std::size_t b = 0; b + 1 < deps.pinned.offsets.size(); ++b) {
    std::span<const std::uint32_t> p = deps.pinned.of(b), u = deps.unpinned.of(b);
    std::merge(p.begin(), p.end(), u.begin(), u.end(), std::back_inserter(all.to));
    all.offsets.push_back(static_cast<std::uint32_t>(all.to.size()));
  }
  return all;
}

// Tarjan's strongly connected components, iterative, walking as the pinned
// order does: each component comes out once every component it reads has,
// so where no reads go round a circle the order is that same post-order.
class Circles {
 public:
  Circles(const std::vector<Bind>& binds, const Dependencies& deps)
      : binds_(binds),
        deps_(deps),
        all_(merged(deps)),
        index_(binds.size(), kUnseen),
        low_(binds.size(), 0),
        on_stack_(binds.size(), false),
        component_of_(binds.size(), kUnseen) {}

  CalculationOrder run() {
    for (std::uint32_t first = 0; first < binds_.size(); ++first)
      if (binds_[first].calculate && index_[first] == kUnseen) walk(first);
    return std::move(result_);
  }

 private:
  static constexpr std::uint32_t kUnseen = UINT32_MAX;

  void enter(std::uint32_t b) {
    index_[b] = low_[b] = counter_++;
    stack_.push_back(b);
    on_stack_[b] = true;
    frames_.push_back({b, 0});
  }

  void walk(std::uint32_t first) {
    enter(first);
    while (!frames_.empty()) {
      const std::uint32_t b = frames_.back().bind;
      std::span<const std::uint32_t> deps = all_.of(b);
      if (frames_.back().next < deps.size()) {
        const std::uint32_t d = deps[frames_.back().next++];
        if (!binds_[d].calculate) continue;
        if (index_[d] == kUnseen)
          enter(d);
        else if (on_stack_[d])
          low_[b] = std::min(low_[b], index_[d]);
        continue;
      }
      frames_.pop_back();
      if (!frames_.empty()) low_[frames_.back().bind] = std::min(low_[frames_.back().bind], low_[b]);
      if (low_[b] == index_[b]) emit(b);
    }
  }

  // The component that `root` heads is on the stack from `root` up.
  void emit(std::uint32_t root) {
    const std::size_t begin = result_.order.size();
    if (stack_.back() == root) {
      stack_.pop_back();
      on_stack_[root] = false;
      result_.order.push_back(root);
      std::span<const std::uint32_t> own = deps_.unpinned.of(root);
      if (std::binary_search(own.begin(), own.end(), root))
        result_.loops.push_back({begin, begin + 1});
      return;
    }
    const auto from = std::find(stack_.rbegin(), stack_.rend(), root).base() - 1;
    std::vector<std::uint32_t> members(from, stack_.end());
    stack_.erase(from, stack_.end());
    std::sort(members.begin(), members.end());
    const auto id = static_cast<std::uint32_t>(result_.loops.size());
    for (std::uint32_t m : members) {
      on_stack_[m] = false;
      component_of_[m] = id;
    }
    if (marks_.empty()) marks_.assign(binds_.size(), Mark::unvisited);
    // The pinned reads have no circle, or the load would have been refused.
    auto in_loop = [&](std::uint32_t b) { return component_of_[b] == id; };
    (void)post_order(binds_, deps_.pinned, members, in_loop, marks_, result_.order);
    result_.loops.push_back({begin, result_.order.size()});
  }

  const std::vector<Bind>& binds_;
  const Dependencies& deps_;
  Edges all_;
  std::vector<std::uint32_t> index_;
  std::vector<std::uint32_t> low_;
  std::vector<bool> on_stack_;
  std::vector<std::uint32_t> component_of_;
  std::vector<Mark> marks_;
  std::vector<std::uint32_t> stack_;
  std::vector<Frame> frames_;
  std::uint32_t counter_ = 0;
  CalculationOrder result_;
};

}  // namespace

std::expected<CalculationOrder, std::string> order_calculations(const std::vector<Bind>& binds,
                                                                const Dependencies& dependencies) {
  std::vector<Mark> marks(binds.size(), Mark::unvisited);
  CalculationOrder pinned;
  auto every = [](std::uint32_t) { return true; };
  const auto starts = std::views::iota(std::uint32_t{0}, static_cast<std::uint32_t>(binds.size()));
  if (auto done = post_order(binds, dependencies.pinned, starts, every, marks, pinned.order); !done)
    return std::unexpected(std::move(done.error()));
  if (dependencies.unpinned.empty()) return pinned;
  return Circles(binds, dependencies).run();
}

}  // namespace tovarn::form::detail
