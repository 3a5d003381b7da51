// Number texts shared by the YAML and JSON writers.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "decode/value.hpp"
#include "resolver/big_int.hpp"

namespace ostrevane::detail {

inline void append_int(std::string& out, std::int64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

// Decimal digits of a BigInt. The encoder makes clean decimal text, copied
// as it is; a decoded literal may keep '_', a leading '+' or another base,
// none of which reads back as the same integer, so those are converted.
inline void append_big_int_decimal(std::string& out, const Value& big_int) {
  const std::string_view text = big_int.text();
  const std::uint8_t base = big_int.big_int_base();
  if (base == 10 && text.find_first_of("_+") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.append(big_int_to_decimal(text, base));
}

}  // namespace ostrevane::detail
