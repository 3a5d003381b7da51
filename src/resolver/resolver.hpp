// Scalar resolution: what a scalar's text means under YAML 1.2 or YAML 1.1.
//
// Input: a scalar's text (UTF-8 bytes, any length, no terminator needed),
// whether it was written plain, and its tag if any (the short "!!int" or the
// long "tag:yaml.org,2002:int" form; a verbatim "!<...>" is not unwrapped
// here). Output: a `ResolvedScalar` classification, or with
// `resolve_plain_scalar` a `Value` that owns (or shares) its text.
// Invariants: pure functions, no global state, nothing fails; only plain
// scalars resolve implicitly, while a recognised tag decides for any style.
// Nothing allocates except the owned results and the optional copy of
// `strip_underscores`. No literal costs more than linear time: integers beyond
// 64 bits keep their literal and base instead of being converted here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "value/value.hpp"
#include "resolver/big_int.hpp"

namespace ostrevane {

// One byte; the writers take the same byte to decide quoting.
enum class ResolverMode : std::uint8_t {
  Yaml12 = 0,        // YAML 1.2 core schema
  Yaml11 = 1,        // YAML 1.1
  Yaml11Compat = 2,  // YAML 1.1 in the form OPT_PYYAML_COMPAT selects
};

// Any byte other than 0 and 1 means the compatible YAML 1.1 form.
[[nodiscard]] constexpr ResolverMode resolver_mode_from_byte(std::uint8_t b) noexcept {
  return b == 0 ? ResolverMode::Yaml12 : b == 1 ? ResolverMode::Yaml11 : ResolverMode::Yaml11Compat;
}

// The classification of a scalar. Texts (`BigInt`, `Str`) stay with the
// caller; `Merge` is the merge key "<<" (or a "!!merge" tag under YAML 1.1).
struct ResolvedScalar {
  enum class Kind : std::uint8_t { Null, Bool, Int, BigInt, Float, Str, Merge };

  Kind kind = Kind::Str;
  bool boolean = false;
  std::int64_t integer = 0;
  double number = 0.0;

  static constexpr ResolvedScalar null() noexcept { return {Kind::Null}; }
  static constexpr ResolvedScalar str() noexcept { return {Kind::Str}; }
  static constexpr ResolvedScalar merge() noexcept { return {Kind::Merge}; }
  static constexpr ResolvedScalar big_int() noexcept { return {Kind::BigInt}; }
  static constexpr ResolvedScalar of_bool(bool b) noexcept { return {Kind::Bool, b}; }
  static constexpr ResolvedScalar of_int(std::int64_t i) noexcept { return {Kind::Int, false, i}; }
  static constexpr ResolvedScalar of_float(double f) noexcept {
    return {Kind::Float, false, 0, f};
  }
};

// "null", "bool", "int" (Int and BigInt), "float", "str", "merge".
[[nodiscard]] std::string_view type_name(ResolvedScalar::Kind kind) noexcept;

using OptionalTag = std::optional<std::string_view>;

// ---- dispatch by mode

// Classification (Merge kept). Used by the plain decoder.
[[nodiscard]] ResolvedScalar resolve_scalar_kind(ResolverMode mode, std::string_view text, bool plain,
                                                 OptionalTag tag) noexcept;

// The owned form: a `Value` of kind Null, Bool, Int, BigInt, Float or String.
// A BigInt carries `big_int_from_literal` of the text; a merge key comes back
// as the String "<<" (static text).
[[nodiscard]] Value resolve_plain_scalar(ResolverMode mode, std::string_view text, bool plain,
                                         OptionalTag tag);

// ---- YAML 1.2 core rules

[[nodiscard]] ResolvedScalar resolve_scalar_yaml12(std::string_view text, bool plain,
                                                   OptionalTag tag) noexcept;
[[nodiscard]] std::optional<std::int64_t> parse_int_12(std::string_view text) noexcept;
[[nodiscard]] bool is_int_12(std::string_view text) noexcept;
// ".inf", "-.Inf", ".NAN" and the other exact spellings.
[[nodiscard]] std::optional<double> parse_special_float(std::string_view text) noexcept;
// The strict float syntax shared by both rule sets: [+-] then inf, infinity
// or nan in any case, or digits[.digits] / .digits, then [eE][+-]digits. The
// whole text must match; out of range gives ±inf or ±0.0.
[[nodiscard]] std::optional<double> parse_float_syntax(std::string_view text) noexcept;

// ---- YAML 1.1 rules (compat: the OPT_PYYAML_COMPAT form)

[[nodiscard]] ResolvedScalar resolve_scalar_yaml11(bool compat, std::string_view text, bool plain,
                                                   OptionalTag tag) noexcept;
// true, false, or nothing for not-a-bool.
[[nodiscard]] std::optional<bool> parse_bool_11(std::string_view text, bool compat) noexcept;
[[nodiscard]] bool is_int_11(std::string_view text) noexcept;
[[nodiscard]] std::optional<std::int64_t> parse_int_11(std::string_view text) noexcept;
[[nodiscard]] std::optional<double> parse_sexagesimal_float(std::string_view text) noexcept;
// The text without '_': a view of `text` itself when it holds none, else a
// view of `scratch`, which receives the copy.
[[nodiscard]] std::string_view strip_underscores(std::string_view text, std::string& scratch);
// Integer in `base`; a leading sign is refused; nothing on overflow.
[[nodiscard]] std::optional<std::int64_t> parse_unsigned_radix(std::string_view text,
                                                               unsigned base) noexcept;

// ---- the 1.1-against-1.2 comparison

// (type name under `mode`, type name under YAML 1.2), or nothing when the
// names are equal or the first is "str". Always nothing under mode 0.
[[nodiscard]] std::optional<std::pair<std::string_view, std::string_view>> resolution_difference(
    ResolverMode mode, std::string_view text, bool plain, OptionalTag tag) noexcept;

}  // namespace ostrevane
