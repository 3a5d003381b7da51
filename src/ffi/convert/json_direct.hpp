// `to_json` in one walk: Python objects written straight as JSON text.
//
// Input: one borrowed Python object, the call's EncodeOptions (depth 0, no
// arena, no kept strs) and JsonOptions. Output: appended to `out`, exactly
// the bytes that encode_object_guarded followed by write_json_value_guarded
// give for the same object, with the same error when either would fail.
// Requires the lock, and holds it throughout: no Value tree is built for
// the common objects, so there is no tree to write without it.
//
// None, bool, the exact types int (within 64 bits), float, str, list, dict
// and tuple, and dict subclasses are written as they are met. Every other
// object (another subclass, a special type, a tag, whatever `default` is
// asked about) and every object the fast steps decline (an int beyond 64
// bits, a str with unpaired surrogates, anything at the depth limit) is
// converted by the encoder into a Value, which the JSON writer writes in
// place; so both roads share one set of rules.
//
// Callbacks run in the encoder's order and see what it would show them: a
// list or dict is read as it stood when its conversion began, even when a
// callback changes it meanwhile. While no Python code can run, containers
// are read in place; the first time some may (an object handed to the
// encoder), every list and dict being written takes references to the items
// it has still to write (see Frame in json_direct.cpp).
//
// Sorted keys are not written here: the caller takes the two-pass road for
// them.
#pragma once

#include "emit_util/output_buffer.hpp"
#include "encode/writer.hpp"
#include "ffi/convert/encode.hpp"

namespace ostrevane::ffi {

// Appends the JSON text of `obj` (borrowed) to `out`. A conversion error is
// returned as it is; a key the JSON writer refuses becomes
// OstrevaneEncodeError, but only after the whole object was converted, as on
// the two-pass road, where conversion errors come first. The partial output
// must then be discarded. `options.sort_keys` must be false.
[[nodiscard]] PyResult<void> write_json_direct(OutputBuffer& out, PyObject* obj,
                                               const EncodeOptions& encode,
                                               const JsonOptions& options);

}  // namespace ostrevane::ffi
