// First-store-wins process-wide caches.
//
// A cell starts empty. Whoever finds it empty computes a value and tries to
// publish it with one compare-and-swap; a loser discards its own value and
// uses the winner's. Nobody waits, so a cell may be filled again from inside
// its own initialiser (re-entry) without deadlock; every reader sees the same
// object once one is stored.
#pragma once

#include <atomic>

namespace ostrevane {

template <class T>
class OnceCell {
 public:
  constexpr OnceCell() = default;
  OnceCell(const OnceCell&) = delete;
  OnceCell& operator=(const OnceCell&) = delete;

  T* get() const noexcept { return slot_.load(std::memory_order_acquire); }

  // Stores `fresh` if the cell is empty and returns the stored pointer. When
  // another value was stored first, `discard(fresh)` runs and the stored one
  // is returned.
  template <class Discard>
  T* publish(T* fresh, Discard&& discard) noexcept {
    T* expected = nullptr;
    if (slot_.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
      return fresh;
    }
    discard(fresh);
    return expected;
  }

 private:
  std::atomic<T*> slot_{nullptr};
};

}  // namespace ostrevane
