// Number texts shared by the YAML and JSON writers.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

#include "value/value.hpp"
#include "emit_util/output_buffer.hpp"
#include "resolver/big_int.hpp"

namespace ostrevane::detail {

inline void append_int(OutputBuffer& out, std::int64_t value) {
  constexpr std::size_t kMaxDigits = 20;  // sign and 19 digits
  char* p = out.tail(kMaxDigits);
  out.commit(static_cast<std::size_t>(std::to_chars(p, p + kMaxDigits, value).ptr - p));
}

// The encoder makes clean decimal text, used as it is; a decoded literal may
// keep '_', a leading '+' or another base, none of which reads back as the
// same integer, so those are converted to decimal digits.
inline bool big_int_text_is_decimal(const Value& big_int) noexcept {
  return big_int.big_int_base() == 10 &&
         big_int.text().find_first_of("_+") == std::string_view::npos;
}

inline std::string big_int_decimal(const Value& big_int) {
  if (big_int_text_is_decimal(big_int)) return std::string(big_int.text());
  return big_int_to_decimal(big_int.text(), big_int.big_int_base());
}

inline void append_big_int_decimal(OutputBuffer& out, const Value& big_int) {
  if (big_int_text_is_decimal(big_int)) {
    out.append(big_int.text());
  } else {
    out.append(big_int_to_decimal(big_int.text(), big_int.big_int_base()));
  }
}

}  // namespace ostrevane::detail
