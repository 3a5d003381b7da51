#include "roundtrip/anchors.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

void set_place_anchor(YamlNode& node, std::optional<std::string> name) {
  if (node.source()) {
    node.edit_extras().source->anchor = std::move(name);
  } else {
    node.set_anchor(std::move(name));
  }
}

bool defines_anchor(const YamlNode& node, std::uint32_t file_id, std::string_view name) noexcept {
  bool found = false;
  for_each_definition(node, [&](std::uint32_t file, std::string_view anchor) {
    found = found || (file == file_id && anchor == name);
  });
  return found;
}

bool defines_anchor(const YamlNode& node, std::string_view name) noexcept {
  bool found = false;
  for_each_definition(node, [&](std::uint32_t, std::string_view anchor) {
    found = found || anchor == name;
  });
  return found;
}

void adopt_into_file(YamlNode& root, std::uint32_t file_id) {
  std::vector<YamlNode*> stack{&root};
  while (!stack.empty()) {
    YamlNode* node = stack.back();
    stack.pop_back();
    if (node->source()) {
      IncludeSource& source = *node->edit_extras().source;
      source.directive_file_id = file_id;
      if (source.target_file_id) continue;  // its content is the included file's
    }
    node->span.file_id = file_id;
    push_children(*node, stack);
  }
}

AnchorIndex::AnchorIndex(const YamlNode& root) {
  // One walk in document order, with only collections on the stack. A
  // definition enters `defined` when its node is left (its content
  // complete), so an alias inside it still sees any earlier definition of
  // the name.
  //
  // Names are scoped to the file that defines them: once includes are
  // expanded, a tree holds nodes of several files, and an anchor of an
  // included file must not capture an alias of its includer (or the
  // reverse). The composer checked each file's aliases against that file.
  struct Name {
    std::uint32_t file_id;
    std::string_view name;
    bool operator==(const Name&) const = default;
  };
  struct NameHash {
    std::size_t operator()(const Name& n) const noexcept {
      return std::hash<std::string_view>()(n.name) ^
             (std::size_t{n.file_id} * 0x9E3779B97F4A7C15ull);
    }
  };
  std::unordered_map<Name, const YamlNode*, NameHash> defined;
  const auto leave = [&](const YamlNode& node) {
    for_each_definition(node, [&](std::uint32_t file, std::string_view name) {
      defined.insert_or_assign(Name{file, name}, &node);
    });
  };
  const auto visit_leaf = [&](const YamlNode& node) {
    if (node.kind() == NodeKind::Alias) {
      const auto it = defined.find(Name{node.span.file_id, node.text()});
      if (it != defined.end()) targets_.emplace(&node, it->second);
    } else {
      leave(node);
    }
  };
  struct Frame {
    const YamlNode* node;
    std::size_t next;
  };
  if (root.children().empty()) {
    visit_leaf(root);
    return;
  }
  std::vector<Frame> stack{{&root, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const auto children = frame.node->children();
    if (frame.next == children.size()) {
      const YamlNode& done = *frame.node;
      stack.pop_back();
      leave(done);
      continue;
    }
    const YamlNode& child = children[frame.next++];
    if (child.children().empty()) {
      visit_leaf(child);
    } else {
      stack.push_back({&child, 0});
    }
  }
}

bool tree_is_modified(const YamlNode& root) {
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* node = stack.back();
    stack.pop_back();
    if (node->comments.modified) return true;
    if (const std::optional<IncludeSource>& source = node->source();
        source && source->directive_modified) {
      return true;
    }
    push_children(*node, stack);
  }
  return false;
}

}  // namespace ostrevane
