// A nested node as a document of its own: what a view's to_yaml writes.
//
// Input: the root of a document (read only) and a node under it. Output: a
// new tree that reads back, as a document alone, as the node reads in its
// document: an alias whose definition lies outside the node is replaced by
// a copy of what it refers to (the nearest definition before it, as
// AnchorIndex tells), and the root's %TAG directives whose handles the copy
// uses come along, so that no alias or tag of the text is left undefined.
// Aliases whose definitions lie inside the node stay aliases.
//
// Bounds: copies of aliased content are charged to
// AliasBudget::for_node_trees() (nodes and scalar and tag text bytes), and
// limited to limits::kNodeAliasDepth aliases nested along one branch; beyond
// them the copy fails (an error naming the limit), it never writes less. A
// first walk checks the bounds, so a refused copy costs no memory.
//
// Ownership: the result owns everything; it shares nothing with the source
// tree. Each level runs through with_stack_guard.
#pragma once

#include <string>

#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

struct SubtreeCopyError {
  std::string message;
};

[[nodiscard]] Result<YamlNode, SubtreeCopyError> subtree_document(const YamlNode& root,
                                                                  const YamlNode& node);

}  // namespace ostrevane
