// The anchor members of OstrevaneNode: none yet; the class takes whatever
// these tables hold, after the value members.
#include "ffi/document/node.hpp"

namespace ostrevane::ffi {

std::span<const PyGetSetDef> node_anchor_getsets() noexcept { return {}; }

std::span<const PyMethodDef> node_anchor_methods() noexcept { return {}; }

}  // namespace ostrevane::ffi
