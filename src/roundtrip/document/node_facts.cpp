#include "roundtrip/document/node_facts.hpp"

namespace ostrevane {

std::string_view node_kind_label(NodeKind kind) noexcept {
  switch (kind) {
    case NodeKind::Scalar:
      return "scalar";
    case NodeKind::Sequence:
      return "sequence";
    case NodeKind::Mapping:
      return "mapping";
    case NodeKind::Alias:
      return "alias";
    case NodeKind::Null:
      return "null";
  }
  return "null";
}

std::string_view node_style_name(const YamlNode& node) noexcept {
  switch (node.kind()) {
    case NodeKind::Scalar:
      switch (node.scalar_style()) {
        case ScalarStyle::Plain:
          return "plain";
        case ScalarStyle::SingleQuoted:
          return "single";
        case ScalarStyle::DoubleQuoted:
          return "double";
        case ScalarStyle::Literal:
          return "literal";
        case ScalarStyle::Folded:
          return "folded";
      }
      return "plain";
    case NodeKind::Sequence:
    case NodeKind::Mapping:
      return node.style == CollectionStyle::Flow ? "flow" : "block";
    case NodeKind::Alias:
      return "alias";
    case NodeKind::Null:
      return "null";
  }
  return "null";
}

std::optional<std::string_view> node_source_tag(const YamlNode& node) noexcept {
  if (const std::optional<IncludeSource>& source = node.source()) return source->tag;
  // Decided on the tag as it reads, reported as written (as the annotated
  // road does).
  const std::string* tag = node.read_tag();
  if (tag == nullptr) return std::nullopt;
  const std::string_view text = *tag;
  // The standard tags in all three spellings: shorthand, full, verbatim.
  if (text.starts_with("!!") || text.starts_with("tag:yaml.org,2002:") ||
      text.starts_with("!<tag:yaml.org,2002:")) {
    return std::nullopt;
  }
  return *node.tag();
}

}  // namespace ostrevane
