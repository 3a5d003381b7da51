#include "roundtrip/anchors.hpp"

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
  std::unordered_map<std::string_view, const YamlNode*> defined;
  std::vector<Step> stack;
  stack.push_back({&root, false});
  while (!stack.empty()) {
    const Step step = stack.back();
    stack.pop_back();
    const YamlNode& node = *step.node;
    if (step.leaving) {
      defined.insert_or_assign(std::string_view(*node.anchor()), &node);
      continue;
    }
    if (node.kind() == NodeKind::Alias) {
      const auto it = defined.find(node.text());
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
