// The represent road's address set against std::set, through inserts and
// erases that make probe runs wrap around the table and shift back.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>

#include "ffi/represent/address_set.hpp"

namespace ostrevane::ffi {
namespace {

TEST(AddressSet, AgreesWithStdSet) {
  std::mt19937_64 rng(7);
  for (const std::uint64_t spread :
       {std::uint64_t{64}, std::uint64_t{4096}, std::uint64_t{1} << 40}) {
    AddressSet set;
    std::set<std::uint64_t> expected;
    for (int step = 0; step < 20000; ++step) {
      // 16-byte aligned like objects, never 0.
      const std::uint64_t address = 16 * (1 + rng() % spread);
      switch (rng() % 3) {
        case 0:
        case 1:
          EXPECT_EQ(set.insert(address), expected.insert(address).second);
          break;
        case 2:
          set.erase(address);
          expected.erase(address);
          break;
      }
      ASSERT_EQ(set.size(), expected.size());
      ASSERT_EQ(set.empty(), expected.empty());
      const std::uint64_t probe = 16 * (1 + rng() % spread);
      ASSERT_EQ(set.contains(probe), expected.count(probe) == 1) << step;
    }
    for (const std::uint64_t address : expected) EXPECT_TRUE(set.contains(address));
  }
}

TEST(AddressSet, EmptySetAnswersWithoutTable) {
  AddressSet set;
  EXPECT_FALSE(set.contains(16));
  set.erase(16);
  EXPECT_TRUE(set.empty());
}

}  // namespace
}  // namespace ostrevane::ffi
