// Plain-scalar safety: may a string be written without quotes?
//
// Input: a text (UTF-8 bytes) and the `ResolverMode` the output is meant for.
// Output: true when a reader could take the plain text for something else:
// null, a boolean, a number, a special float (and under YAML 1.1 a date or
// the value key "="), an indicator, a comment or value marker, surrounding
// blanks, a control character, a line break (NEL, U+2028 and U+2029
// included), a byte-order mark or a document marker. The rules are wider
// than the reader's: the YAML 1.1 keywords are quoted in every mode, and
// YAML 1.2 output also quotes what YAML 1.1 reads as a number (except texts
// holding ':', such as base-60 "1:30", and dates, which YAML 1.2 output
// leaves plain). What YAML 1.1 readers tag as an int is quoted by their
// pattern, not by our reader's value: such a reader reads a base-60 int of
// any size, and fails on "0b_", which ours reads as strings. Pure; nothing
// fails.
#pragma once

#include <cstddef>
#include <string_view>

#include "resolver/resolver.hpp"

namespace ostrevane {

[[nodiscard]] bool plain_needs_quotes(std::string_view text, ResolverMode mode) noexcept;

// The YAML 1.1 rules (compatible form under Yaml11Compat) read the untagged
// plain text as Int, BigInt or Float.
[[nodiscard]] bool resolves_as_number_11(std::string_view text, ResolverMode mode) noexcept;

// A loose date or date-time test: anything the timestamp reader could accept
// passes (with a few look-alikes it would refuse), so quoting stays safe.
[[nodiscard]] bool looks_like_timestamp(std::string_view text) noexcept;

struct FoldSpace {
  bool found;
  std::size_t index;
};
// First single space with a non-space byte on each side (index >= 1).
[[nodiscard]] FoldSpace find_fold_space(std::string_view text) noexcept;

}  // namespace ostrevane
