// Byte-level tests for the characters no plain or single-quoted scalar may
// hold: C0 controls (TAB, LF and CR included), DEL, C1 controls except NEL,
// U+FFFE and U+FFFF; and for the line breaks beyond LF and CR (NEL, LINE
// SEPARATOR, PARAGRAPH SEPARATOR), which YAML 1.1 readers break lines at,
// and which therefore only stand escaped in double quotes. Texts are valid
// UTF-8, so these are byte patterns.
#pragma once

#include <cstddef>
#include <string_view>

namespace ostrevane::detail {

// Bytes that may start such a character; every other byte is skipped
// without a closer look.
inline bool may_start_unprintable(unsigned char c) noexcept {
  return c < 0x20 || c == 0x7F || c == 0xC2 || c == 0xEF;
}

// Length of the unprintable character starting at i, or 0 when the
// character there is printable.
inline std::size_t unprintable_at(std::string_view text, std::size_t i) noexcept {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < text.size()) {
    const auto d = static_cast<unsigned char>(text[i + 1]);
    if (d >= 0x80 && d <= 0x9F && d != 0x85) return 2;
  } else if (c == 0xEF && i + 2 < text.size()) {
    if (static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
      return 3;
    }
  }
  return 0;
}

// The Unicode line breaks: NEL (C2 85), LINE SEPARATOR (E2 80 A8) and
// PARAGRAPH SEPARATOR (E2 80 A9).
inline bool may_start_unicode_break(unsigned char c) noexcept { return c == 0xC2 || c == 0xE2; }

// Length of the Unicode line break starting at i, or 0.
inline std::size_t unicode_break_at(std::string_view text, std::size_t i) noexcept {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c == 0xC2) {
    return i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85 ? 2 : 0;
  }
  if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
      (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
    return 3;
  }
  return 0;
}

// Bytes that may start either kind.
inline bool may_start_unquotable(unsigned char c) noexcept {
  return may_start_unprintable(c) || c == 0xE2;
}

// Length of a character of either kind at i (only double quotes hold it,
// escaped), or 0.
inline std::size_t unquotable_at(std::string_view text, std::size_t i) noexcept {
  const std::size_t len = unprintable_at(text, i);
  return len != 0 ? len : unicode_break_at(text, i);
}

}  // namespace ostrevane::detail
