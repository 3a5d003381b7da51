// Python values to nodes: what an assignment into a round-trip document
// puts into its tree.
//
// Input: a Python object (borrowed) and the document's settings: whether
// double quotes are preferred for strings that cannot stand plain, and the
// ResolverMode that decides which strings can. Output: a fresh node tree,
// owned by the caller: no comments, anchors, tags or positions; collections
// in block style; a Null made from None is marked synthetic, so the
// emitter writes it in the document's null style.
//
// Accepted: None, bool (and numpy booleans), anything with __index__ (ints
// beyond 64 bits as their decimal digits), float and anything with __float__
// (Decimal, Fraction), str, list and dict and their subclasses (a dict's
// keys convert by the same rules). Anything else, a tuple or a str holding
// a lone surrogate included, is TypeError "cannot convert {repr} to a YAML
// node"; nesting of 1000 levels (a list that holds itself) is ValueError.
//
// A list's items and a dict's pairs are taken (new references) before any
// of them converts, so Python code run by a conversion (__index__,
// __float__, __repr__) cannot change what is being read. On an error the
// partial tree is dropped and nothing else has changed. Every level runs
// through with_stack_guard. Lock held throughout.
#pragma once

#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

struct PyToNodeSettings {
  bool prefer_double_quotes = true;
  ResolverMode mode = ResolverMode::Yaml12;
  // The document reads plain dates and date-times as timestamps, so an
  // assigned string that looks like one is quoted.
  bool timestamps = false;
};

[[nodiscard]] PyResult<YamlNode> py_to_node(PyObject* value, const PyToNodeSettings& settings);

// TypeError "cannot convert {repr} to a YAML node" for `value` (borrowed), or
// the error its repr raised.
[[nodiscard]] PyError unconvertible_value_error(PyObject* value);

}  // namespace ostrevane::ffi
