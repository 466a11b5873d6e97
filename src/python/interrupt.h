#pragma once
// Engine work that a signal handler can end: the interpreter's pending signals
// are checked every few milliseconds of work, and a handler that raises stops
// the call, which then raises that exception.

#include <Python.h>

#include <optional>
#include <type_traits>
#include <utility>

#include "xpath/watch.h"

namespace tovarn::python {

namespace detail {

// Handlers run on the main thread alone; elsewhere nothing needs checking.
bool on_main_thread();

inline bool check_signals(void*) { return PyErr_CheckSignals() != 0; }

// The thread state put aside while the lock is released; checking takes the
// lock back for the moment of the check.
inline bool check_signals_released(void* data) {
  auto* state = static_cast<PyThreadState**>(data);
  PyEval_RestoreThread(*state);
  const bool raised = PyErr_CheckSignals() != 0;
  *state = PyEval_SaveThread();
  return raised;
}

class ReleasedLock {
 public:
  ReleasedLock() : state_(PyEval_SaveThread()) {}
  ~ReleasedLock() { PyEval_RestoreThread(state_); }
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;
  PyThreadState** state() { return &state_; }

 private:
  PyThreadState* state_;
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

// The same with the lock released while `work` runs, so that other threads
// go on; `work` must not touch Python objects.
template <class Work>
std::optional<std::invoke_result_t<Work&>> watched_without_lock(Work&& work) {
  const bool main = detail::on_main_thread();
  bool stopped = false;
  std::optional<std::invoke_result_t<Work&>> result;
  {
    detail::ReleasedLock released;
    xpath::Watch watch(main ? &detail::check_signals_released : nullptr, released.state());
    result.emplace(work());
    stopped = watch.stopped();
  }
  if (stopped) return std::nullopt;
  return result;
}

}  // namespace tovarn::python
