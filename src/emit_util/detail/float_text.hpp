// The one spelling of a double in YAML and JSON output, written in place:
// the shortest round-trip digits, positional for decimal exponents -4..15,
// otherwise "1.5e-07" style; ".inf", "-.inf", ".nan". A header so that the
// writers that put many floats inline it into their loops.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "emit_util/detail/shortest_digits.hpp"
#include "emit_util/scalar_text.hpp"

namespace ostrevane::detail {

// Longest format_float result: sign, 17 digits, point, "e-", 3 exponent
// digits, plus the positional forms (at most 16 integer digits + ".0" or
// "0.000" + 17 digits). format_float_into may write further: its last
// word-sized store ends at most 30 bytes in ("-0.0000" and three words).
static_assert(1 + 5 + 24 <= kFloatRoom);

// "00" to "99".
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr std::uint64_t kPowersOfTen[] = {
    1ULL,
    10ULL,
    100ULL,
    1000ULL,
    10000ULL,
    100000ULL,
    1000000ULL,
    10000000ULL,
    100000000ULL,
    1000000000ULL,
    10000000000ULL,
    100000000000ULL,
    1000000000000ULL,
    10000000000000ULL,
    100000000000000ULL,
    1000000000000000ULL,
    10000000000000000ULL,
    100000000000000000ULL,
};

// Decimal digits of f (at most 17, so below 10^17).
inline int digit_count(std::uint64_t f) noexcept {
  // log10 from the bit length (1233/4096 ~ log10 2), one step short at most.
  const int guess = (std::bit_width(f) * 1233) >> 12;
  return guess + (f >= kPowersOfTen[guess] ? 1 : 0);
}

#if defined(__SSE2__)
// The 16 digits of a * 10^8 + b (a and b below 10^8, zeros in front) as
// ASCII, the first digit in byte 0. Both numbers are split into two of 4
// digits; each of the four is copied into four 16-bit lanes, divided there
// by 1000, 100, 10 and 1 at once (multiplying by reciprocals that are exact
// below 10^4, then by powers of two to shift), and each quotient less ten
// times the one before it is a digit.
inline __m128i sixteen_digits(std::uint32_t a, std::uint32_t b) noexcept {
  const __m128i v = _mm_set_epi64x(b, a);
  // x / 10^4 = (x * 0xd1b71759) >> 45 for x below 2^32.
  const __m128i q = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(static_cast<int>(0xd1b71759))), 45);
  const __m128i r = _mm_sub_epi32(v, _mm_mul_epu32(q, _mm_set1_epi32(10000)));
  const __m128i quarters = _mm_unpacklo_epi64(_mm_unpacklo_epi32(q, r), _mm_unpackhi_epi32(q, r));
  // Times 4 in 16 bits (below 40000), for two more bits of precision.
  const __m128i x4 = _mm_slli_epi16(_mm_packs_epi32(quarters, quarters), 2);
  const __m128i pairs = _mm_unpacklo_epi16(x4, x4);
  const __m128i first = _mm_unpacklo_epi32(pairs, pairs);
  const __m128i second = _mm_unpackhi_epi32(pairs, pairs);
  // floor(x / 10^3) = (4x * 8389) >> 25, / 10^2: (4x * 5243) >> 23,
  // / 10: (4x * 13108) >> 19, / 1: (4x * 32768) >> 17.
  const __m128i reciprocals = _mm_set_epi16(-32768, 13108, 5243, 8389, -32768, 13108, 5243, 8389);
  const __m128i shifts = _mm_set_epi16(-32768, 8192, 2048, 128, -32768, 8192, 2048, 128);
  const __m128i ten = _mm_set1_epi16(10);
  const __m128i qa = _mm_mulhi_epu16(_mm_mulhi_epu16(first, reciprocals), shifts);
  const __m128i qb = _mm_mulhi_epu16(_mm_mulhi_epu16(second, reciprocals), shifts);
  const __m128i da = _mm_sub_epi16(qa, _mm_slli_epi64(_mm_mullo_epi16(qa, ten), 16));
  const __m128i db = _mm_sub_epi16(qb, _mm_slli_epi64(_mm_mullo_epi16(qb, ten), 16));
  return _mm_add_epi8(_mm_packus_epi16(da, db), _mm_set1_epi8('0'));
}
#else
// The eight digits of v (below 10^8, zeros in front) as ASCII in one word,
// the first digit in the lowest byte: each step divides every lane at once
// (two lanes of 4 digits by 100, four lanes of 2 digits by 10, by
// multiplying with a reciprocal that is exact in that range).
inline std::uint64_t eight_digits(std::uint32_t v) noexcept {
  const std::uint64_t merged = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t top = ((merged * 10486) >> 20) & 0x0000007F0000007FULL;
  const std::uint64_t bottom = merged - 100 * top;
  const std::uint64_t pairs = (bottom << 16) + top;
  std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000FULL;
  tens += (pairs - 10 * tens) << 8;
  return tens | 0x3030303030303030ULL;
}
#endif

