// with_stack_guard: the one place that bounds native stack use.
//
// Every recursive walk in the library (decoder, Value copies and comparisons,
// encoders, composer) runs its recursive step through with_stack_guard. While
// more than limits::kStackGuardThreshold bytes of the current stack remain,
// the step runs directly; otherwise it runs on a freshly mapped, guard-paged
// segment of limits::kStackSegmentSize bytes that is unmapped when the step
// returns. A value, or an exception thrown by the step, is carried back across
// the switch, so callers see the same result either way.
//
// The thread's stack bounds are read once per thread (pthread_getattr_np) and
// kept in thread-local storage; inside a segment the bounds are the segment's.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "util/limits.hpp"

namespace ostrevane {

namespace detail {

// Bytes left between the caller's frame and the current stack's limit, or 0
// when the limit is unknown (which forces a fresh segment).
std::size_t stack_remaining() noexcept;

// Runs fn(ctx) on a new segment. fn must not throw.
void run_on_new_segment(void (*fn)(void*) noexcept, void* ctx);

}  // namespace detail

// True when the current stack's limit is known and no more than `headroom`
// bytes of it remain. For entries that cannot move to a fresh segment
// because the recursion they take part in runs in frames that are not ours
// (the interpreter calling back into a method for each level): they refuse
// instead. An unknown limit answers false, leaving the caller's own depth
// checks to decide.
[[nodiscard]] inline bool stack_headroom_below(std::size_t headroom) noexcept {
  const std::size_t left = detail::stack_remaining();
  return left != 0 && left <= headroom;
}

template <class F>
auto with_stack_guard(F&& step) -> std::invoke_result_t<F&> {
  using R = std::invoke_result_t<F&>;
  if (detail::stack_remaining() >= limits::kStackGuardThreshold) [[likely]] {
    return step();
  }
  struct Frame {
    F* step;
    std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> result{};
    std::exception_ptr error;
  } frame{&step, {}, {}};
  detail::run_on_new_segment(
      [](void* p) noexcept {
        auto* fr = static_cast<Frame*>(p);
        try {
          if constexpr (std::is_void_v<R>) {
            (*fr->step)();
          } else {
            fr->result.emplace((*fr->step)());
          }
        } catch (...) {
          fr->error = std::current_exception();
        }
      },
      &frame);
  if (frame.error) std::rethrow_exception(frame.error);
  if constexpr (!std::is_void_v<R>) return std::move(*frame.result);
}

}  // namespace ostrevane
