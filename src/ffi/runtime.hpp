// The Python-facing runtime every module function stands on: one owner type
// for PyObject* references, the record of whether this thread holds the
// interpreter lock, a scoped release of the lock, and the queue of reference
// releases deferred while the lock was not held.
//
// Lock accounting: every entry from the interpreter (see entry_guard.hpp)
// raises a per-thread counter; ReleasedGil saves it and sets it to 0 for the
// stretch that runs without the lock. A PyRef destroyed while the counter is 0
// cannot touch the reference count, so it queues the object; the queue is
// emptied the next time an entry starts or ReleasedGil takes the lock back.
#pragma once

#include <atomic>
#include <utility>

#include "ffi/compat.hpp"

namespace ostrevane::ffi {

namespace detail {
extern thread_local int t_gil_depth;
void release_deferred_slow() noexcept;
extern std::atomic<bool> g_has_deferred;
void defer_decref(PyObject* obj) noexcept;
}  // namespace detail

// True when this thread runs inside an entry of the module with the lock held.
inline bool gil_held_here() noexcept { return detail::t_gil_depth > 0; }

// Releases references queued while the lock was not held. Lock held.
inline void release_deferred() noexcept {
  if (detail::g_has_deferred.load(std::memory_order_acquire)) [[unlikely]] {
    detail::release_deferred_slow();
  }
}

// Owner of one strong reference (or none).
class PyRef {
 public:
  constexpr PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.obj_, nullptr));
    return *this;
  }
  ~PyRef() { reset(); }

  // Takes over a new reference (NULL allowed).
  [[nodiscard]] static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Adds a reference to a borrowed object (NULL allowed).
  [[nodiscard]] static PyRef borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }

  [[nodiscard]] PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

  // Hands the reference to the caller (a new reference, or NULL).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }

  // Drops the held reference (deferred when the lock is not held here) and
  // takes over `obj`.
  void reset(PyObject* obj = nullptr) noexcept {
    PyObject* old = std::exchange(obj_, obj);
    if (old == nullptr) return;
    if (detail::t_gil_depth > 0) [[likely]] {
      Py_DECREF(old);
    } else {
      detail::defer_decref(old);
    }
  }

 private:
  explicit PyRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

// Runs the rest of a scope without the interpreter lock. Only data Python
// cannot see may be touched inside: no PyObject* may be used, and no Python
// error may be raised until the scope ends.
class ReleasedGil {
 public:
  ReleasedGil() noexcept : saved_depth_(detail::t_gil_depth) {
    detail::t_gil_depth = 0;
    state_ = PyEval_SaveThread();
  }
  ~ReleasedGil() {
    PyEval_RestoreThread(state_);
    detail::t_gil_depth = saved_depth_;
    release_deferred();
  }
  ReleasedGil(const ReleasedGil&) = delete;
  ReleasedGil& operator=(const ReleasedGil&) = delete;

  // Takes the lock back for a stretch inside a ReleasedGil scope (a callback
  // from code running without it), and lets it go again at the end.
  class Retaken {
   public:
    explicit Retaken(ReleasedGil& released) noexcept : released_(released) {
      PyEval_RestoreThread(released_.state_);
      detail::t_gil_depth = released_.saved_depth_;
      release_deferred();
    }
    ~Retaken() {
      detail::t_gil_depth = 0;
      released_.state_ = PyEval_SaveThread();
    }
    Retaken(const Retaken&) = delete;
    Retaken& operator=(const Retaken&) = delete;

   private:
    ReleasedGil& released_;
  };

 private:
  int saved_depth_;
  PyThreadState* state_;
};

// Keeps the cyclic collector off for the rest of a scope that builds a result,
// then puts back what the caller had, on every path. The objects being built
// are acyclic until returned, so a collection could only re-walk them (and
// whatever else is alive), which on a growing result costs far more than the
// building. Lock held at both ends.
class PausedCollector {
 public:
  PausedCollector() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~PausedCollector() {
    if (was_enabled_) PyGC_Enable();
  }
  PausedCollector(const PausedCollector&) = delete;
  PausedCollector& operator=(const PausedCollector&) = delete;

 private:
  bool was_enabled_;
};

// Marks one entry from the interpreter on this thread (lock held).
class GilEntry {
 public:
  GilEntry() noexcept {
    ++detail::t_gil_depth;
    release_deferred();
  }
  ~GilEntry() { --detail::t_gil_depth; }
  GilEntry(const GilEntry&) = delete;
  GilEntry& operator=(const GilEntry&) = delete;
};

}  // namespace ostrevane::ffi
