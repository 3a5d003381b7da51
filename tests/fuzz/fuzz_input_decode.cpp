// Input bytes of any encoding -> UTF-8 text, then the two look-ups that read
// the head of that text before scanning: the %YAML directive and the schema
// reference comment.
// Invariants: the result is valid UTF-8; valid UTF-8 input comes back
// unchanged; both overloads of decode_input_bytes agree; the look-ups never
// fail and the schema reference is a piece of the text.
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "scanner/input_decode.hpp"
#include "scanner/yaml_directive.hpp"
#include "schema/modeline.hpp"

using namespace ostrevane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::as_text(data, size);
  auto decoded = decode_input_bytes(bytes);
  auto moved = decode_input_bytes(std::string(bytes));
  FUZZ_REQUIRE(decoded.has_value() == moved.has_value(), "the two overloads disagree");
  if (!decoded) {
    FUZZ_REQUIRE(!decoded.error().message.empty(), "empty decode error");
    FUZZ_REQUIRE(decoded.error().message == moved.error().message, moved.error().message);
    return 0;
  }
  const std::string& text = *decoded;
  FUZZ_REQUIRE(text == *moved, "the two overloads decode differently");
  FUZZ_REQUIRE(validate_utf8(text).has_value(), "decoded text is not UTF-8");
  if (detect_input_encoding(bytes) == InputEncoding::Utf8) {
    FUZZ_REQUIRE(text == bytes, "UTF-8 input was changed");
  }

  (void)detect_yaml_directive(text);
  if (auto reference = find_schema_modeline(text)) {
    FUZZ_REQUIRE(text.find(*reference) != std::string::npos, *reference);
    FUZZ_REQUIRE(validate_utf8(*reference).has_value(), *reference);
  }
  // The white-space helpers on every suffix would be quadratic: the first
  // few are enough to start inside every kind of sequence.
  for (std::size_t i = 0; i < text.size() && i < 8; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    const std::string_view rest = std::string_view(text).substr(i);
    FUZZ_REQUIRE(white_space_length(rest) <= rest.size(), "white space past the end");
    const std::string_view front = trim_white_space_front(rest);
    const std::string_view back = trim_white_space_back(rest);
    FUZZ_REQUIRE(front.data() + front.size() == rest.data() + rest.size(), "front trim moved end");
    FUZZ_REQUIRE(back.data() == rest.data(), "back trim moved start");
  }
  return 0;
}
