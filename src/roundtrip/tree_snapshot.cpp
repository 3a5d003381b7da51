#include "roundtrip/tree_snapshot.hpp"

#include "roundtrip/comment_rules.hpp"
#include "roundtrip/document/node_facts.hpp"

namespace ostrevane {

std::string_view snapshot_kind_name(const YamlNode& node) noexcept {
  // A snapshot shows an empty value as a scalar whose style is "null".
  return node.kind() == NodeKind::Null ? "scalar" : node_kind_label(node.kind());
}

std::optional<std::string> item_comment_before(const YamlNode& item) {
  return owned_head_comment(item_head_owner(item));
}

std::optional<std::string> pair_value_comment_before(const YamlNode& mapping, std::size_t index,
                                                     bool mapping_is_item) {
  return owned_head_comment(pair_head_owner(mapping, index, mapping_is_item));
}

}  // namespace ostrevane
