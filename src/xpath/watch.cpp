#include "xpath/watch.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>

namespace tovarn::xpath {

namespace detail {
constinit thread_local ThreadState thread_state;
}

namespace {

// Steps between looks at the clock: a step is one evaluation or one parse, a
// few nanoseconds to microseconds. Until a first poll due sooner than the
// usual interval, looks come more often: one due at 20 us came at 30 to
// 150 us with a look every 1024 steps, at 20 to 40 us every 256.
constexpr std::int64_t kStepsPerLook = 1024;
constexpr std::int64_t kStepsPerEarlyLook = 256;

// Stack one nesting level takes at most (an evaluated predicate in a path in
// a predicate, the costliest chain), and what is kept free below the deepest
// level for the calls a level makes that do not nest (functions, the
// allocator, the C library). Sanitizers make frames several times larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uintptr_t kLevelBytes = 8192;
constexpr std::uintptr_t kReserveBytes = 96 * 1024;
#else
constexpr std::uintptr_t kLevelBytes = 2048;
constexpr std::uintptr_t kReserveBytes = 24 * 1024;
#endif

// The fine clock: the coarse one moves in steps of a few milliseconds, longer
// than a first poll may wait. A read costs about 30 ns, once per look.
std::int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The lowest address of this thread's stack, measured once per thread: the
// bounds of a thread never change, and measuring the main thread's reads
// /proc.
std::uintptr_t stack_low_end() {
  constinit thread_local std::uintptr_t low = 0;
  if (low == 0) {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* address = nullptr;
      std::size_t size = 0;
      if (pthread_attr_getstack(&attr, &address, &size) == 0)
        low = reinterpret_cast<std::uintptr_t>(address);
      pthread_attr_destroy(&attr);
    }
    if (low == 0) low = 1;  // unknown: the depth limit alone applies
  }
  return low;
}

}  // namespace

Watch::Watch(Poll poll, void* data, std::int64_t first_poll_ns)
    : poll_(poll),
      data_(data),
      previous_(detail::thread_state.watch),
      countdown_(first_poll_ns < kPollEveryNs ? kStepsPerEarlyLook : kStepsPerLook),
      next_poll_ns_(now_ns() + first_poll_ns),
      early_(first_poll_ns < kPollEveryNs) {
  const std::uintptr_t low = stack_low_end();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (low > 1 && here > low) {
    floor_ = low + std::min(here - low, kReserveBytes);
    const std::uintptr_t left = here - low > kReserveBytes ? here - low - kReserveBytes : 0;
    max_depth_ = static_cast<int>(std::clamp<std::uintptr_t>(left / kLevelBytes, 1, kMaxExprDepth));
  }
  detail::thread_state.watch = this;
}

Watch::~Watch() { detail::thread_state.watch = previous_; }

bool Watch::due() {
  countdown_ = early_ ? kStepsPerEarlyLook : kStepsPerLook;
  if (stopped_) return true;
  const std::int64_t now = now_ns();
  if (now < next_poll_ns_) return false;
  countdown_ = kStepsPerLook;
  early_ = false;
  next_poll_ns_ = now + kPollEveryNs;
  return poll_now();
}

bool Watch::poll_now() {
  if (!stopped_ && poll_ != nullptr && poll_(data_)) stopped_ = true;
  return stopped_;
}

std::string interrupted_message() { return "interrupted"; }

}  // namespace tovarn::xpath
