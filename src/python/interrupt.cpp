#include "python/interrupt.h"

#include "python/ref.h"

namespace tovarn::python::detail {

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
