#pragma once
// What the entry points of the module functions and of Session share.

#include <Python.h>

#include <span>
#include <utility>

#include "python/entry.h"
#include "python/exceptions.h"
#include "python/ref.h"
#include "python/to_python.h"

namespace tovarn::python {

// A body's result as a Python object, or its failure raised.
template <class T>
Ref deliver(const Outcome<T>& outcome) {
  if (!outcome) {
    raise_failure(outcome.error());
    return {};
  }
  return to_python(*outcome);
}

// The same for a result the caller gives up, so that a conversion can let go
// of each text once it is a str.
template <class T>
Ref deliver(Outcome<T>&& outcome) {
  if (!outcome) {
    raise_failure(outcome.error());
    return {};
  }
  return to_python(std::move(*outcome));
}

// Method tables hold every calling convention as PyCFunction; the detour
// through void(*)(void) keeps -Wcast-function-type quiet.
template <class Function>
PyCFunction as_method(Function* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

// check_form, submission_findings, eval_expression, in the order the module
// adds them.
std::span<PyMethodDef> module_functions();

// The class Session, a heap type made anew for each module.
Ref new_session_type();

}  // namespace tovarn::python
