// The scanner's cursor: byte position, line and column kept together so that
// no span ever needs recounting. Columns count characters; a text known to be
// all ASCII takes the byte count directly.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "scanner/token.hpp"

namespace ostrevane::scanner_detail {

// Peeks return this past the end of the text; it equals no character.
inline constexpr int kNone = -1;

inline bool is_blank(int c) noexcept { return c == ' ' || c == '\t'; }
inline bool is_break(int c) noexcept { return c == '\n' || c == '\r'; }
inline bool is_blank_or_break(int c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
// The test after an indicator: a blank, a break or the end.
inline bool is_blankz(int c) noexcept { return c == kNone || is_blank_or_break(c); }
inline bool is_flow_indicator(int c) noexcept {
  return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}

// A 256-entry membership table of bytes, built at compile time.
struct ByteSet {
  bool has[256] = {};
  constexpr explicit ByteSet(std::string_view bytes) {
    for (char c : bytes) has[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool operator[](unsigned char c) const { return has[c]; }
};

inline std::size_t utf8_length(unsigned char lead) noexcept {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

inline std::uint32_t popcount32(std::uint32_t x) noexcept {
  // Without -mpopcnt the builtin becomes a library call; this stays inline.
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  return (((x + (x >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24;
}

// Mask of the non-continuation bytes of a 16-byte chunk.
inline std::uint32_t lead_byte_mask(__m128i v) noexcept {
  // Continuation bytes are 0x80..0xBF, i.e. -128..-65 as signed bytes.
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(0xBF)))));
}

// Characters (non-continuation bytes) in [p, p + n); `limit` is the end of
// the readable buffer, so a short tail can still be read as one chunk.
inline std::uint32_t count_chars(const char* p, std::size_t n, const char* limit) noexcept {
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    count += _mm_movemask_epi8(v) == 0 ? 16 : popcount32(lead_byte_mask(v));
  }
  const std::size_t rest = n - i;
  if (rest == 0) return static_cast<std::uint32_t>(count);
  if (limit - (p + i) >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const std::uint32_t keep = (1u << rest) - 1;
    const std::uint32_t high = static_cast<std::uint32_t>(_mm_movemask_epi8(v)) & keep;
    count += high == 0 ? rest : popcount32(lead_byte_mask(v) & keep);
    return static_cast<std::uint32_t>(count);
  }
  for (; i < n; ++i) count += (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80;
  return static_cast<std::uint32_t>(count);
}

// Spaces (U+0020 only) at [p, end), counted 16 at a time.
inline std::size_t count_spaces(const char* p, const char* end) noexcept {
  const char* q = p;
  const __m128i space = _mm_set1_epi8(' ');
  while (end - q >= 16) {
    const auto other =
        static_cast<unsigned>(~_mm_movemask_epi8(_mm_cmpeq_epi8(
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), space)) &
                              0xFFFF);
    if (other != 0)
      return static_cast<std::size_t>(q - p) + static_cast<std::size_t>(__builtin_ctz(other));
    q += 16;
  }
  while (q < end && *q == ' ') ++q;
  return static_cast<std::size_t>(q - p);
}

struct Reader {
  const char* input = nullptr;
  std::size_t len = 0;
  std::size_t pos = 0;
  std::size_t start = 0;  // 0, or 3 after a byte-order mark
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t file_id = 0;
  bool leading_bom = false;
  // Offset of the first byte 0x80 or above at or after the offset it was
  // last searched from (len when there is none). While it lies at or past
  // pos, the bytes before it are ASCII and columns are byte counts; it only
  // ever moves forward, so finding it costs one pass over the text.
  std::size_t next_non_ascii = 0;

  bool at_end() const noexcept { return pos >= len; }
  int at(std::size_t p) const noexcept {
    return p < len ? static_cast<unsigned char>(input[p]) : kNone;
  }
  int peek() const noexcept { return at(pos); }
  int peek_next() const noexcept {
    if (pos >= len) return kNone;
    return at(pos + utf8_length(static_cast<unsigned char>(input[pos])));
  }
  int peek_at3() const noexcept {
    std::size_t p = pos;
    for (int i = 0; i < 3; ++i) {
      if (p >= len) return kNone;
      p += utf8_length(static_cast<unsigned char>(input[p]));
    }
    return at(p);
  }
  // First character at or after pos that is neither space nor TAB, and its
  // offset (len when only blanks remain).
  std::pair<int, std::size_t> peek_nonblank() const noexcept {
    std::size_t p = pos;
    while (p < len && (input[p] == ' ' || input[p] == '\t')) ++p;
    return {at(p), p};
  }
  bool starts_with3(const char* marker) const noexcept {
    return len - pos >= 3 && std::memcmp(input + pos, marker, 3) == 0;
  }
  bool at_document_marker() const noexcept {
    if (column != 0 || len - pos < 3) return false;
    if (!starts_with3("---") && !starts_with3("...")) return false;
    return is_blankz(at(pos + 3));
  }

  Span span() const noexcept { return Span{pos, file_id, line, column}; }

  // One ASCII character (the caller knows it is one).
  void advance_ascii() noexcept {
    ++pos;
    ++column;
  }
  void advance_char() noexcept {
    pos += utf8_length(static_cast<unsigned char>(input[pos]));
    ++column;
  }
  // n bytes that hold no line break.
  void advance_bytes(std::size_t n) noexcept {
    if (next_non_ascii < pos) next_non_ascii = find_non_ascii(pos);
    column += pos + n <= next_non_ascii ? static_cast<std::uint32_t>(n)
                                        : count_chars(input + pos, n, input + len);
    pos += n;
  }
  std::size_t find_non_ascii(std::size_t from) const noexcept {
    std::size_t p = from;
    while (len - p >= 16) {
      const int mask =
          _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(input + p)));
      if (mask != 0)
        return p + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
      p += 16;
    }
    while (p < len && static_cast<unsigned char>(input[p]) < 0x80) ++p;
    return p;
  }
  void skip3() noexcept {
    for (int i = 0; i < 3 && pos < len; ++i) advance_char();
  }
  void skip_break() noexcept {
    if (pos >= len) return;
    if (input[pos] == '\r') {
      ++pos;
      if (pos < len && input[pos] == '\n') ++pos;
    } else if (input[pos] == '\n') {
      ++pos;
    } else {
      return;
    }
    ++line;
    column = 0;
  }
  void skip_blanks() noexcept {
    const std::size_t from = pos;
    while (pos < len && (input[pos] == ' ' || input[pos] == '\t')) ++pos;
    column += static_cast<std::uint32_t>(pos - from);
  }
  void skip_spaces() noexcept {
    const std::size_t n = count_spaces(input + pos, input + len);
    pos += n;
    column += static_cast<std::uint32_t>(n);
  }
  void skip_spaces_below(std::uint32_t limit) noexcept {
    if (column >= limit) return;
    const std::size_t n =
        std::min<std::size_t>(count_spaces(input + pos, input + len), limit - column);
    pos += n;
    column += static_cast<std::uint32_t>(n);
  }
  // Spaces up to the column limit, then each break with the spaces after it;
  // returns the breaks consumed.
  std::uint32_t skip_indent_and_breaks(std::uint32_t limit) noexcept {
    std::uint32_t breaks = 0;
    skip_spaces_below(limit);
    while (pos < len && (input[pos] == '\n' || input[pos] == '\r')) {
      skip_break();
      ++breaks;
      skip_spaces_below(limit);
    }
    return breaks;
  }
};

// Offset of the first LF or CR in [p, end), or end.
inline const char* find_break(const char* p, const char* end) noexcept {
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    if (m != 0) return p + __builtin_ctz(m);
    p += 16;
  }
  while (p < end && *p != '\n' && *p != '\r') ++p;
  return p;
}

}  // namespace ostrevane::scanner_detail
