#pragma once
// The one owner of Python references in this module.

#include <Python.h>

#include <utility>

namespace tovarn::python {

// Holds one strong reference, or none. Move-only; an empty Ref returned by a
// function that makes a new reference means the Python error is set.
class Ref {
 public:
  Ref() = default;
  // Takes over a new reference (or null).
  static Ref steal(PyObject* object) { return Ref(object); }
  // Adds a reference of its own to a borrowed one.
  static Ref borrow(PyObject* object) {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref old(std::exchange(object_, std::exchange(other.object_, nullptr)));
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // Hands the reference to the caller (to CPython, or to a stealing call).
  [[nodiscard]] PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit Ref(PyObject* object) : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace tovarn::python
