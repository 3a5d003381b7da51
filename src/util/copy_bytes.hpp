// copy_text_bytes: a memcpy tuned for the short texts (keys, words) that
// dominate YAML documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ostrevane {

// Copies n bytes to `dst`. Up to 16 bytes the copy takes two overlapping
// fixed-size moves instead of a call; an empty text's pointer may be null and
// is never read.
inline void copy_text_bytes(char* dst, const char* src, std::size_t n) noexcept {
  if (n > 16) {
    std::memcpy(dst, src, n);
  } else if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + n - 8, 8);
    std::memcpy(dst, &head, 8);
    std::memcpy(dst + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + n - 4, 4);
    std::memcpy(dst, &head, 4);
    std::memcpy(dst + n - 4, &tail, 4);
  } else if (n != 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

}  // namespace ostrevane
