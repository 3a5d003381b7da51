// Test-only entry points of write-back (see write_back_hooks.cpp), compiled
// in only with the test_hooks build option. Never part of __all__.
#pragma once

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// Adds the hooks to the module when they are compiled in; else nothing.
[[nodiscard]] PyResult<void> add_write_back_hooks(PyObject* module);

}  // namespace ostrevane::ffi
