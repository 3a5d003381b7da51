// The entry guard: the one place where the module's results and errors become
// what the interpreter expects.
//
// Every entry from the interpreter (the module's execution step, the module
// functions, and later every method and slot) runs its body through
// guarded_call or guarded_status. The guard records that this thread holds
// the lock, applies deferred reference releases, runs the body, and then:
// - a value: hands over its reference;
// - a PyError: raises it (package classes are fetched here, lazily);
// - std::bad_alloc: raises MemoryError (running out of memory never aborts);
// - any other C++ exception (a broken invariant): raises PanicException with
//   its text.
// No C++ exception leaves a guard.
#pragma once

#include <exception>
#include <new>

#include "ffi/errors.hpp"
#include "ffi/runtime.hpp"

namespace ostrevane::ffi {

// A broken invariant found in src/ffi where returning PyError::fault is
// awkward; the guard raises it as PanicException.
class InternalFault : public std::exception {
 public:
  explicit InternalFault(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

namespace detail {
inline void raise_current_cxx_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown internal fault");
  }
}
}  // namespace detail

// For entries returning an object: `body()` yields PyResult<PyRef>. Returns a
// new reference, or NULL with the exception set.
template <class Body>
PyObject* guarded_call(Body&& body) noexcept {
  GilEntry entry;
  try {
    PyResult<PyRef> result = body();
    if (result) [[likely]] {
      return result->release();
    }
    std::move(result.error()).raise();
  } catch (...) {
    detail::raise_current_cxx_exception();
  }
  return nullptr;
}

// For entries returning a status: `body()` yields PyResult<void>. Returns 0,
// or -1 with the exception set.
template <class Body>
int guarded_status(Body&& body) noexcept {
  GilEntry entry;
  try {
    PyResult<void> result = body();
    if (result) [[likely]] {
      return 0;
    }
    std::move(result.error()).raise();
  } catch (...) {
    detail::raise_current_cxx_exception();
  }
  return -1;
}

namespace detail {
// Runs `body()` (yielding PyResult<T>) under the guard; `ok` turns a value
// into what the slot returns, `failed` is what it returns with the
// exception set.
template <class R, class T, class Body, class Ok>
R guarded_slot(Body&& body, Ok&& ok, R failed) noexcept {
  GilEntry entry;
  try {
    PyResult<T> result = body();
    if (result) [[likely]] {
      return ok(*result);
    }
    std::move(result.error()).raise();
  } catch (...) {
    raise_current_cxx_exception();
  }
  return failed;
}
}  // namespace detail

// For length slots: `body()` yields PyResult<Py_ssize_t>. Returns the length,
// or -1 with the exception set.
template <class Body>
Py_ssize_t guarded_size(Body&& body) noexcept {
  return detail::guarded_slot<Py_ssize_t, Py_ssize_t>(
      body, [](Py_ssize_t n) { return n; }, Py_ssize_t{-1});
}

// For predicate slots (__contains__): `body()` yields PyResult<bool>.
// Returns 1 or 0, or -1 with the exception set.
template <class Body>
int guarded_predicate(Body&& body) noexcept {
  return detail::guarded_slot<int, bool>(body, [](bool b) { return b ? 1 : 0; }, -1);
}

}  // namespace ostrevane::ffi
