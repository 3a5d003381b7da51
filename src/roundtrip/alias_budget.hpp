// Alias expansion of composed node trees, measured by the rule the plain
// decoder charges.
//
// Input: a node (read only), or the document roots of one load. Output:
// what one node makes when an expansion copies it (node_charge); and, for
// the roads that read a text into Python values from node trees, the
// refusal that the plain road gives the same text: the first alias whose
// expansion passes AliasBudget::for_text(), as a DecodeError with the
// plain road's message at the alias (check_text_alias_budget).
//
// The rule, the decoder's (decode/decoder.cpp): a node counts one, a custom
// tag (is_custom_tag of the tag as written) one more for its wrapper and the
// bytes of its text as written, a merge key (is_merge_key) one more and the
// bytes of the merge tag; a scalar counts the bytes of its text. An alias
// charges, at each use, everything its definition expands to, nested
// aliases included, so a bomb is refused at the same alias on every road.
// The budget is shared by all documents of the load, as the decoder's is
// by all documents of the stream; an alias means what AnchorIndex says
// (the nearest complete definition before it, in its own file), so
// included files are measured as they were spliced in.
//
// Cost: one walk with an explicit stack (any depth is safe) and one entry
// per anchored node; the anchor index is built only when an alias is met.
#pragma once

#include <span>

#include "decode/decoder.hpp"
#include "roundtrip/node.hpp"
#include "util/alias_budget.hpp"
#include "util/result.hpp"

namespace ostrevane {

[[nodiscard]] AliasCharge node_charge(const YamlNode& node) noexcept;

[[nodiscard]] Result<void, DecodeError> check_text_alias_budget(std::span<const YamlNode> roots);

}  // namespace ostrevane
