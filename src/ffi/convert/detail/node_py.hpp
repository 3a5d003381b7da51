// Pieces of the node-tree conversions shared by the plain form
// (node_to_py.cpp) and the annotated form (annotate.cpp); the merge rule is
// the Value conversion's too (decode.cpp).
#pragma once

#include <string_view>
#include <utility>

#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"

namespace ostrevane::ffi::detail {

// A str of UTF-8 text (lone surrogates passed through); most texts are ASCII
// and are copied straight in. New reference, or NULL with an error set.
[[nodiscard]] PyObject* new_str(std::string_view text) noexcept;

// The Python object of a scalar resolved under `mode`: None, bool, int (an
// int beyond 64 bits from its literal's digits and base), float or str ("<<"
// for a merge marker).
[[nodiscard]] PyResult<PyRef> resolved_scalar_to_py(ResolverMode mode, std::string_view text,
                                                    bool plain, OptionalTag tag);

// Merges `source` (borrowed) into the dict `target`: a dict's entries whose
// keys `target` lacks; each item of a list in turn; None nothing. What cannot
// be merged (any other object, and the leftovers of a list's items, gathered
// in a list) is returned as a new reference in `leftover`. False with an
// error set on failure.
[[nodiscard]] bool merge_into_py_dict(PyObject* target, PyObject* source, PyRef& leftover);

// Keeps what a merge key could not merge under the merge key itself. The
// first leftover takes the slot unless the key is already there; later ones
// of the same mapping gather in a list there. `slot_taken` is the mapping's
// flag. False with an error set on failure.
[[nodiscard]] bool preserve_merge_slot(PyObject* dict, PyObject* key, PyRef leftover,
                                       bool& slot_taken);

// One merge key of a mapping being built, the one rule of every road that
// builds dicts: `value` (borrowed) is the merge source after its tag
// callbacks, so a source that still is a mapping is merged; what cannot be
// merged is kept under the key that `make_key` makes (a new reference, or
// nullptr on failure), asked only then. False on failure.
template <class MakeKey>
[[nodiscard]] bool merge_pair(PyObject* dict, PyObject* value, MakeKey&& make_key,
                              bool& slot_taken) {
  PyRef leftover;
  if (!merge_into_py_dict(dict, value, leftover)) return false;
  if (!leftover) return true;
  PyRef key = PyRef::steal(make_key());
  if (!key) return false;
  return preserve_merge_slot(dict, key.get(), std::move(leftover), slot_taken);
}

}  // namespace ostrevane::ffi::detail
