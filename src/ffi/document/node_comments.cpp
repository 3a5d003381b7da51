// The comment members of OstrevaneNode: none yet; the class takes whatever
// these tables hold, after the value members.
#include "ffi/document/node.hpp"

namespace ostrevane::ffi {

std::span<const PyGetSetDef> node_comment_getsets() noexcept { return {}; }

std::span<const PyMethodDef> node_comment_methods() noexcept { return {}; }

}  // namespace ostrevane::ffi
