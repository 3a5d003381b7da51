// The shared runtime: the stack guard, the result macro and the once cell.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "small_stack.hpp"
#include "util/once_cell.hpp"
#include "util/result.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

constexpr std::uint64_t kDeep = 1'000'000;
using testing::run_on_small_stack;

// A recursion with a real frame per level (the array keeps the compiler from
// turning it into a loop).
std::uint64_t count_down(std::uint64_t n) {
  if (n == 0) return 0;
  volatile char pad[64];
  pad[0] = static_cast<char>(n);
  const std::uint64_t below = with_stack_guard([&] { return count_down(n - 1); });
  return below + 1 + static_cast<std::uint64_t>(pad[0] - static_cast<char>(n));
}

void throw_at_bottom(std::uint64_t n) {
  if (n == 0) throw std::runtime_error("bottom reached");
  with_stack_guard([&] { throw_at_bottom(n - 1); });
}

Result<std::uint64_t, std::string> fail_at_bottom(std::uint64_t n) {
  if (n == 0) return std::unexpected(std::string("no value at the bottom"));
  const std::uint64_t below = OSV_TRY(with_stack_guard([&] { return fail_at_bottom(n - 1); }));
  return below + 1;
}

TEST(StackGuard, MillionLevelsOnSmallThreadStack) {
  std::uint64_t depth = 0;
  run_on_small_stack([&] { depth = count_down(kDeep); });
  EXPECT_EQ(depth, kDeep);
}

TEST(StackGuard, ExceptionCrossesSegments) {
  std::string caught;
  run_on_small_stack([&] {
    try {
      throw_at_bottom(kDeep);
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  EXPECT_EQ(caught, "bottom reached");
}

TEST(StackGuard, ErrorValueCrossesSegments) {
  Result<std::uint64_t, std::string> result = 0;
  run_on_small_stack([&] { result = fail_at_bottom(kDeep); });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "no value at the bottom");
}

TEST(StackGuard, ShallowCallsRunInPlace) {
  EXPECT_EQ(count_down(10), 10u);
  EXPECT_EQ(with_stack_guard([] { return std::string("value"); }), "value");
}

Result<void, std::string> may_fail(bool fail) {
  if (fail) return std::unexpected(std::string("failed"));
  return {};
}

Result<int, std::string> after_void(bool fail) {
  OSV_TRY(may_fail(fail));
  return 7;
}

TEST(Result, TryPropagatesVoidResults) {
  EXPECT_EQ(after_void(false), 7);
  EXPECT_EQ(after_void(true).error(), "failed");
}

TEST(OnceCell, FirstStoreWins) {
  OnceCell<int> cell;
  int a = 1, b = 2;
  int discarded = 0;
  EXPECT_EQ(cell.get(), nullptr);
  EXPECT_EQ(cell.publish(&a, [&](int*) { ++discarded; }), &a);
  EXPECT_EQ(cell.publish(&b, [&](int* p) { discarded += *p; }), &a);
  EXPECT_EQ(discarded, 2);
  EXPECT_EQ(cell.get(), &a);
}

}  // namespace
}  // namespace ostrevane
