#include <Python.h>

// Placeholder module until the module frame lands.
static PyModuleDef tovarn_module = {PyModuleDef_HEAD_INIT, "tovarn", nullptr, -1, nullptr,
                                    nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_tovarn(void) { return PyModule_Create(&tovarn_module); }
