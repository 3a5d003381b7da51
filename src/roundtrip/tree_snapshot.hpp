// What a tree snapshot shows of a node, apart from its Python value.
//
// Input: a node of a composed or edited tree, read only. Output: the static
// kind and style names a snapshot reports, and the comment texts it carries,
// each an owned copy. A snapshot shows the tree as written: aliases stay
// aliases and merge keys stay pairs, so nothing here follows an alias.
//
// Head comments are read where comment attachment stores them: the lines
// above a mapping's first key belong to the mapping node, and a sequence
// item (or a mapping item of a sequence) with a comment on its dash line
// keeps, in one list, the lines above the dash and those between the dash
// line and its first entry, told apart by `below_introducer`. Pure
// functions; no Python here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "roundtrip/comment_rules.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

// "scalar" (a Null node too), "sequence", "mapping" or "alias".
[[nodiscard]] std::string_view snapshot_kind_name(const YamlNode& node) noexcept;

// A snapshot's style is the cursor's: node_style_name (document/node_facts.hpp).

// The comment lines above a sequence item: when a comment stands on its dash
// line, only the lines above the dash (those below it are read by the item's
// first key). Both readers follow item_head_owner and pair_head_owner
// (comment_rules.hpp), as the cursor's comment_before does; the foot lines
// are joined_foot_comment's.
[[nodiscard]] std::optional<std::string> item_comment_before(const YamlNode& item);

// The comment lines above pair `index` of `mapping`, as its value shows them:
// for the first pair the mapping's own head lines (only those below the dash
// line when the mapping is a sequence item with a comment there), for a
// later pair its key's head lines. `mapping_is_item`: the mapping is an item
// of a sequence.
[[nodiscard]] std::optional<std::string> pair_value_comment_before(const YamlNode& mapping,
                                                                   std::size_t index,
                                                                   bool mapping_is_item);

}  // namespace ostrevane
