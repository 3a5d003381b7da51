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
// tag (is_custom_tag of the tag as it reads) one more for its wrapper and
// the bytes of its text (tag_bytes: as written, or as it reads where the
// tags reach Python, LoadedTags::Called), a merge key (is_merge_key) one
// more and the bytes of the merge tag; a scalar counts the bytes of its
// text. An alias charges, at each use, everything its definition expands
// to, nested aliases included, so a bomb is refused at the same alias on
// every road. Where the tags reach Python, each node with a custom tag that
// a %TAG expansion makes longer than written charges what it adds
// (tag_expansion_charge) when it is met, at the node, so that a long prefix
// on many tags is refused at the same node on every road too.
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

[[nodiscard]] AliasCharge node_charge(const YamlNode& node,
                                      LoadedTags loaded_tags = LoadedTags::Kept) noexcept;

[[nodiscard]] Result<void, DecodeError> check_text_alias_budget(
    std::span<const YamlNode> roots, LoadedTags loaded_tags = LoadedTags::Kept);

}  // namespace ostrevane
