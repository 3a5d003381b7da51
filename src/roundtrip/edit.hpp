// Tree edits: replacing, appending and removing nodes of a document's tree,
// and the check that keeps every alias of an edited tree pointing at a
// definition.
//
// Input: a tree changed in place (a document root or a container in it) and
// fresh nodes, already converted from Python values, moved in. Output: the
// edited tree, with `comments.modified` set on what changed so that the
// document is written through the emitter from then on.
//
// Replacing keeps the place: a node that takes another's place takes over
// its head, inline and foot comments, the inline comment's gap, the value's
// pad after its introducer, and its anchor and tag; everything else (kind,
// contents, styles, positions, raw block text, blank lines) comes from the
// new node. The anchor is the place anchor (anchors.hpp): a directive's node
// hands on the anchor of the directive's line, and neither the produced
// content's own anchor nor its tag, which belong to the file or the secret
// it came from. The new node and everything in it are adopted into the file
// the place is written in (adopt_into_file), as appended pairs are into
// their mapping's. A root replaced in place also keeps its directives and document
// markers, without which its tag could name an undefined handle. An alias
// that named the old node's anchor names the new node, since the anchor
// stays with the place.
//
// The alias checks run before anything changes, so a refused edit leaves
// the tree untouched. A removal is refused when an alias left in the tree
// reads a definition that the removal takes out: the alias would be left
// without one, or, with its name defined twice, would silently read an
// earlier definition. Which definition an alias reads is the AnchorIndex's
// answer (the nearest complete one before it, in its own file). A
// replacement is refused when a merge key reads the replaced node (as its
// value, an item of its list, or through an alias) and the new node could
// not be merged there.
//
// Ownership: nodes are moved in and owned by the tree; no pointer into a
// child vector is kept across an append or an erase on it. Every walk keeps
// an explicit stack, so trees deeper than the composer's limit (edits can
// stack them) are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

enum class CarryOver : std::uint8_t {
  // Comments, anchor and tag of the old node stay with the place.
  Place,
  // A root's value replaced: as Place, and the document's directives, "---"
  // and byte-order mark stay too (the kept tag may use a %TAG handle).
  Root,
  // A whole document replaced: nothing of the old root survives.
  Nothing,
};

// Puts `replacement` in the place of `target` (carrying over as `carry`
// says) and marks it modified. The old node and its subtree are destroyed.
void replace_node(YamlNode& target, YamlNode replacement, CarryOver carry = CarryOver::Place);

// After an assignment: drops the tag `node` carried over when the tag would
// read the new content as something else (a "!!int" over a null, a "!!str"
// over a number, a "!!map" over a scalar), so that the written text loads
// back as the assigned value. A tag that reads the content as it stands
// (a custom tag over a string or a collection, "!!int" over an integer)
// stays.
void drop_contradicted_tag(YamlNode& node, ResolverMode mode);

// Appends the pair (key, value) to `mapping`, marking both new nodes. When
// the pair before it ends with a block sequence at its key's column, the
// comment lines after that sequence (and after its last entries) stand
// right above the new key once written, and are read back as its own: they
// become the new key's head lines.

void append_new_pair(YamlNode& mapping, YamlNode key, YamlNode value);

// Removes item `index` of `sequence` (later items move down) and marks the
// sequence.
void erase_item(YamlNode& sequence, std::size_t index);

// Removes the pairs `pairs` (ascending pair numbers) of `mapping`, keeping
// the order of the others, and marks the mapping.
void erase_pairs(YamlNode& mapping, std::span<const std::size_t> pairs);

// After an edit left child `child` of `parent` (an index into its children)
// without entries, or replaced it by something other than a block
// collection: the comment lines after its last entry, which it can no longer
// hold, move to where they will stand, and be read back from, once written:
// above the entry after it, or, after the parent's last entry, to the top of
// the parent's own. A directive's node keeps them: they would go into
// another file. `closing_blanks` (from closing_blank_lines of the node
// replaced) go above the entry after it.
void settle_lines(YamlNode& parent, std::size_t child, std::uint32_t closing_blanks = 0);

// The blank lines that close a node's source text without being counted
// before the next node: those after a block scalar the node ends with. A
// replacement does not write them; settle_lines puts them back.
std::uint32_t closing_blank_lines(const YamlNode& node) noexcept;

// One part of the tree an edit is about to remove: the subtree at `node`,
// or, with `keeps_own_anchor`, everything of it but its own anchor (a node
// being replaced, whose anchor moves to the new node), or, with
// `only_own_anchor`, nothing but its own anchor (an anchor removed or
// renamed; the node and everything in it stay). A directive's node's own
// anchor here is its place anchor, the one on the directive's line.
struct Removal {
  const YamlNode* node;
  bool keeps_own_anchor;
  bool only_own_anchor = false;
};

// The name of an alias of `root`'s document whose definition the removals
// take out, or nothing when the edit is safe: with the definition gone, the
// alias would read nothing, or an earlier definition of its name. Aliases
// that had no definition before the edit never count, nor do aliases inside
// the removed parts.
[[nodiscard]] std::optional<std::string> stranded_alias(const YamlNode& root,
                                                        std::span<const Removal> removals);

// The message of the ValueError that refuses such an edit.
[[nodiscard]] std::string anchor_still_referenced_message(std::string_view name);

// Whether a merge key would read `replacement` in the place of `target` (a
// node of `root`'s tree held by `parent`, itself held by `grandparent`;
// nullptr above the root) and could not merge it. A merge takes a mapping,
// or, as the merge value itself, a list of mappings; it reads the place as
// the merge key's own value or an item of its list, or through an alias of
// the place's anchor (its anchor stays with the place), or through an alias
// of the list that holds it. The result names the anchor read through, or
// is empty for the merge key's own value and its items; nothing when the
// replacement is safe. Only an anchored place or list costs a walk of the
// tree.
[[nodiscard]] std::optional<std::string> unmergeable_replacement(const YamlNode& root,
                                                                 const YamlNode& target,
                                                                 const YamlNode& replacement,
                                                                 const YamlNode* parent,
                                                                 const YamlNode* grandparent);

// The message of the ValueError that refuses such a replacement; `name` as
// unmergeable_replacement gives it.
[[nodiscard]] std::string unmergeable_replacement_message(std::string_view name);

}  // namespace ostrevane
