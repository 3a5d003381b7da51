// One way to build a Python list of known length from converted items,
// shared by the Value and the node-tree converters.
#pragma once

#include <cstddef>

#include "ffi/runtime.hpp"

namespace ostrevane::ffi::detail {

// A new list of `count` items, item i being `make(i)`: a new reference, or
// nullptr with the Python error set, which ends the build. New reference, or
// nullptr.
template <typename Make>
PyObject* build_list(std::size_t count, Make&& make) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* item = make(i);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace ostrevane::ffi::detail
