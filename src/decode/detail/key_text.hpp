// Shared by the two key identities (canonical_key and value_key_string).
#pragma once

#include <string>

#include "value/value.hpp"

namespace ostrevane::detail {

// The value of a BigInt independent of its spelling and base: "n:" and its
// decimal digits ('+', '_' and leading zeros dropped), or, for literals in a
// power-of-two base too long to convert to decimal cheaply, "x:" and the
// base-independent hexadecimal form.
void append_big_int_key(std::string& out, const Value& v);

}  // namespace ostrevane::detail
