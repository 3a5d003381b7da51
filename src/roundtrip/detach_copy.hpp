// The copy that takes an alias's place when the alias is detached.
//
// Input: the anchored node an alias reads (read only), the AnchorIndex of
// its document root, the alias depth reached so far and a node budget
// shared by the whole copy. Output: a new tree that reads as the anchored
// node reads, standing alone: every alias inside it is replaced by a copy of
// the definition it reads (the nearest one before it, as AnchorIndex tells),
// and no node of the copy carries an anchor, so the copy defines nothing an
// alias could come to mean. An alias that reads no definition (possible only
// after edits) becomes a Null node that keeps its comments and tag.
//
// Each copied node keeps its comments (an expanded alias those of its own
// place as well, see keep_alias_comments), tag, scalar or collection style and
// start position; its end is set to its start, and it has no directives or
// document flags. A node a directive produced keeps its include source, so
// the copy is written as the directive (`!secret name`, `!include file`):
// a secret's value, or an included file's content and comments, never
// reach the text the copy lands in. The kept source text of a block scalar is
// dropped: it is indented for the place the anchored node stands in, and
// the copy lands at another nesting level, so the emitter writes it anew.
//
// Bounds: more than limits::kNodeAliasDepth aliases nested along one branch,
// or more than the budget holds (callers start with
// AliasBudget::for_node_trees(); each node copied is charged node_charge,
// an expanded alias one node besides), refuse the whole copy; it never holds less than
// the text reads. The limits are checked by a first walk that allocates
// nothing, so a refused copy costs no memory.
//
// Ownership: the result owns everything and shares nothing with the source
// tree. The index must be built over the tree that holds `node` and the tree
// must not change during the call. Every recursive step runs through
// with_stack_guard.
#pragma once

#include <cstdint>
#include <string>

#include "roundtrip/anchors.hpp"
#include "roundtrip/node.hpp"
#include "util/alias_budget.hpp"
#include "util/result.hpp"

namespace ostrevane {

// The bound a refused copy would break.
enum class DetachLimit : std::uint8_t {
  AliasDepth,  // aliases nested deeper than limits::kNodeAliasDepth
  NodeBudget,  // more nodes than limits::kNodeAliasBudget
  ByteBudget,  // more scalar and tag text than limits::kAliasByteBudget
};

// The copy of `node`, whose aliases are expanded starting at alias depth
// `depth` (0 for the anchored node itself), or the limit that refuses it.
// Charges `budget` for every node copied.
[[nodiscard]] Result<YamlNode, DetachLimit> clone_for_detach(const YamlNode& node,
                                                             const AnchorIndex& anchors,
                                                             std::uint32_t depth,
                                                             AliasBudget& budget);

// The same, the first step run through with_stack_guard.
[[nodiscard]] Result<YamlNode, DetachLimit> clone_for_detach_guarded(const YamlNode& node,
                                                                     const AnchorIndex& anchors,
                                                                     std::uint32_t depth,
                                                                     AliasBudget& budget);

// Gives the copy that takes an alias's place the comments of that place:
// the alias's blank lines and head lines (above the copy's own), and its
// trailing comment, which replaces the copy's. Nested aliases of a copy keep
// theirs the same way.
void keep_alias_comments(const YamlNode& alias, YamlNode& copy);

// The message of the ValueError that refuses a detach, naming the limit.
[[nodiscard]] std::string detach_limit_message(DetachLimit limit);

}  // namespace ostrevane
