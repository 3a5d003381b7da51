#include "roundtrip/alias_budget.hpp"

#include <optional>
#include <unordered_map>
#include <vector>

#include "decode/merge.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"

namespace ostrevane {

namespace {

// What a custom tag added at once where the tags reach Python.
std::uint64_t expansion_charge(const YamlNode& node, bool to_python) noexcept {
  if (!to_python || !node.tag_is_expanded()) return 0;
  const std::string& read = *node.read_tag();
  return is_custom_tag(read) ? tag_expansion_charge(*node.tag(), read, true) : 0;
}

}  // namespace

AliasCharge node_charge(const YamlNode& node, LoadedTags loaded_tags) noexcept {
  AliasCharge charge{1, node.kind() == NodeKind::Scalar ? node.text().size() : 0};
  const std::optional<std::string>& tag = node.tag();
  // Custom or standard is decided on the tag as the document reads it (a
  // %TAG handle may name a standard tag); its bytes are the written text's
  // or the read one's, as the decoder charges them.
  if (tag) {
    const std::string& read = *node.read_tag();
    if (is_custom_tag(read)) {
      charge += {1, tag_bytes(*tag, read, loaded_tags == LoadedTags::Called)};
    }
  }
  if (node.kind() != NodeKind::Alias && (tag || node.text() == "<<") && is_merge_key(node)) {
    charge += {1, kMergeTag.size()};
  }
  return charge;
}

Result<void, DecodeError> check_text_alias_budget(std::span<const YamlNode> roots,
                                                  LoadedTags loaded_tags) {
  const bool to_python = loaded_tags == LoadedTags::Called;
  AliasBudget budget = AliasBudget::for_text();
  // A node met in the text (not through an alias) charges what its tag's
  // expansion adds, before anything below it.
  const auto enter = [&](const YamlNode& node) -> Result<void, DecodeError> {
    const std::uint64_t added = expansion_charge(node, to_python);
    if (added != 0 && !budget.charge({0, added})) {
      return std::unexpected(DecodeError{std::string(kAliasBombMessage), node.span});
    }
    return {};
  };
  // Post-order: a frame adds up its node's own charge and its children's
  // sizes, then hands the total to its parent.
  struct Frame {
    const YamlNode* node;
    std::size_t next;
    AliasCharge size;
  };
  std::vector<Frame> stack;
  std::unordered_map<const YamlNode*, AliasCharge> anchored;
  for (const YamlNode& root : roots) {
    std::optional<AnchorIndex> index;
    anchored.clear();
    OSV_TRY(enter(root));
    stack.push_back({&root, 0, {}});
    while (!stack.empty()) {
      Frame& top = stack.back();
      const YamlNode& node = *top.node;
      const auto children = node.children();
      if (top.next < children.size()) {
        const YamlNode& child = children[top.next++];
        if (child.kind() != NodeKind::Alias) {
          OSV_TRY(enter(child));
          stack.push_back({&child, 0, {}});
          continue;
        }
        if (!index) index.emplace(root);
        const YamlNode* target = index->target(child);
        if (target == nullptr) continue;  // left by edits: reads as null
        const auto it = anchored.find(target);
        const AliasCharge expanded = it == anchored.end() ? AliasCharge{} : it->second;
        if (!budget.charge(expanded)) {
          return std::unexpected(DecodeError{std::string(kAliasBombMessage), child.span});
        }
        top.size += expanded;
        continue;
      }
      AliasCharge size = top.size;
      size += node_charge(node, loaded_tags);
      // A directive's anchor names what it produced, as any anchor does.
      if (defines_any_anchor(node)) anchored.insert_or_assign(&node, size);
      stack.pop_back();
      if (!stack.empty()) stack.back().size += size;
    }
  }
  return {};
}

}  // namespace ostrevane
