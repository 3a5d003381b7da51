// The bounds of writing a node's plain values out in full.
//
// Input: the root of one document (read only) and a node under it. Output:
// nothing, or the message that names the bound it breaks. The plain values
// of a node (to_dict) share one object for every alias of a definition, so
// they stay small whatever the aliases expand to; a writer that is handed
// them writes each shared object out again at every place. This check walks
// the same expansion without building it: every node reached through an
// alias is charged to AliasBudget::for_node_trees() (node_charge: nodes and
// scalar and tag text bytes), and passing either of its limits, or aliases
// nested more than limits::kNodeAliasDepth deep along one branch, breaks
// the bound, as it does for a view's to_yaml. Aliases mean what AnchorIndex
// says, as in the conversion to plain values.
//
// Cost: one pass over the node and at most kNodeAliasBudget expanded nodes;
// the anchor index is built only when an alias is met. The walk keeps an
// explicit stack, so trees of any depth are safe.
#pragma once

#include <string>
#include <string_view>

#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

struct ExpansionLimitError {
  std::string message;
};

// `subject` opens the message ("dumps() of this node").
[[nodiscard]] Result<void, ExpansionLimitError> check_alias_expansion(const YamlNode& root,
                                                                      const YamlNode& node,
                                                                      std::string_view subject);

}  // namespace ostrevane
