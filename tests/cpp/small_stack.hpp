// Test-only: runs a function on a thread with a small native stack, so a deep
// recursion survives only if with_stack_guard moves it onto fresh segments.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <functional>

namespace ostrevane::testing {

inline constexpr std::size_t kSmallStack = 256 * 1024;

inline void run_on_small_stack(const std::function<void()>& fn) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kSmallStack), 0);
  pthread_t thread;
  auto* task = new std::function<void()>(fn);
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* p) -> void* {
                  auto* f = static_cast<std::function<void()>*>(p);
                  (*f)();
                  delete f;
                  return nullptr;
                },
                task),
            0);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

}  // namespace ostrevane::testing
