#include "roundtrip/document/anchor_edit.hpp"

#include <vector>

#include "emit_util/detail/unprintable.hpp"
#include "roundtrip/anchors.hpp"

namespace ostrevane {
namespace {

// The bytes that end a name in the scanner, and NUL, which the reader
// refuses and which is reported with them.
bool ends_a_name(unsigned char c) noexcept {
  switch (c) {
    case '\0':
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case ',':
    case '[':
    case ']':
    case '{':
    case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

Result<void, AnchorNameError> validate_anchor_name(std::string_view name) {
  if (name.empty()) return std::unexpected(AnchorNameError{AnchorNameFault::Empty, {}});
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (ends_a_name(c)) {
      return std::unexpected(AnchorNameError{AnchorNameFault::Separator, std::string(1, name[i])});
    }
    if (!detail::may_start_unprintable(c)) continue;
    if (const std::size_t length = detail::unprintable_at(name, i)) {
      return std::unexpected(
          AnchorNameError{AnchorNameFault::ControlCharacter, std::string(name.substr(i, length))});
    }
  }
  return {};
}

std::optional<std::string> unwritten_content_tag(const YamlNode& root, const NodePath& path) {
  const YamlNode* node = &root;
  for (const PathSegment& step : path.segments()) {
    if (const std::optional<IncludeSource>& source = node->source()) {
      if (!source->target_file_id) return source->tag;
      if (!source->replaced.empty()) return source->replaced.back().tag;
    }
    node = node_child(*node, step);
    if (node == nullptr) break;
  }
  return std::nullopt;
}

std::string unwritable_anchor_message(std::string_view name, std::string_view tag) {
  std::string text = "anchor '&";
  text += name;
  text += "' cannot be written: the node is part of what '";
  text += tag;
  text += "' reads, which no file of this document holds";
  return text;
}

std::optional<AliasPlaceFault> alias_place_fault(const YamlNode& root, const YamlNode* place,
                                                 std::string_view name) {
  const auto carries = [&](const YamlNode& node) { return defines_anchor(node, name); };
  // An alias only reads definitions of the file its place is written in.
  const std::uint32_t file = place != nullptr ? place_file(*place) : 0;
  const auto defines_for_place = [&](const YamlNode& node) {
    return defines_anchor(node, file, name);
  };
  bool defined = false;  // some node carries the name
  bool before = false;   // a definition the alias could read is complete
  bool reached = false;  // the place has been entered
  struct Frame {
    const YamlNode* node;
    std::size_t next;
  };
  std::vector<Frame> stack;
  // A definition counts once its node is complete, as for AnchorIndex.
  const auto leave = [&](const YamlNode& node) {
    if (!reached && defines_for_place(node)) before = true;
  };
  const YamlNode* next = &root;
  for (;;) {
    if (next != nullptr) {
      const YamlNode& node = *next;
      next = nullptr;
      if (carries(node)) defined = true;
      if (&node == place) {
        if (before) return std::nullopt;
        bool around = defines_for_place(node);
        for (const Frame& frame : stack) around = around || defines_for_place(*frame.node);
        if (around) return AliasPlaceFault::Cycle;
        reached = true;
      }
      // Past the place only the existence of a definition is still open.
      if (defined && (place == nullptr || reached)) {
        return place == nullptr ? std::nullopt : std::optional(AliasPlaceFault::NotBefore);
      }
      if (!node.children().empty()) {
        stack.push_back({&node, 0});
        continue;
      }
      if (place != nullptr) leave(node);
    }
    if (stack.empty()) break;
    Frame& top = stack.back();
    const auto children = top.node->children();
    if (top.next < children.size()) {
      next = &children[top.next++];
      continue;
    }
    const YamlNode& done = *top.node;
    stack.pop_back();
    if (place != nullptr) leave(done);
  }
  if (!defined) return AliasPlaceFault::NoAnchor;
  return place == nullptr ? std::nullopt : std::optional(AliasPlaceFault::NotBefore);
}

}  // namespace ostrevane
