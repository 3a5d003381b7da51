// The shortest decimal digits that read back as a given double: of all the
// digit strings of least length that round to it, the closest to it (ties
// to an even last digit). The method: scale the value and the two ends of
// its rounding interval by one 126-bit power of ten (pow10_table.hpp) so
// that the candidates are the integers near the scaled value, then try one
// digit fewer (a multiple of ten) before the full length; one digit fewer
// than that can never fit, since the interval is narrower than a unit there.
//
// Input: a finite, nonzero double (its sign is ignored). Output: a
// significand without trailing zeros and the power of ten it is scaled by.
#pragma once

#include <bit>
#include <cstdint>

#include "emit_util/detail/pow10_table.hpp"

namespace ostrevane::detail {

struct ShortestDigits {
  std::uint64_t significand;  // no trailing zeros, at most 17 digits
  int exponent;               // value = significand * 10^exponent
};

namespace shortest {

inline constexpr int kMinQ = -1074;              // exponent of the least subnormal
inline constexpr std::uint64_t kMinC = 1ULL << 52;  // significand of the least normal
inline constexpr std::uint64_t kMask63 = (1ULL << 63) - 1;

// floor(e * log10(2)), floor(e * log10(3/4 * 2)) - ... and floor(e * log2(10)),
// exact over the exponents a double can have.
constexpr int floor_log10_pow2(int e) noexcept {
  return static_cast<int>((e * 661'971'961'083LL) >> 41);
}
constexpr int floor_log10_three_quarters_pow2(int e) noexcept {
  return static_cast<int>((e * 661'971'961'083LL - 274'743'187'321LL) >> 41);
}
constexpr int floor_log2_pow10(int e) noexcept {
  return static_cast<int>((e * 913'124'641'741LL) >> 38);
}

// (g * cp) >> 127 for g = g1 * 2^63 + g0, with the lowest bit set when any
// bit shifted out of the part that counts was set (so that comparisons stay
// exact).
inline std::uint64_t round_to_odd(std::uint64_t g1, std::uint64_t g0, std::uint64_t cp) noexcept {
  const unsigned __int128 low = static_cast<unsigned __int128>(g0) * cp;
  const unsigned __int128 high = static_cast<unsigned __int128>(g1) * cp;
  const auto x1 = static_cast<std::uint64_t>(low >> 64);
  const auto y0 = static_cast<std::uint64_t>(high);
  const auto y1 = static_cast<std::uint64_t>(high >> 64);
  const std::uint64_t z = (y0 >> 1) + x1;
  const std::uint64_t vbp = y1 + (z >> 63);
  return vbp | (((z & kMask63) + kMask63) >> 63);
}

inline ShortestDigits strip_zeros(std::uint64_t f, int e) noexcept {
  // At most 16 trailing zeros: eight at a time, then four, two and one.
  while (f % 100'000'000 == 0) {
    f /= 100'000'000;
    e += 8;
  }
  if (f % 10'000 == 0) {
    f /= 10'000;
    e += 4;
  }
  if (f % 100 == 0) {
    f /= 100;
    e += 2;
  }
  if (f % 10 == 0) {
    f /= 10;
    e += 1;
  }
  return {f, e};
}

// The value c * 2^q; dk is added to the exponent of a full-length result.
inline ShortestDigits to_decimal(int q, std::uint64_t c, int dk) noexcept {
  const std::uint64_t out = c & 1;  // an odd significand excludes the interval's ends
  const std::uint64_t cb = c << 2;
  std::uint64_t cbl;
  int k;
  if (c != kMinC || q == kMinQ) {
    cbl = cb - 2;
    k = floor_log10_pow2(q);
  } else {
    // At a power of two the interval below is half as wide.
    cbl = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int h = q + floor_log2_pow10(-k) + 2;
  const std::uint64_t* g = kPow10Table[k - kPow10MinK];
  const std::uint64_t vb = round_to_odd(g[0], g[1], cb << h);
  const std::uint64_t vbl = round_to_odd(g[0], g[1], cbl << h);
  const std::uint64_t vbr = round_to_odd(g[0], g[1], (cb + 2) << h);

  const std::uint64_t s = vb >> 2;
  if (s >= 10) {
    // One digit fewer: the multiples of ten around the value. (Only the
    // least subnormals have so few digits that s < 100; a one-digit text is
    // still taken there when it reads back.)
    const std::uint64_t sp10 = s / 10 * 10;
    const std::uint64_t tp10 = sp10 + 10;
    const bool upin = vbl + out <= sp10 << 2;
    const bool wpin = (tp10 << 2) + out <= vbr;
    if (upin != wpin) return strip_zeros(upin ? sp10 : tp10, k + dk);
  }
  const std::uint64_t t = s + 1;
  const bool uin = vbl + out <= s << 2;
  const bool win = (t << 2) + out <= vbr;
  if (uin != win) return strip_zeros(uin ? s : t, k + dk);
  // Both fit: the closer, the even one on a tie.
  const auto cmp = static_cast<std::int64_t>(vb - ((s + t) << 1));
  return strip_zeros(cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t, k + dk);
}

}  // namespace shortest

inline ShortestDigits shortest_digits(double value) noexcept {
  using namespace shortest;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t fraction = bits & (kMinC - 1);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased != 0) {
    const int mq = 1075 - biased;  // the value is c * 2^-mq
    const std::uint64_t c = kMinC | fraction;
    // A whole number below 2^53 is its own digits.
    if (mq > 0 && mq < 53) {
      const std::uint64_t f = c >> mq;
      if (f << mq == c) return strip_zeros(f, 0);
    }
    return to_decimal(-mq, c, 0);
  }
  // Subnormal: the smallest significands take one more digit of scale.
  return fraction < 3 ? to_decimal(kMinQ, 10 * fraction, -1) : to_decimal(kMinQ, fraction, 0);
}

}  // namespace ostrevane::detail
