// JSON string literals, shared by the writer of Value trees and the one-pass
// writer of Python objects (src/ffi/convert/json_direct.cpp), so that both
// spell every string alike.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "emit_util/output_buffer.hpp"

namespace ostrevane::detail {

// Whether a byte of the 16 needs a look: controls, '"', '\\', or 0xE2 (the
// lead byte of U+2028 and U+2029).
inline bool json_block_needs_look(__m128i v) noexcept {
  const __m128i below_space = _mm_set1_epi8(0x1F);
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, below_space), below_space);
  const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
  const __m128i e2 = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2)));
  return _mm_movemask_epi8(
             _mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, e2))) != 0;
}

// False when the text is copied as it is. 16 bytes at a time; a shorter
// text is gathered into one block with overlapping loads, padded with 'a',
// which never needs a look.
inline bool json_may_need_escape(const unsigned char* b, std::size_t n) noexcept {
  constexpr std::uint64_t kFill = 0x6161616161616161ULL;
  if (n >= 16) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
      if (json_block_needs_look(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)))) {
        return true;
      }
    }
    return i < n &&
           json_block_needs_look(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 16)));
  }
  std::uint64_t lo;
  std::uint64_t hi = kFill;
  if (n >= 8) {
    std::memcpy(&lo, b, 8);
    std::memcpy(&hi, b + n - 8, 8);
  } else if (n >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, b, 4);
    std::memcpy(&tail, b + n - 4, 4);
    lo = head | (std::uint64_t{tail} << 32);
  } else if (n != 0) {
    // b[0], b[n / 2] and b[n - 1] cover every byte of 1 to 3.
    lo = (kFill << 24) | b[0] | (std::uint64_t{b[n / 2]} << 8) | (std::uint64_t{b[n - 1]} << 16);
  } else {
    return false;
  }
  return json_block_needs_look(
      _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
}

// The escaping copy of a text that may need escapes (json_writer.cpp); out
// of line, so that the common copy stays small enough to inline.
void write_json_string_escaped(OutputBuffer& out, std::string_view text);

// `lead` (when not 0), the JSON string literal of `text`, then `trail` (when
// not 0). A text without escapes takes one reservation and one copy.
[[gnu::always_inline]] inline void put_json_string(OutputBuffer& out, char lead,
                                                   std::string_view text, char trail) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (!json_may_need_escape(data, n)) [[likely]] {
    char* p = out.tail(n + 4);
    const std::size_t head = lead != 0 ? 1 : 0;
    p[0] = lead;
    p[head] = '"';
    copy_text_bytes(p + head + 1, text.data(), n);
    p[head + n + 1] = '"';
    p[head + n + 2] = trail;
    out.commit(head + n + 2 + (trail != 0 ? 1 : 0));
    return;
  }
  if (lead != 0) out.push_back(lead);
  write_json_string_escaped(out, text);
  if (trail != 0) out.push_back(trail);
}

}  // namespace ostrevane::detail
