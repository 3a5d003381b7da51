#include "roundtrip/tree_snapshot.hpp"

#include "roundtrip/comment_rules.hpp"

namespace ostrevane {

std::string_view snapshot_kind_name(const YamlNode& node) noexcept {
  switch (node.kind()) {
    case NodeKind::Sequence:
      return "sequence";
    case NodeKind::Mapping:
      return "mapping";
    case NodeKind::Alias:
      return "alias";
    case NodeKind::Scalar:
    case NodeKind::Null:
      break;
  }
  return "scalar";
}

std::string_view snapshot_style_name(const YamlNode& node) noexcept {
  switch (node.kind()) {
    case NodeKind::Null:
      return "null";
    case NodeKind::Alias:
      return "alias";
    case NodeKind::Sequence:
    case NodeKind::Mapping:
      return node.style == CollectionStyle::Flow ? "flow" : "block";
    case NodeKind::Scalar:
      break;
  }
  switch (node.scalar_style()) {
    case ScalarStyle::SingleQuoted:
      return "single";
    case ScalarStyle::DoubleQuoted:
      return "double";
    case ScalarStyle::Literal:
      return "literal";
    case ScalarStyle::Folded:
      return "folded";
    case ScalarStyle::Plain:
      break;
  }
  return "plain";
}

std::optional<std::string> item_comment_before(const YamlNode& item) {
  return owned_head_comment(item_head_owner(item));
}

std::optional<std::string> pair_value_comment_before(const YamlNode& mapping, std::size_t index,
                                                     bool mapping_is_item) {
  return owned_head_comment(pair_head_owner(mapping, index, mapping_is_item));
}

}  // namespace ostrevane
