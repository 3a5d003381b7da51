// Test-only one-line form of a Value tree, for tables of expected results:
//   null  bool{true}  int{1}  bigint{123}  bigint{16:ff}  float{1.5}
//   str{a}  ts{2001-12-14}  seq{a,b}  map{k:v,k2:v2}  tag{!x,inner}
#pragma once

#include <charconv>
#include <string>

#include "value/value.hpp"
#include "resolver/timestamp.hpp"

namespace ostrevane::testing {

inline void append_dump(std::string& out, const Value& v) {
  switch (v.kind()) {
    case ValueKind::Null:
      out += "null";
      return;
    case ValueKind::Bool:
      out += v.as_bool() ? "bool{true}" : "bool{false}";
      return;
    case ValueKind::Int:
      out += "int{" + std::to_string(v.as_int()) + "}";
      return;
    case ValueKind::BigInt:
      out += "bigint{";
      if (v.big_int_base() != 10) out += std::to_string(v.big_int_base()) + ":";
      out.append(v.text());
      out += '}';
      return;
    case ValueKind::Float: {
      char buf[64];
      const auto r = std::to_chars(buf, buf + sizeof buf, v.as_float());
      out += "float{";
      out.append(buf, r.ptr);
      out += '}';
      return;
    }
    case ValueKind::String:
      out += "str{";
      out.append(v.text());
      out += '}';
      return;
    case ValueKind::Timestamp:
      out += "ts{" + format_timestamp(v.as_timestamp()) + "}";
      return;
    case ValueKind::Sequence: {
      out += "seq{";
      bool first = true;
      for (const Value& item : v.items()) {
        if (!first) out += ',';
        first = false;
        append_dump(out, item);
      }
      out += '}';
      return;
    }
    case ValueKind::Mapping: {
      out += "map{";
      bool first = true;
      for (const ValuePair& p : v.pairs()) {
        if (!first) out += ',';
        first = false;
        append_dump(out, p.key);
        out += ':';
        append_dump(out, p.value);
      }
      out += '}';
      return;
    }
    case ValueKind::Tagged:
      out += "tag{";
      out.append(v.tag());
      out += ',';
      append_dump(out, v.inner());
      out += '}';
      return;
  }
}

inline std::string dump_value(const Value& v) {
  std::string out;
  append_dump(out, v);
  return out;
}

}  // namespace ostrevane::testing
