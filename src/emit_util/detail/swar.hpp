// Eight bytes at a time: tests whether a word holds any byte of a small set,
// so scans over ordinary text skip whole words. Each test is exact as a
// yes/no answer for the word (the per-byte flags may not be).
#pragma once

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

}  // namespace ostrevane::detail
