#include "ffi/runtime.hpp"

#include <mutex>
#include <vector>

namespace ostrevane::ffi::detail {

thread_local int t_gil_depth = 0;
std::atomic<bool> g_has_deferred{false};

namespace {

struct DeferredQueue {
  std::mutex mutex;
  std::vector<PyObject*> objects;
};

// Never destroyed: references may still be queued while the process exits.
DeferredQueue& deferred_queue() {
  static auto* queue = new DeferredQueue;
  return *queue;
}

}  // namespace

void defer_decref(PyObject* obj) noexcept {
  DeferredQueue& queue = deferred_queue();
  std::lock_guard lock(queue.mutex);
  try {
    queue.objects.push_back(obj);
  } catch (...) {
    // Out of memory while the lock is not held: leaking one reference is the
    // only safe choice left.
    return;
  }
  g_has_deferred.store(true, std::memory_order_release);
}

void release_deferred_slow() noexcept {
  std::vector<PyObject*> objects;
  {
    DeferredQueue& queue = deferred_queue();
    std::lock_guard lock(queue.mutex);
    objects.swap(queue.objects);
    g_has_deferred.store(false, std::memory_order_release);
  }
  // Outside the queue's mutex: a destructor may run Python code that defers
  // again.
  for (PyObject* obj : objects) Py_DECREF(obj);
}

}  // namespace ostrevane::ffi::detail
