// Errors are values: every internal operation returns std::expected<T, E>,
// where E is the stage's own error record. Nothing below src/ffi throws on
// purpose; only std::bad_alloc may escape, and the entry guard turns it into
// MemoryError.
#pragma once

#include <expected>
#include <type_traits>
#include <utility>

namespace ostrevane {

template <class T, class E>
using Result = std::expected<T, E>;

namespace detail {

// The value of a successful result for OSV_TRY; nothing for expected<void, E>.
template <class X>
auto osv_try_value(X&& result) {
  using T = typename std::remove_cvref_t<X>::value_type;
  if constexpr (!std::is_void_v<T>) return T(std::move(*result));
}

}  // namespace detail

}  // namespace ostrevane

// Propagates the error of an expected-valued expression, else yields its
// value (or nothing, for expected<void, E>). Uses a GNU statement
// expression, which g++ and clang both support.
#define OSV_TRY(expr)                                                   \
  ({                                                                    \
    auto&& osv_try_result_ = (expr);                                    \
    if (!osv_try_result_) [[unlikely]]                                  \
      return std::unexpected(std::move(osv_try_result_).error());       \
    ::ostrevane::detail::osv_try_value(osv_try_result_);                \
  })
