// Short builders for Value trees in writer tests.
#pragma once

#include <string_view>
#include <utility>

#include "value/value.hpp"

namespace ostrevane::test {

inline Value N() { return Value::null(); }
inline Value B(bool b) { return Value::boolean(b); }
inline Value I(std::int64_t i) { return Value::integer(i); }
inline Value F(double f) { return Value::floating(f); }
inline Value S(std::string_view s) { return Value::string(s); }
inline Value Tag(std::string_view tag, Value inner) { return Value::tagged(tag, std::move(inner)); }
inline ValuePair KV(Value k, Value v) { return ValuePair{std::move(k), std::move(v)}; }

template <class... V>
Value Seq(V&&... items) {
  ValueList list;
  (list.push_back(std::forward<V>(items)), ...);
  return Value::sequence(std::move(list));
}

template <class... P>
Value Map(P&&... pairs) {
  ValuePairList list;
  (list.push_back(std::forward<P>(pairs)), ...);
  return Value::mapping(std::move(list));
}

}  // namespace ostrevane::test
