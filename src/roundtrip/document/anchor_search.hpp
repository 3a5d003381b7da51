// Anchor and alias searches over one document's tree, answered as paths.
//
// Input: the root of one document (read only) and an anchor name or a node
// of that tree. Output: NodePaths (path.hpp), each an independent copy, for
// cursors to walk later: where an anchor is defined, which aliases read a
// definition, and every anchored node.
//
// Which definition an alias reads follows the anchor index (anchors.hpp):
// the nearest definition of its name, in its own file, whose node is
// complete before the alias. The searches agree with it, so a cursor's
// `target` is the node its value shows. A node's anchor here is its place
// anchor (anchors.hpp): a directive's node is found, and listed, under the
// anchor on the directive's line.
//
// Paths reach only what a path can address: pairs whose key is not a
// scalar are never reported, nor anything under them. Such pairs still
// count for the order of definitions, as they do for the index, so an alias
// whose definition stands under a collection key has no path to it (rather
// than an older, wrong one).
//
// Steps by key carry their occurrence (pair_step), so a path reaches the
// very pair the search met even when keys repeat. Every walk keeps an
// explicit stack, so trees of any depth are safe. Nothing here fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/document/path.hpp"

namespace ostrevane {

// The first node, in document order, that carries the anchor `name`
// (compared byte for byte, in any file); a key node gives a path ending in
// a KeyNode step. Nothing when no addressable node carries it.
[[nodiscard]] std::optional<NodePath> find_anchor_path(const YamlNode& root, std::string_view name);

// The definition that an alias of `name` standing where `reader` stands
// reads (`reader` is a node of `root`'s tree: an alias, or a node that may
// become one): the nearest definition in reader's file complete before it.
// The reader's own anchor and anything inside it never count. Nothing when
// no definition precedes it, or when the one it reads has no path.
[[nodiscard]] std::optional<NodePath> find_anchor_path(const YamlNode& root, std::string_view name,
                                                       const YamlNode& reader);

// The paths of the aliases that read `definition` (a node of `root`'s
// tree), in document order; empty when it has no anchor. Aliases standing
// as mapping keys are not reported.
[[nodiscard]] std::vector<NodePath> collect_alias_paths(const YamlNode& root,
                                                        const YamlNode& definition);

struct AnchorEntry {
  std::string name;
  NodePath path;
};

// Every anchored node with its path, in document order (a node before its
// children, a key node before its value); a name defined twice gives two
// entries.
[[nodiscard]] std::vector<AnchorEntry> collect_anchors(const YamlNode& root);

}  // namespace ostrevane
