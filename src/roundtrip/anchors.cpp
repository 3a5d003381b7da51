#include "roundtrip/anchors.hpp"

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace ostrevane {

AnchorIndex::AnchorIndex(const YamlNode& root) {
  // One walk in document order. A definition enters `defined` when its node
  // is left (its content complete), so an alias inside it still sees any
  // earlier definition of the name.
  struct Step {
    const YamlNode* node;
    bool leaving;
  };
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
  std::vector<Step> stack;
  stack.push_back({&root, false});
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    const YamlNode& node = *step.node;
    if (step.leaving) {
      defined.insert_or_assign(Name{node.span.file_id, *node.anchor()}, &node);
      continue;
    }
    if (node.kind() == NodeKind::Alias) {
      const auto it = defined.find(Name{node.span.file_id, node.text()});
      if (it != defined.end()) targets_.emplace(&node, it->second);
      continue;
    }
    if (node.anchor()) stack.push_back({&node, true});
    const auto children = node.children();
    for (std::size_t i = children.size(); i-- > 0;) stack.push_back({&children[i], false});
  }
}

bool tree_is_modified(const YamlNode& root) {
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* node = stack.back();
    stack.pop_back();
    if (node->comments.modified) return true;
    push_children(*node, stack);
  }
  return false;
}

}  // namespace ostrevane
