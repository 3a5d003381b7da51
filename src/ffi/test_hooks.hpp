// Test-only entry points, compiled in only when the build option test_hooks
// is on: they raise the exceptions that the error converters build from
// records the core cannot produce yet, and drive the entry guard's handling
// of internal faults. Never part of __all__.
#pragma once

#include <span>

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// Adds the hooks to the module when they are compiled in; else nothing.
[[nodiscard]] PyResult<void> add_test_hooks(PyObject* module);

// Adds each function of `hooks` to the module under its own name.
[[nodiscard]] PyResult<void> add_hook_functions(PyObject* module, std::span<PyMethodDef> hooks);

}  // namespace ostrevane::ffi
