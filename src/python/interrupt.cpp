#include "python/interrupt.h"

#include <atomic>

#include "python/ref.h"

namespace tovarn::python::detail {

namespace {
// Calls waiting to take the lock back.
constinit std::atomic<int> returning{0};
}  // namespace

CallLock::CallLock(bool long_call, bool main_thread) : main_thread_(main_thread) {
  if (long_call || returning.load(std::memory_order_relaxed) > 0) release();
}

CallLock::~CallLock() {
  if (saved_ != nullptr) take_back();
}

std::int64_t CallLock::first_poll_ns() const {
  return saved_ != nullptr ? xpath::Watch::kPollEveryNs : kKeepLockNs;
}

bool CallLock::poll(void* data) {
  auto& lock = *static_cast<CallLock*>(data);
  if (lock.main_thread_) {
    if (lock.saved_ != nullptr) lock.take_back();
    if (PyErr_CheckSignals() != 0) return true;
  }
  lock.release();
  return false;
}

void CallLock::release() {
  if (saved_ == nullptr) saved_ = PyEval_SaveThread();
}

void CallLock::take_back() {
  returning.fetch_add(1, std::memory_order_relaxed);
  PyEval_RestoreThread(saved_);
  returning.fetch_sub(1, std::memory_order_relaxed);
  saved_ = nullptr;
}

bool on_main_thread() {
  // Read once, with the lock held; 0 while unknown, when every thread checks.
  static unsigned long main_ident = 0;
  if (main_ident == 0) {
    Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    Ref main = threading ? Ref::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                         : Ref{};
    Ref ident = main ? Ref::steal(PyObject_GetAttrString(main.get(), "ident")) : Ref{};
    if (ident) main_ident = PyLong_AsUnsignedLong(ident.get());
    if (PyErr_Occurred()) {
      PyErr_Clear();
      main_ident = 0;
      return true;
    }
  }
  return PyThread_get_thread_ident() == main_ident;
}

}  // namespace tovarn::python::detail
