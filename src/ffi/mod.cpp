// Module start-up for _ostrevane.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_ostrevane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__ostrevane() { return PyModuleDef_Init(&module_def); }
