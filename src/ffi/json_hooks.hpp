// Test-only entry point of `to_json` (see json_hooks.cpp), compiled in only
// with the test_hooks build option. Never part of __all__.
#pragma once

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// Adds the hooks to the module when they are compiled in; else nothing.
[[nodiscard]] PyResult<void> add_json_hooks(PyObject* module);

}  // namespace ostrevane::ffi
