// `dumps` and `to_json`: Python objects to YAML or JSON text as `bytes`.
//
// Both convert the object to a Value tree with the interpreter lock held
// (ffi/convert/encode.hpp), then release the lock once, write the tree
// (encode/writer.hpp) into one buffer and destroy it, and take the lock back
// to copy the buffer into `bytes`; except `to_json` without sorted keys,
// which writes the objects in one walk (ffi/convert/json_direct.hpp). The
// module's entries parse the arguments and hand them over here.
#pragma once

#include <cstdint>

#include "emit_util/scalar_text.hpp"
#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// The arguments of `dumps` after parsing; objects borrowed, nullptr when
// absent or None. `serializers` is already known to be a dict.
struct DumpsArgs {
  PyObject* obj = nullptr;
  PyObject* default_fn = nullptr;
  std::uint64_t option = 0;
  PyObject* serializers = nullptr;
  std::uint64_t width = 0;
  PyObject* represent = nullptr;
};

struct ToJsonArgs {
  PyObject* obj = nullptr;
  PyObject* default_fn = nullptr;
  std::uint64_t option = 0;
};

// The null style of OPT_NULL_AS_KEYWORD / OPT_NULL_AS_TILDE (Default with
// neither); both together are a ValueError. Shared with the round-trip roads
// of loads, whose documents keep it.
[[nodiscard]] PyResult<NullStyle> null_style_from_option(std::uint64_t option);

// The roads of `to_json`, which give the same bytes: Chosen writes the
// Python objects in one walk with the lock held, unless keys are sorted;
// TwoPass always builds the Value tree first and writes it without the lock
// (the tests compare the two).
enum class JsonRoad : std::uint8_t { Chosen, TwoPass };

// New reference to the bytes of the text, or the error. Lock held.
[[nodiscard]] PyResult<PyRef> dumps(const DumpsArgs& args);
[[nodiscard]] PyResult<PyRef> to_json(const ToJsonArgs& args, JsonRoad road = JsonRoad::Chosen);

}  // namespace ostrevane::ffi
