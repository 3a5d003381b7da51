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
  return join_comment_lines(item.comments.head(), item.comments.inline_before_value
                                                      ? CommentSelection::AboveIntroducer
                                                      : CommentSelection::All);
}

std::optional<std::string> pair_value_comment_before(const YamlNode& mapping, std::size_t index,
                                                     bool mapping_is_item) {
  if (index != 0)
    return join_comment_lines(mapping.key(index).comments.head(), CommentSelection::All);
  const bool split = mapping_is_item && mapping.comments.inline_before_value;
  return join_comment_lines(mapping.comments.head(),
                            split ? CommentSelection::BelowIntroducer : CommentSelection::All);
}

std::optional<std::string> joined_foot_comment(const YamlNode& node) {
  const std::vector<std::string>& foot = node.comments.foot();
  if (foot.empty()) return std::nullopt;
  std::string joined = foot.front();
  for (std::size_t i = 1; i < foot.size(); ++i) {
    joined.push_back('\n');
    joined.append(foot[i]);
  }
  return joined;
}

}  // namespace ostrevane
