#include "util/stack_guard.hpp"

#include <pthread.h>

#include <boost/context/fiber.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>
#include <cstdint>

namespace ostrevane::detail {
namespace {

// Lowest usable address of the stack this thread is running on now; 0 when
// unknown. Swapped while a step runs on a segment.
thread_local std::uintptr_t t_stack_limit = 0;
thread_local bool t_limit_read = false;

// Headroom left untouched at the bottom of a segment for the switch itself
// and for signal frames.
constexpr std::uintptr_t kSegmentSlack = 64 * 1024;

std::uintptr_t read_thread_stack_limit() noexcept {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* addr = nullptr;
  std::size_t size = 0;
  const int rc = pthread_attr_getstack(&attr, &addr, &size);
  std::size_t guard = 0;
  pthread_attr_getguardsize(&attr, &guard);
  pthread_attr_destroy(&attr);
  if (rc != 0 || addr == nullptr) return 0;
  return reinterpret_cast<std::uintptr_t>(addr) + guard;
}

}  // namespace

std::size_t stack_remaining() noexcept {
  if (!t_limit_read) [[unlikely]] {
    t_stack_limit = read_thread_stack_limit();
    t_limit_read = true;
  }
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (t_stack_limit == 0 || here <= t_stack_limit) return 0;
  return here - t_stack_limit;
}

void run_on_new_segment(void (*fn)(void*) noexcept, void* ctx) {
  namespace bc = boost::context;
  if (!t_limit_read) (void)stack_remaining();
  const std::uintptr_t saved_limit = t_stack_limit;
  bc::fiber segment(
      std::allocator_arg, bc::protected_fixedsize_stack(limits::kStackSegmentSize),
      [&](bc::fiber&& caller) {
        const auto top = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        t_stack_limit = top - limits::kStackSegmentSize + kSegmentSlack;
        fn(ctx);
        t_stack_limit = saved_limit;
        return std::move(caller);
      });
  std::move(segment).resume();
  t_stack_limit = saved_limit;
}

}  // namespace ostrevane::detail
