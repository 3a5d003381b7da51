// The shortest decimal digits that read back as a given double: of all the
// digit strings of least length that round to it, the closest to it (ties
// to an even last digit).
//
// The method: a double v = c * 2^q reads back from the numbers within half
// a unit (2^q / 2) of it; the ends are included when c is even. One 128-bit
// power of ten from pow10_table.hpp scales the interval so that its right
// end z has two digits more than v can need and its width d is below 1000.
// z / 1000 is then the one candidate of one digit fewer, and it lies inside
// when z mod 1000 is below d. Otherwise the result has full length: the
// scaled v rounded to the nearest whole number, found from the same product
// (its halfway cases checked exactly). No division by anything but
// constants, one multiplication in the common case.
//
// Input: a finite, nonzero double (its sign is ignored). Output: at most 17
// digits, which may end in zeros, and the power of ten they are scaled by.
#pragma once

#include <bit>
#include <cstdint>

#include "emit_util/detail/pow10_table.hpp"

namespace ostrevane::detail {

struct ShortestDigits {
  std::uint64_t significand;  // at most 17 digits, may end in zeros
  int exponent;               // value = significand * 10^exponent
};

namespace shortest {

inline constexpr int kMinQ = -1074;                 // exponent of the least subnormal
inline constexpr std::uint64_t kMinC = 1ULL << 52;  // significand of the least normal

// floor(e * log10(2)), floor(e * log10(2) - log10(4/3)) and
// floor(e * log2(10)), exact over the exponents a double can have.
constexpr int floor_log10_pow2(int e) noexcept {
  return static_cast<int>((e * 661'971'961'083LL) >> 41);
}
constexpr int floor_log10_three_quarters_pow2(int e) noexcept {
  return static_cast<int>((e * 661'971'961'083LL - 274'743'187'321LL) >> 41);
}
constexpr int floor_log2_pow10(int e) noexcept {
  return static_cast<int>((e * 913'124'641'741LL) >> 38);
}

using u128 = unsigned __int128;

inline const std::uint64_t* pow10_entry(int k) noexcept { return kPow10Table[k - kPow10MinK]; }

// Bits 128..191 of the 192-bit product x * g; `rest_zero` says whether bits
// 64..127 are all zero.
inline std::uint64_t upper_product(std::uint64_t x, const std::uint64_t* g, bool& rest_zero) noexcept {
  u128 r = static_cast<u128>(x) * g[0];
  r += static_cast<std::uint64_t>((static_cast<u128>(x) * g[1]) >> 64);
  rest_zero = static_cast<std::uint64_t>(r) == 0;
  return static_cast<std::uint64_t>(r >> 64);
}

// For the point 2^-beta above bit 128 of x * g: the parity of its whole
// part, and (`whole`) whether it has no fraction, which is exact where a
// halfway case can occur.
inline bool parity_of_scaled(std::uint64_t x, const std::uint64_t* g, int beta, bool& whole) noexcept {
  const u128 low = static_cast<u128>(x) * g[1];
  const auto low0 = static_cast<std::uint64_t>(low);
  const std::uint64_t high = x * g[0] + static_cast<std::uint64_t>(low >> 64);
  whole = ((high << beta) | (low0 >> (64 - beta))) == 0;
  return ((high >> (64 - beta)) & 1) != 0;
}

// c * 2^q with neighbours half a unit away on both sides (every double but
// the powers of two above the least normal).
inline ShortestDigits normal_interval(std::uint64_t c, int q) noexcept {
  const int minus_k = floor_log10_pow2(q) - 2;
  const std::uint64_t* g = pow10_entry(-minus_k);
  const int beta = q + floor_log2_pow10(-minus_k);  // 1..3
  const std::uint64_t two_c = c << 1;
  const bool ends_in = (c & 1) == 0;
  const auto width = static_cast<std::uint32_t>(g[0] >> (63 - beta));
  bool z_whole = false;
  const std::uint64_t z = upper_product((two_c | 1) << beta, g, z_whole);

  std::uint64_t s = z / 1000;
  auto rest = static_cast<std::uint32_t>(z - s * 1000);
  bool shorter = rest < width;
  if ((rest == width) | ((rest == 0) & z_whole & !ends_in)) [[unlikely]] {
    if (rest == 0) {
      // z / 1000 is the right end itself, which is excluded: the result
      // has full length, below it.
      --s;
      rest = 1000;
      shorter = false;
    } else {
      // At the left end exactly: inside when that end is.
      bool left_whole = false;
      const bool odd = parity_of_scaled(two_c - 1, g, beta, left_whole);
      shorter = odd || (left_whole && ends_in);
    }
  }
  // Full length: the tenths of the shorter candidate's unit below z, less
  // half the width, give the scaled value rounded; its halfway cases are
  // settled exactly.
  const std::uint32_t dist = rest - (width / 2) + 50;
  std::uint64_t full = s * 10 + dist / 100;
  if ((dist % 100 == 0) & !shorter) [[unlikely]] {
    const bool approx_odd = ((dist ^ 50) & 1) != 0;
    bool y_whole = false;
    const bool odd = parity_of_scaled(two_c, g, beta, y_whole);
    if (odd != approx_odd || ((full & 1) != 0 && y_whole)) --full;
  }
  // Chosen without a branch: which way it goes is a coin toss on real data.
  const std::uint64_t take_shorter = std::uint64_t{0} - static_cast<std::uint64_t>(shorter);
  return {(s & take_shorter) | (full & ~take_shorter), minus_k + 2 + static_cast<int>(shorter)};
}

// 2^52 * 2^q, whose neighbour below is a quarter unit away and above half a
// unit: both ends are in the interval (the significand is even).
inline ShortestDigits shorter_interval(int q) noexcept {
  const int minus_k = floor_log10_three_quarters_pow2(q);
  const int beta = q + floor_log2_pow10(-minus_k);
  const std::uint64_t g = pow10_entry(-minus_k)[0];
  std::uint64_t left = (g - (g >> 54)) >> (11 - beta);
  const std::uint64_t right = (g + (g >> 53)) >> (11 - beta);
  // The left end scaled is a whole number only for q = 2 and 3.
  if (q < 2 || q > 3) ++left;
  const std::uint64_t shorter = right / 10;
  if (shorter * 10 >= left) return {shorter, minus_k + 1};
  // The scaled value rounded up; a tie occurs at one exponent only.
  std::uint64_t full = ((g >> (10 - beta)) + 1) / 2;
  if ((full & 1) != 0 && q == -77) {
    --full;
  } else if (full < left) {
    ++full;
  }
  return {full, minus_k};
}

}  // namespace shortest

inline ShortestDigits shortest_digits(double value) noexcept {
  using namespace shortest;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t fraction = bits & (kMinC - 1);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0) return normal_interval(fraction, kMinQ);  // subnormal
  const int mq = 1075 - biased;  // the value is c * 2^-mq
  const std::uint64_t c = kMinC | fraction;
  // A whole number below 2^53 is its own digits.
  if (mq > 0 && mq < 53) {
    const std::uint64_t f = c >> mq;
    if (f << mq == c) return {f, 0};
  }
  if (fraction != 0 || biased == 1) [[likely]] return normal_interval(c, -mq);
  return shorter_interval(-mq);
}

}  // namespace ostrevane::detail
