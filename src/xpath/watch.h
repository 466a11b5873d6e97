#pragma once
// What a long call keeps an eye on while it works: a request from its caller to
// stop (a signal to handle) and the stack its thread has left. A Watch lives on
// the stack of the call that made it and covers everything that call runs on
// its thread; without one, nothing is ever stopped and rules nest to
// kMaxExprDepth.

#include <cstdint>
#include <string>

#include "xpath/expr.h"

namespace tovarn::tree {
class Document;
enum class NodeId : std::uint32_t;
}  // namespace tovarn::tree

namespace tovarn::xpath {

class Watch;

namespace detail {
struct Memos;  // the evaluator's pass memos
// What an evaluation reads at every step, in one thread-local: in a shared
// object each one reached costs a call.
struct ThreadState {
  Watch* watch = nullptr;
  Memos* memos = nullptr;  // made on the thread's first registration
  // Where paths marked from_rule_node start (evaluate_for): a node of
  // `rule_document`, or nowhere while that is null.
  const tree::Document* rule_document = nullptr;
  tree::NodeId rule_node{};
};
extern constinit thread_local ThreadState thread_state;
}

class Watch {
 public:
  // Answers true when the call must stop. Runs on the watched thread, every
  // few milliseconds of work at most.
  using Poll = bool (*)(void* data);

  static constexpr std::int64_t kPollEveryNs = 2'000'000;

  // Installs the watch for this thread until it is destroyed; the first poll
  // comes `first_poll_ns` into the work at the soonest, each later one
  // kPollEveryNs after the last. Measures the stack left below the caller.
  Watch(Poll poll, void* data, std::int64_t first_poll_ns = kPollEveryNs);
  ~Watch();
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Counts one step of work; true once the call must stop, and from then on.
  bool interrupted() {
    if (--countdown_ > 0) return stopped_;
    return due();
  }
  // Asks the poll now, for waits that do no steps. True once stopped.
  bool poll_now();
  bool stopped() const { return stopped_; }

  // The deepest nesting that fits in the stack measured at construction.
  int max_depth() const { return max_depth_; }
  // Whether the frame calling this is too close to the end of the stack to
  // go deeper, whatever the expression's depth was measured to be. Always
  // inlined for correctness, not speed: the frame read must be the caller's.
  [[gnu::always_inline]] bool stack_low() const {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) < floor_;
  }

 private:
  bool due();

  Poll poll_;
  void* data_;
  Watch* previous_;
  std::int64_t countdown_;
  std::int64_t next_poll_ns_;
  std::uintptr_t floor_ = 0;
  int max_depth_ = kMaxExprDepth;
  bool early_;  // before a first poll due sooner than the usual interval
  bool stopped_ = false;
};

// The watch of the call running on this thread, or nullptr.
inline Watch* current_watch() { return detail::thread_state.watch; }

// The deepest nesting a rule parsed now may have.
inline int max_expr_depth() {
  const Watch* watch = detail::thread_state.watch;
  return watch != nullptr ? watch->max_depth() : kMaxExprDepth;
}

// The error an evaluation stopped by its watch gives. It never reaches a
// caller: whoever made the watch reports the interruption instead.
std::string interrupted_message();

}  // namespace tovarn::xpath
