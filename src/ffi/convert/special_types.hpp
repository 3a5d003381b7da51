// The special-type steps of the encoder, shared by both roads of `dumps`.
//
// Input: one borrowed Python object that no built-in rule took. Output: what
// the step makes of it, or "not mine" (an empty result), or a PyError. The
// plain road (encode.cpp) turns the answers into Values; the represent road
// (src/ffi/represent) into nodes, representing delegated objects itself.
// Lock held; nothing is kept between calls except interned names.
#pragma once

#include <functional>
#include <optional>

#include "ffi/convert/encode.hpp"

namespace ostrevane::ffi {

// An outcome of the special-type steps: a value, an error, or "not mine".
using MaybeValue = PyResult<std::optional<Value>>;

// A date, time or datetime (anything with a callable `isoformat`) as its ISO
// 8601 string under the options' date flags; "not mine" with
// OPT_PASSTHROUGH_DATETIME or when `isoformat` is missing or gives no str.
[[nodiscard]] MaybeValue encode_datetime(PyObject* obj, const EncodeOptions& options);

// Whether `obj`'s class is made by the enum metaclass.
[[nodiscard]] PyResult<bool> is_enum_instance(PyObject* obj);

// Calls `visit(name, value)` (both borrowed) for each instance field of a
// dataclass instance, in __dataclass_fields__ order, reading each attribute
// just before its visit. ClassVar and InitVar pseudo-fields are skipped: they
// are not instance data (an InitVar without a default is no attribute at
// all). That kind is read only from a dict of fields; from a tuple, list or
// any other iterable of names every name is a field. A name that is not a
// str is TypeError. False, with no visit, when `obj` is not a dataclass
// instance; the first error (of the walk or of a visit) ends it.
using DataclassFieldVisitor = std::function<PyResult<void>(PyObject* name, PyObject* value)>;
[[nodiscard]] PyResult<bool> visit_dataclass_fields(PyObject* obj,
                                                    const DataclassFieldVisitor& visit);

// The plain Python form of a numpy object (tolist(), else item()), or an
// empty reference when `obj` is not one.
[[nodiscard]] PyResult<PyRef> numpy_to_python(PyObject* obj);

}  // namespace ostrevane::ffi
