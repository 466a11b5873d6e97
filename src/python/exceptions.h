#pragma once
// Raising Python exceptions from texts.

#include <Python.h>

#include <string_view>

#include "python/entry.h"
#include "python/ref.h"

namespace tovarn::python {

// An exception of `type` with the message as its only argument. Texts that
// are not valid UTF-8 are decoded with replacement, so the intended type is
// what gets raised.
Ref new_exception(PyObject* type, std::string_view message);

// Raises that exception.
void set_error(PyObject* type, std::string_view message);

// The one mapping from a body's failure to its exception.
void raise_failure(const Failure& failure);

// Raises pyo3_runtime.PanicException, a BaseException, so that a plain
// `except Exception` does not swallow an internal fault.
void raise_panic(std::string_view message);

}  // namespace tovarn::python
