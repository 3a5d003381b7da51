// Input byte decoding: caller's bytes in, UTF-8 text out.
//
// Input: the raw bytes of a `bytes`, `bytearray` or buffer argument. Output: an
// owned UTF-8 text, or an InputDecodeError whose message carries no position.
// The encoding is taken from a byte-order mark or from the pattern of NUL bytes
// in the first four bytes (YAML 1.2, section 5.2). A byte-order mark is decoded
// like any other character, so the UTF-8 result still starts with EF BB BF and
// every later offset counts bytes of that UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "util/result.hpp"

namespace ostrevane {

enum class InputEncoding : unsigned char { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

struct InputDecodeError {
  std::string message;
};

[[nodiscard]] InputEncoding detect_input_encoding(std::string_view bytes) noexcept;

// Checks that `bytes` is UTF-8; the error names the first invalid sequence.
[[nodiscard]] Result<void, InputDecodeError> validate_utf8(std::string_view bytes);

[[nodiscard]] Result<std::string, InputDecodeError> decode_utf16_input(std::string_view bytes,
                                                                       bool big_endian);
[[nodiscard]] Result<std::string, InputDecodeError> decode_utf32_input(std::string_view bytes,
                                                                       bool big_endian);

// Detects the encoding and returns the text as UTF-8.
[[nodiscard]] Result<std::string, InputDecodeError> decode_input_bytes(std::string_view bytes);

// The same, reusing the caller's buffer when it already holds valid UTF-8, so
// that a copied buffer is not copied a second time.
[[nodiscard]] Result<std::string, InputDecodeError> decode_input_bytes(std::string&& bytes);

}  // namespace ostrevane
