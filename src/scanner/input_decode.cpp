#include "scanner/input_decode.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace ostrevane {
namespace {

using u8 = unsigned char;

std::string decimal(std::size_t n) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, end);
}

InputDecodeError utf8_error(std::size_t index, int bad_length) {
  if (bad_length == 0) {
    return {"invalid UTF-8: incomplete utf-8 byte sequence from index " + decimal(index)};
  }
  return {"invalid UTF-8: invalid utf-8 sequence of " + decimal(static_cast<std::size_t>(bad_length)) +
          " bytes from index " + decimal(index)};
}

bool is_continuation(u8 b) { return (b & 0xC0) == 0x80; }

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char s[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(s, 2);
  } else if (cp < 0x10000) {
    const char s[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(s, 3);
  } else {
    const char s[4] = {static_cast<char>(0xF0 | (cp >> 18)),
                       static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(s, 4);
  }
}

template <bool BigEndian>
std::uint16_t load16(const u8* p) {
  return BigEndian ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                   : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

template <bool BigEndian>
std::uint32_t load32(const u8* p) {
  return BigEndian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                      std::uint32_t{p[2]} << 8 | p[3])
                   : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                      std::uint32_t{p[1]} << 8 | p[0]);
}

template <bool BigEndian>
Result<std::string, InputDecodeError> utf16_to_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const u8*>(bytes.data());
  const std::size_t units = bytes.size() / 2;
  std::string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = load16<BigEndian>(p + 2 * i);
    if (u < 0xD800 || u > 0xDFFF) {
      append_utf8(out, u);
      continue;
    }
    if (u <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = load16<BigEndian>(p + 2 * (i + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    return std::unexpected(InputDecodeError{"invalid UTF-16: unpaired surrogate"});
  }
  return out;
}

template <bool BigEndian>
Result<std::string, InputDecodeError> utf32_to_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const u8*>(bytes.data());
  std::string out;
  out.reserve(bytes.size() / 4);
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t cp = load32<BigEndian>(p + i);
    if (cp >= 0x110000 || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return std::unexpected(InputDecodeError{"invalid UTF-32: not a Unicode scalar value"});
    }
    append_utf8(out, cp);
  }
  return out;
}

}  // namespace

InputEncoding detect_input_encoding(std::string_view bytes) noexcept {
  const auto* b = reinterpret_cast<const u8*>(bytes.data());
  const std::size_t n = bytes.size();
  if (n >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) {
    return InputEncoding::Utf32Be;
  }
  if (n >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) {
    return InputEncoding::Utf32Le;
  }
  if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) return InputEncoding::Utf16Be;
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return InputEncoding::Utf16Le;
  if (n == 2 || n == 3) {
    if (b[0] == 0x00) return InputEncoding::Utf16Be;
    if (b[1] == 0x00) return InputEncoding::Utf16Le;
    return InputEncoding::Utf8;
  }
  if (n >= 4) {
    if (b[0] == 0x00) {
      if (b[1] != 0x00) return InputEncoding::Utf16Be;
      return b[2] == 0x00 ? InputEncoding::Utf32Be : InputEncoding::Utf16Be;
    }
    if (b[1] != 0x00) return InputEncoding::Utf8;
    return (b[2] == 0x00 && b[3] == 0x00) ? InputEncoding::Utf32Le : InputEncoding::Utf16Le;
  }
  return InputEncoding::Utf8;
}

Result<void, InputDecodeError> validate_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const u8*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // ASCII runs dominate real input: skip them eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    const u8 first = p[i];
    if (first < 0x80) {
      ++i;
      continue;
    }
    // The error length follows the "maximal subpart" rule: the count of bytes
    // that could still start a valid sequence before the offending byte.
    const std::size_t start = i;
    auto at = [&](std::size_t k) -> int { return start + k < n ? p[start + k] : -1; };
    if (first >= 0xC2 && first <= 0xDF) {
      const int b1 = at(1);
      if (b1 < 0) return std::unexpected(utf8_error(start, 0));
      if (!is_continuation(static_cast<u8>(b1))) return std::unexpected(utf8_error(start, 1));
      i += 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      const int b1 = at(1);
      if (b1 < 0) return std::unexpected(utf8_error(start, 0));
      const bool ok1 = (first == 0xE0)   ? (b1 >= 0xA0 && b1 <= 0xBF)
                       : (first == 0xED) ? (b1 >= 0x80 && b1 <= 0x9F)
                                         : is_continuation(static_cast<u8>(b1));
      if (!ok1) return std::unexpected(utf8_error(start, 1));
      const int b2 = at(2);
      if (b2 < 0) return std::unexpected(utf8_error(start, 0));
      if (!is_continuation(static_cast<u8>(b2))) return std::unexpected(utf8_error(start, 2));
      i += 3;
    } else if (first >= 0xF0 && first <= 0xF4) {
      const int b1 = at(1);
      if (b1 < 0) return std::unexpected(utf8_error(start, 0));
      const bool ok1 = (first == 0xF0)   ? (b1 >= 0x90 && b1 <= 0xBF)
                       : (first == 0xF4) ? (b1 >= 0x80 && b1 <= 0x8F)
                                         : is_continuation(static_cast<u8>(b1));
      if (!ok1) return std::unexpected(utf8_error(start, 1));
      const int b2 = at(2);
      if (b2 < 0) return std::unexpected(utf8_error(start, 0));
      if (!is_continuation(static_cast<u8>(b2))) return std::unexpected(utf8_error(start, 2));
      const int b3 = at(3);
      if (b3 < 0) return std::unexpected(utf8_error(start, 0));
      if (!is_continuation(static_cast<u8>(b3))) return std::unexpected(utf8_error(start, 3));
      i += 4;
    } else {
      return std::unexpected(utf8_error(start, 1));
    }
  }
  return {};
}

Result<std::string, InputDecodeError> decode_utf16_input(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) {
    return std::unexpected(InputDecodeError{"invalid UTF-16: byte count is not a multiple of 2"});
  }
  return big_endian ? utf16_to_utf8<true>(bytes) : utf16_to_utf8<false>(bytes);
}

Result<std::string, InputDecodeError> decode_utf32_input(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 4 != 0) {
    return std::unexpected(InputDecodeError{"invalid UTF-32: byte count is not a multiple of 4"});
  }
  return big_endian ? utf32_to_utf8<true>(bytes) : utf32_to_utf8<false>(bytes);
}

Result<std::string, InputDecodeError> decode_input_bytes(std::string_view bytes) {
  switch (detect_input_encoding(bytes)) {
    case InputEncoding::Utf8:
      OSV_TRY(validate_utf8(bytes));
      return std::string(bytes);
    case InputEncoding::Utf16Le:
      return decode_utf16_input(bytes, false);
    case InputEncoding::Utf16Be:
      return decode_utf16_input(bytes, true);
    case InputEncoding::Utf32Le:
      return decode_utf32_input(bytes, false);
    case InputEncoding::Utf32Be:
      return decode_utf32_input(bytes, true);
  }
  return std::string(bytes);
}

Result<std::string, InputDecodeError> decode_input_bytes(std::string&& bytes) {
  if (detect_input_encoding(bytes) == InputEncoding::Utf8) {
    OSV_TRY(validate_utf8(bytes));
    return std::move(bytes);
  }
  return decode_input_bytes(std::string_view(bytes));
}

}  // namespace ostrevane
