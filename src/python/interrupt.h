#pragma once
// Engine work that a signal handler can end: the interpreter's pending signals
// are checked every few milliseconds of work, and a handler that raises stops
// the call, which then raises that exception.

#include <Python.h>

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "xpath/watch.h"

namespace tovarn::python {

namespace detail {

// Handlers run on the main thread alone; elsewhere nothing needs checking.
bool on_main_thread();

inline bool check_signals(void*) { return PyErr_CheckSignals() != 0; }

// The interpreter's lock over one call that may leave it. A call keeps the
// lock for its first kKeepLockNs and leaves it at its first poll after that,
// taking it back for the moment of each later check of signals (on the main
// thread) and at the end. Handing the lock over costs about 20 us once several
// threads want it, more than most calls take: short calls on 8 threads ran at
// 0.27 times the speed of one when each handed it over, at 1.0 keeping it.
// Keeping it that long costs a call that outlasts it no more than one
// hand-over. A call known to be long leaves the lock at once, and so does a
// call that starts while another waits to take it back: kept, the lock is
// never given up on its own, and the waiter would sit out the interpreter's
// switch interval (5 ms).
class CallLock {
 public:
  static constexpr std::int64_t kKeepLockNs = 20'000;

  CallLock(bool long_call, bool main_thread);
  ~CallLock();
  CallLock(const CallLock&) = delete;
  CallLock& operator=(const CallLock&) = delete;

  // How long the Watch waits for its first poll: kKeepLockNs while the lock
  // is kept, the usual interval once it is left.
  std::int64_t first_poll_ns() const;
  // A Watch's poll; a handler that raises leaves the lock held for its
  // exception.
  static bool poll(void* data);

 private:
  void release();
  void take_back();

  bool main_thread_;
  PyThreadState* saved_ = nullptr;  // while released
};

}  // namespace detail

// The result of `work` (run with the interpreter's lock held), or nullopt when
// a signal handler raised meanwhile; its exception is then set.
template <class Work>
std::optional<std::invoke_result_t<Work&>> watched(Work&& work) {
  xpath::Watch watch(detail::on_main_thread() ? &detail::check_signals : nullptr, nullptr);
  auto result = work();
  if (watch.stopped()) return std::nullopt;
  return result;
}

// The same with the lock left to other threads while `work` runs, but for its
// first moments unless `long_call` (a file to read, a large text): see
// CallLock. `work` must not touch Python objects.
template <class Work>
std::optional<std::invoke_result_t<Work&>> watched_without_lock(bool long_call, Work&& work) {
  bool stopped = false;
  std::optional<std::invoke_result_t<Work&>> result;
  {
    detail::CallLock lock(long_call, detail::on_main_thread());
    xpath::Watch watch(&detail::CallLock::poll, &lock, lock.first_poll_ns());
    result.emplace(work());
    stopped = watch.stopped();
  }
  if (stopped) return std::nullopt;
  return result;
}

}  // namespace tovarn::python
