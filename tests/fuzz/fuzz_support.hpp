// Shared by the fuzz harnesses: a check that stops the run with a message
// (libFuzzer records the input as a crash, the replay names the file), and
// value comparison and walks that never recurse.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "value/value.hpp"
#include "resolver/timestamp.hpp"

#define FUZZ_REQUIRE(cond, what)                                                    \
  do {                                                                              \
    if (!(cond)) ::ostrevane::fuzz::fail(__FILE__, __LINE__, #cond, (what));        \
  } while (0)

namespace ostrevane::fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* cond,
                              std::string_view what) {
  std::fprintf(stderr, "%s:%d: fuzz invariant broken: %s\n  %.*s\n", file, line, cond,
               static_cast<int>(what.size()), what.data());
  std::abort();
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Structural equality like Value's ==, except that a NaN equals a NaN: a
// tree that went out and came back must compare equal to itself. With
// `timestamps_as_text`, a Timestamp in `a` also equals the String of its
// text in `b`: that is how the writers print timestamps. An explicit work
// stack, so decoded trees of any depth are fine.
inline bool same_value(const Value& a, const Value& b, bool timestamps_as_text = false) {
  std::vector<std::pair<const Value*, const Value*>> work{{&a, &b}};
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    if (timestamps_as_text && x->kind() == ValueKind::Timestamp &&
        y->kind() == ValueKind::String) {
      if (format_timestamp(x->as_timestamp()) != y->text()) return false;
      continue;
    }
    if (x->kind() != y->kind()) return false;
    switch (x->kind()) {
      case ValueKind::Float:
        if (std::isnan(x->as_float()) && std::isnan(y->as_float())) continue;
        if (!(*x == *y)) return false;
        break;
      case ValueKind::Sequence: {
        const ValueList& xs = x->items();
        const ValueList& ys = y->items();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = 0; i < xs.size(); ++i) work.emplace_back(&xs[i], &ys[i]);
        break;
      }
      case ValueKind::Mapping: {
        const ValuePairList& xs = x->pairs();
        const ValuePairList& ys = y->pairs();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = 0; i < xs.size(); ++i) {
          work.emplace_back(&xs[i].key, &ys[i].key);
          work.emplace_back(&xs[i].value, &ys[i].value);
        }
        break;
      }
      case ValueKind::Tagged:
        if (x->tag() != y->tag()) return false;
        work.emplace_back(&x->inner(), &y->inner());
        break;
      default:
        if (!(*x == *y)) return false;
        break;
    }
  }
  return true;
}

using ostrevane::for_each_node;

}  // namespace ostrevane::fuzz
