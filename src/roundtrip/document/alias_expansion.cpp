#include "roundtrip/document/alias_expansion.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "roundtrip/alias_budget.hpp"
#include "roundtrip/anchors.hpp"
#include "util/limits.hpp"

namespace ostrevane {

Result<void, ExpansionLimitError> check_alias_expansion(const YamlNode& root, const YamlNode& node,
                                                        std::string_view subject) {
  struct Visit {
    const YamlNode* node;
    std::uint32_t alias_depth;  // aliases expanded on the way here
  };
  std::optional<AnchorIndex> index;
  AliasBudget budget = AliasBudget::for_node_trees();
  std::vector<Visit> stack{{&node, 0}};
  while (!stack.empty()) {
    const Visit visit = stack.back();
    stack.pop_back();
    const YamlNode& at = *visit.node;
    if (at.kind() == NodeKind::Alias) {
      if (!index) index.emplace(root);
      const YamlNode* target = index->target(at);
      // An alias without definition (left by edits) reads as None.
      if (target == nullptr) continue;
      if (visit.alias_depth >= limits::kNodeAliasDepth) {
        return std::unexpected(ExpansionLimitError{
            std::string(subject) + " expands aliases nested deeper than the limit of " +
            std::to_string(limits::kNodeAliasDepth)});
      }
      stack.push_back({target, visit.alias_depth + 1});
      continue;
    }
    if (visit.alias_depth > 0 && !budget.charge(node_charge(at))) {
      return std::unexpected(ExpansionLimitError{std::string(subject) +
                                                 " expands aliases to more than the limit of " +
                                                 budget.limit_text()});
    }
    for (const YamlNode& child : at.children()) stack.push_back({&child, visit.alias_depth});
  }
  return {};
}

}  // namespace ostrevane
