// Eight bytes at a time: tests whether a word holds any byte of a small set,
// so scans over ordinary text skip whole words. Each test is exact as a
// yes/no answer for the word (the per-byte flags may not be).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ostrevane::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

inline std::uint64_t load_word(const unsigned char* p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Some byte of w is zero.
inline std::uint64_t has_zero_byte(std::uint64_t w) noexcept { return (w - kOnes) & ~w & kHighs; }

// Some byte of w equals c.
inline std::uint64_t has_byte(std::uint64_t w, unsigned char c) noexcept {
  return has_zero_byte(w ^ (kOnes * c));
}

// Some byte of w is below n (n at most 128).
inline std::uint64_t has_byte_below(std::uint64_t w, unsigned char n) noexcept {
  return (w - kOnes * n) & ~w & kHighs;
}

// False when no byte of b[0, n) can be one the caller looks for; true when
// some byte may be. `WordMayMatch(w)` answers for a whole word and
// `byte_table[c]` (nonzero: look) for one byte. Texts of 4 bytes or more are
// read as (overlapping) words only, so the word test carries the answer
// there; it must never flag 'a', which pads texts of 4 to 7 bytes. The test
// is a template argument so that it is called directly and inlined.
template <auto WordMayMatch>
[[gnu::always_inline]] inline bool any_byte_may_match(
    const unsigned char* b, std::size_t n, const unsigned char (&byte_table)[256]) noexcept {
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      if (WordMayMatch(load_word(b + i))) return true;
    }
    return i < n && WordMayMatch(load_word(b + n - 8));
  }
  if (n >= 4) {
    // Two 4-byte halves that may overlap, the upper half of each word
    // filled with 'a'.
    constexpr std::uint64_t kFill = 0x6161616100000000ULL;
    std::uint32_t lo;
    std::uint32_t hi;
    std::memcpy(&lo, b, 4);
    std::memcpy(&hi, b + n - 4, 4);
    return WordMayMatch(kFill | lo) || WordMayMatch(kFill | hi);
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (byte_table[b[i]] != 0) return true;
  }
  return false;
}

}  // namespace ostrevane::detail
