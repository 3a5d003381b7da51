// Canonical key texts for duplicate-key detection.
//
// Two keys get the same text exactly when Python would store them as one dict
// key: numbers compare by value across Bool, Int, BigInt and Float, whatever
// the literal's spelling or base. Texts and tags carry their byte length, so
// no text can imitate the structure around it.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "decode/decoder.hpp"
#include "decode/detail/key_text.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

template <class T>
void append_number(std::string& out, T n) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void append_length_prefixed(std::string& out, std::string_view text) {
  append_number(out, text.size());
  out += ':';
  out.append(text);
}

void append_float(std::string& out, double f) {
  if (std::isfinite(f) && std::trunc(f) == f) {
    // An integral float equals the integer of the same value in Python,
    // however large, so it gets that integer's exact decimal digits.
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::fixed, 0);
    std::string_view digits(buf, static_cast<std::size_t>(r.ptr - buf));
    if (digits == "-0") digits = "0";
    out += "n:";
    out.append(digits);
    return;
  }
  std::uint64_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  out += "f:";
  append_number(out, bits);
}

void append_canonical(std::string& out, const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null:
      out += "null";
      return;
    case ValueKind::Bool:
      out += v.as_bool() ? "n:1" : "n:0";
      return;
    case ValueKind::Int:
      out += "n:";
      append_number(out, v.as_int());
      return;
    case ValueKind::BigInt:
      detail::append_big_int_key(out, v);
      return;
    case ValueKind::Float:
      append_float(out, v.as_float());
      return;
    case ValueKind::String:
      out += "s:";
      append_length_prefixed(out, v.text());
      return;
    case ValueKind::Timestamp:
      out += "ts:";
      append_timestamp(out, v.as_timestamp());
      return;
    case ValueKind::Sequence: {
      out += "seq:[";
      bool first = true;
      for (const Value& item : v.items()) {
        if (!first) out += ',';
        first = false;
        with_stack_guard([&] { append_canonical(out, item); });
      }
      out += ']';
      return;
    }
    case ValueKind::Mapping: {
      out += "map:{";
      bool first = true;
      for (const ValuePair& p : v.pairs()) {
        if (!first) out += ',';
        first = false;
        with_stack_guard([&] {
          append_canonical(out, p.key);
          out += '=';
          append_canonical(out, p.value);
        });
      }
      out += '}';
      return;
    }
    case ValueKind::Tagged:
      out += "t:";
      append_length_prefixed(out, v.tag());
      out += ':';
      with_stack_guard([&] { append_canonical(out, v.inner()); });
      return;
  }
}

}  // namespace

namespace detail {

void append_big_int_key(std::string& out, const Value& v) {
  const std::string_view digits = v.text();
  const std::uint8_t base = v.big_int_base();
  // Decimal text of a long literal in a power-of-two base costs quadratic
  // time; past the length where Python itself refuses decimal conversion the
  // base-independent hexadecimal form stands in.
  if (base != 10 && big_int_decimal_digits_bound(digits, base) > limits::kBigIntDecimalDigits) {
    out += "x:";
    append_big_int_canonical(out, digits, base);
    return;
  }
  out += "n:";
  out += big_int_to_decimal(digits, base);
}

}  // namespace detail

void append_canonical_key(std::string& out, const Value& key) { append_canonical(out, key); }

std::string canonical_key(const Value& key) {
  std::string out;
  append_canonical(out, key);
  return out;
}

}  // namespace ostrevane
