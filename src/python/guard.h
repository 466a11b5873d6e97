#pragma once
// The guard every entry point runs in: no C++ exception reaches CPython.

#include <Python.h>

#include <exception>
#include <new>

#include "python/exceptions.h"
#include "python/ref.h"

namespace tovarn::python {

// Runs `work` (which returns a Ref) and hands its reference to CPython. An
// escaping exception unwinds the call's temporaries and borrows first, then
// raises MemoryError for std::bad_alloc and PanicException for anything else.
template <class Work>
PyObject* guard(Work&& work) noexcept {
  try {
    return work().release();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& fault) {
    raise_panic(fault.what());
  } catch (...) {
    raise_panic("an internal fault of unknown kind");
  }
  return nullptr;
}

}  // namespace tovarn::python