inline constexpr std::uint64_t kZeros = 0x3030303030303030ULL;

inline void store_word(char* at, std::uint64_t word) noexcept { std::memcpy(at, &word, 8); }

inline std::size_t format_float_into(char* buf, double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  // The sign without a branch: half of a column of floats may be negative.
  char* p = buf;
  *p = '-';
  p += bits >> 63;
  if ((bits & ~(1ULL << 63)) >= 0x7FF0000000000000ULL) [[unlikely]] {
    if ((bits & 0x000FFFFFFFFFFFFFULL) != 0) {
      std::memcpy(buf, ".nan", 4);
      return 4;
    }
    std::memcpy(p, ".inf", 4);
    return static_cast<std::size_t>(p - buf) + 4;
  }
  if ((bits << 1) == 0) [[unlikely]] {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p - buf) + 3;
  }
  // The shortest digits, moved to the front of 17 places and written as
  // three words (8, 8 and 1 digits); the zeros they end in are counted from
  // the text. Each layout then stores whole words at fixed or computed
  // places (no loads of what was just stored, no library calls); the
  // buffer has room for what they write past the text.
  const ShortestDigits d = shortest_digits(value);
  const int m = digit_count(d.significand);
  const int exp = d.exponent + m - 1;  // of the first digit
  const std::uint64_t f17 = d.significand * kPowersOfTen[17 - m];
  const std::uint64_t sixteen = f17 / 10;
  const std::uint64_t high = sixteen / 100'000'000;
  const auto low = static_cast<std::uint32_t>(sixteen - high * 100'000'000);
  const std::uint64_t w2 = 0x30 + (f17 - sixteen * 10);
#if defined(__SSE2__)
  const __m128i digits = sixteen_digits(static_cast<std::uint32_t>(high), low);
  const auto w0 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(digits));
  const auto w1 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(digits, digits)));
  // One bit per digit of the 16 that is not '0'; the first always is not.
  const std::uint32_t nonzero =
      ~static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0')))) & 0xFFFFu;
  const int up_to_w1 = 32 - std::countl_zero(nonzero);
#else
  const std::uint64_t w0 = eight_digits(static_cast<std::uint32_t>(high));
  const std::uint64_t w1 = eight_digits(low);
  const std::uint64_t x1 = w1 ^ kZeros;
  const int up_to_w1 = x1 != 0 ? 16 - std::countl_zero(x1) / 8 : 8 - std::countl_zero(w0 ^ kZeros) / 8;
#endif
  const int n = w2 != 0x30 ? 17 : up_to_w1;  // significant digits
  if (exp >= 0 && exp <= 15) {
    if (n <= exp + 1) {
      // A whole number: its digits and zeros are the first exp + 1 places.
      store_word(p, w0);
      store_word(p + 8, w1);
      p += exp + 1;
      std::memcpy(p, ".0", 2);
      return static_cast<std::size_t>(p - buf) + 2;
    }
    // Digits on both sides of the point: all of them one place on, then
    // the words before the point's word as they are, then the point's word
    // made in a register (its digits up to the point, the point, the next
    // digits one place on).
    const int whole = exp + 1;
    const int j = whole & 7;
    store_word(p + 1, w0);
    store_word(p + 9, w1);
    store_word(p + 17, w2);
    store_word(p, w0);
    if (whole >= 16) [[unlikely]] store_word(p + 8, w1);
    const std::uint64_t word = whole < 8 ? w0 : whole < 16 ? w1 : w2;
    const std::uint64_t below = (1ULL << (8 * j)) - 1;
    store_word(p + (whole & ~7), (word & below) | (std::uint64_t{'.'} << (8 * j)) |
                                      ((word << 8) & ((~0ULL << (8 * j)) << 8)));
    return static_cast<std::size_t>(p - buf) + static_cast<std::size_t>(n) + 1;
  }
  if (exp < 0 && exp >= -4) {
    // "0.", the zeros after the point, the digits.
    std::memcpy(p, "0.000000", 8);
    p += 1 - exp;
    store_word(p, w0);
    store_word(p + 8, w1);
    store_word(p + 16, w2);
    return static_cast<std::size_t>(p - buf) + static_cast<std::size_t>(n);
  }
  // The first digit, the point, the others (or "0"), the exponent.
  store_word(p, (w0 & 0xFF) | (std::uint64_t{'.'} << 8) | ((w0 << 8) & ~0xFFFFULL));
  store_word(p + 8, (w0 >> 56) | (w1 << 8));
  store_word(p + 16, (w1 >> 56) | (w2 << 8));
  p += n + 1;
  if (n == 1) *p++ = '0';
  *p++ = 'e';
  *p++ = exp < 0 ? '-' : '+';
  const int mag = exp < 0 ? -exp : exp;
  if (mag >= 100) *p++ = static_cast<char>('0' + mag / 100);
  std::memcpy(p, kDigitPairs + 2 * (mag % 100), 2);
  return static_cast<std::size_t>(p - buf) + 2;
}

}  // namespace ostrevane::detail
