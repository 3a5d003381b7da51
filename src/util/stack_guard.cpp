#include "util/stack_guard.hpp"

#include <pthread.h>

#include <boost/context/fiber.hpp>
#include <boost/context/preallocated.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define OSV_ASAN_FIBERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSV_ASAN_FIBERS 1
#endif
#endif
#ifdef OSV_ASAN_FIBERS
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

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
  bc::protected_fixedsize_stack allocator(limits::kStackSegmentSize);
  const bc::stack_context segment_stack = allocator.allocate();
#ifdef OSV_ASAN_FIBERS
  // AddressSanitizer must be told of every switch between stacks, or it
  // misreads unwinding on the segment as a stack overflow
  // (StackGuard.ExceptionCrossesSegments under make asan).
  const void* caller_bottom = nullptr;
  std::size_t caller_size = 0;
  void* caller_fake_stack = nullptr;
#endif
  bc::fiber segment(
      std::allocator_arg,
      bc::preallocated(segment_stack.sp, segment_stack.size, segment_stack), allocator,
      [&](bc::fiber&& caller) {
#ifdef OSV_ASAN_FIBERS
        __sanitizer_finish_switch_fiber(nullptr, &caller_bottom, &caller_size);
#endif
        const auto top = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        t_stack_limit = top - limits::kStackSegmentSize + kSegmentSlack;
        fn(ctx);
        t_stack_limit = saved_limit;
#ifdef OSV_ASAN_FIBERS
        __sanitizer_start_switch_fiber(nullptr, caller_bottom, caller_size);
#endif
        return std::move(caller);
      });
#ifdef OSV_ASAN_FIBERS
  __sanitizer_start_switch_fiber(&caller_fake_stack,
                                 static_cast<char*>(segment_stack.sp) - segment_stack.size,
                                 segment_stack.size);
#endif
  std::move(segment).resume();
#ifdef OSV_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(caller_fake_stack, nullptr, nullptr);
  // The segment's outermost frames never return (the fiber leaves by a
  // context switch), so their red zones stay poisoned after the segment is
  // unmapped; memory mapped there later (a Python arena) would then be
  // reported as a stack underflow.
  __asan_unpoison_memory_region(static_cast<char*>(segment_stack.sp) - segment_stack.size,
                                segment_stack.size);
#endif
  t_stack_limit = saved_limit;
}

}  // namespace ostrevane::detail
