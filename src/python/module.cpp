// PyInit_tovarn: the module is made once per process and kept.

#include <atomic>

#include "python/frame.h"
#include "python/guard.h"
#include "python/messages.h"

namespace tovarn::python {
namespace {

// Per-module state size 0 rather than -1: the interpreter then calls the
// entry point again on a re-import or in a sub-interpreter, instead of
// copying the first module, and the second call can refuse.
PyModuleDef definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tovarn",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// The module of the first successful initialisation, for the process's life.
std::atomic<PyObject*> the_module{nullptr};

// Appends the name to __all__ (made on first use), then sets the attribute.
bool add(PyObject* module, const char* name, Ref value) {
  if (!value) return false;
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  Ref key = to_python(std::string_view(name));
  return key && PyList_Append(all.get(), key.get()) == 0 &&
         PyObject_SetAttrString(module, name, value.get()) == 0;
}

Ref make_module() {
  Ref module = Ref::steal(PyModule_Create(&definition));
  if (!module) return {};
  Ref module_name = Ref::steal(PyModule_GetNameObject(module.get()));
  // TOVARN_VERSION is defined by the build, from pyproject.toml.
  if (!module_name || !add(module.get(), "__version__", to_python(std::string_view(TOVARN_VERSION)))) {
    return {};
  }
  for (PyMethodDef& function : module_functions()) {
    Ref object = Ref::steal(PyCFunction_NewEx(&function, module.get(), module_name.get()));
    if (!add(module.get(), function.ml_name, std::move(object))) return {};
  }
  if (!add(module.get(), "Session", new_session_type())) return {};
  return module;
}

}  // namespace
}  // namespace tovarn::python

PyMODINIT_FUNC PyInit_tovarn(void) {
  using namespace tovarn::python;
  return guard([]() -> Ref {
    if (the_module.load() != nullptr) {
      set_error(PyExc_ImportError, msg::text(msg::Text::reinitialised));
      return {};
    }
    Ref module = make_module();
    if (!module) return {};
    // The process keeps one reference for good; the caller gets its own.
    the_module.store(Ref::borrow(module.get()).release());
    return module;
  });
}
