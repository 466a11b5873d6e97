#include "python/exceptions.h"

namespace tovarn::python {
namespace {

// Created on the first fault and kept for the life of the process, like the
// module itself.
PyObject* panic_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException",
        "An internal fault interrupted a call of tovarn; the interpreter goes on running.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

}  // namespace

Ref new_exception(PyObject* type, std::string_view message) {
  Ref text = Ref::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return {};
  return Ref::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
}

void set_error(PyObject* type, std::string_view message) {
  Ref exception = new_exception(type, message);
  if (exception) PyErr_SetObject(type, exception.get());
}

void raise_failure(const Failure& failure) {
  PyObject* type = nullptr;
  switch (failure.type) {
    case Raise::runtime_error:
      type = PyExc_RuntimeError;
      break;
    case Raise::value_error:
      type = PyExc_ValueError;
      break;
  }
  set_error(type, failure.message);
}

void raise_panic(std::string_view message) {
  if (PyObject* type = panic_type()) set_error(type, message);
}

}  // namespace tovarn::python
