// Integers beyond 64 bits, kept as literal text plus base.
//
// Converting a long hexadecimal literal to decimal digits is quadratic, so
// nothing here does it unless asked: the resolver keeps the literal's digits
// and base (linear), Python builds its int from them with the base (linear
// for power-of-two bases), and decimal text is made only on demand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrevane {

class Value;

// Digits of an integer literal in `base`: an optional '-', then digits of the
// base with no prefix, no '_' and no leading zeros (just "0" for zero).
struct BigIntLiteral {
  std::string digits;
  std::uint8_t base = 10;
};

// For prefixed literals ("0x", "0o", "0b", any case), and the YAML 1.1 octal
// form ("0" then decimal digits): their digits and base, '_' removed, sign
// kept as '-' ('+' dropped). Nothing for the empty text, a sign alone, fewer
// than two characters after removing '_', or a plain decimal number (which
// the caller keeps as written). Linear in the length of the text.
[[nodiscard]] std::optional<BigIntLiteral> parse_big_int_literal(std::string_view text);

// The BigInt value for an integer literal: `parse_big_int_literal` when it
// applies, else the text as written with base 10.
[[nodiscard]] Value big_int_from_literal(std::string_view text);

// Decimal digits of `digits` in `base` ('-' kept, '+' and '_' dropped,
// leading zeros removed). Linear for base 10, quadratic otherwise.
[[nodiscard]] std::string big_int_to_decimal(std::string_view digits, std::uint8_t base);

// Decimal digits a literal would have, as an upper bound (for limits).
[[nodiscard]] std::uint64_t big_int_decimal_digits_bound(std::string_view digits,
                                                         std::uint8_t base) noexcept;

// A canonical text of the integer's value, equal for equal integers whatever
// their base or spelling: '-' for negatives (never for zero), then the
// magnitude in lower-case hexadecimal without leading zeros. Linear for
// power-of-two bases; for base 10 it costs what a decimal-to-binary
// conversion costs (quadratic, as for CPython's int()).
void append_big_int_canonical(std::string& out, std::string_view digits, std::uint8_t base);

// Nearest double of the value (correctly rounded), ±inf beyond the range,
// NaN when the digits are not a number in the base. Linear.
[[nodiscard]] double big_int_to_double(std::string_view digits, std::uint8_t base) noexcept;

// Numeric equality of two literals. Linear unless the bases differ and one of
// them is 10.
[[nodiscard]] bool big_int_equal(std::string_view a, std::uint8_t base_a, std::string_view b,
                                 std::uint8_t base_b);

// Numeric order of two literals: negative, zero or positive as a is below,
// equal to or above b. Linear when both bases are 10 or both powers of two;
// a decimal against another base is converted (quadratic) only when their
// lengths leave the order open, so only numbers of about the same size pay.
[[nodiscard]] int big_int_compare(std::string_view a, std::uint8_t base_a, std::string_view b,
                                  std::uint8_t base_b);

}  // namespace ostrevane
