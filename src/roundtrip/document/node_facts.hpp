// What a node cursor reports about one node beyond its content: the names of
// its kind and style, and the configuration directive it came from.
//
// Input: one node (read only). Output: static names or views into the node,
// valid while the node is. Nothing here fails or allocates.
#pragma once

#include <optional>
#include <string_view>

#include "roundtrip/node.hpp"

namespace ostrevane {

// "scalar", "sequence", "mapping", "alias" or "null".
[[nodiscard]] std::string_view node_kind_label(NodeKind kind) noexcept;

// A scalar's style ("plain", "single", "double", "literal", "folded"), a
// collection's ("block", "flow"), else "alias" or "null".
[[nodiscard]] std::string_view node_style_name(const YamlNode& node) noexcept;

// The directive a node's value came from: the tag of its include source;
// without one, its own tag unless that is a standard type tag ("!!...",
// "tag:yaml.org,2002:..." or the verbatim "!<tag:yaml.org,2002:...>"),
// since a custom tag the directive options did not expand ("!secret name"
// loaded without them) still names where the value is meant to come from.
// Nothing for an untagged node. Standard or not is decided on the tag as
// its %TAG directives read it; the text is the tag as written.
[[nodiscard]] std::optional<std::string_view> node_source_tag(const YamlNode& node) noexcept;

}  // namespace ostrevane
