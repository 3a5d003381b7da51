#include "roundtrip/document/subtree.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "roundtrip/alias_budget.hpp"
#include "roundtrip/anchors.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

// Everything of `node` but its children.
YamlNode shell_of(const YamlNode& node) {
  YamlNode copy;
  copy.span = node.span;
  copy.end_offset = node.end_offset;
  copy.end_line = node.end_line;
  copy.end_column = node.end_column;
  copy.comments = node.comments.clone();
  copy.style = node.style;
  copy.synthetic = node.synthetic;
  copy.explicit_key = node.explicit_key;
  switch (node.kind()) {
    case NodeKind::Scalar:
      copy.set_scalar(std::string(node.text()), node.scalar_style());
      break;
    case NodeKind::Alias:
      copy.set_alias(std::string(node.text()));
      break;
    case NodeKind::Sequence:
      copy.set_sequence({});
      break;
    case NodeKind::Mapping:
      copy.set_mapping({});
      break;
    case NodeKind::Null:
      break;
  }
  if (const NodeExtras* extras = node.extras()) {
    copy.set_anchor(extras->anchor);
    copy.copy_tag_from(node);
    copy.set_source(extras->source);
  }
  return copy;
}

class SubtreeCopier {
 public:
  SubtreeCopier(const YamlNode& root, const YamlNode& node) : root_(root) {
    // Definitions inside the node travel with it; an alias of one of them
    // still reads the same in the copy.
    std::vector<const YamlNode*> stack{&node};
    while (!stack.empty()) {
      const YamlNode* n = stack.back();
      stack.pop_back();
      if (defines_any_anchor(*n)) inside_.insert(n);
      push_children(*n, stack);
    }
  }

  // The first walk: what the copy will check, copying nothing, so that a
  // refused copy costs no memory. The copy then starts a fresh budget.
  Result<void, SubtreeCopyError> measure(const YamlNode& node, bool expanding,
                                         std::uint32_t depth) {
    if (node.kind() == NodeKind::Alias) {
      const YamlNode* target = alias_target(node);
      if (target == nullptr || (!expanding && inside_.contains(target))) return {};
      OSV_TRY(check_depth(depth));
      return with_stack_guard([&] { return measure(*target, true, depth + 1); });
    }
    OSV_TRY(charge(node, expanding));
    for (const YamlNode& child : node.children()) {
      OSV_TRY(with_stack_guard([&] { return measure(child, expanding, depth); }));
    }
    return {};
  }

  void reset_budget() noexcept { budget_ = AliasBudget::for_node_trees(); }

  Result<YamlNode, SubtreeCopyError> copy(const YamlNode& node, bool expanding,
                                          std::uint32_t depth) {
    if (node.kind() == NodeKind::Alias) {
      const YamlNode* target = alias_target(node);
      if (target != nullptr && !expanding && inside_.contains(target)) return shell_of(node);
      if (target == nullptr) {
        // An alias with no definition (left by edits) reads as null.
        YamlNode null = shell_of(node);
        null.set_null();
        return null;
      }
      OSV_TRY(check_depth(depth));
      YamlNode expanded = OSV_TRY(with_stack_guard([&] { return copy(*target, true, depth + 1); }));
      // The alias's own place keeps its comments.
      expanded.comments = node.comments.clone();
      expanded.span = node.span;
      return expanded;
    }
    OSV_TRY(charge(node, expanding));
    YamlNode out = shell_of(node);
    // A copy of aliased content defines nothing: its own aliases are
    // expanded too, so a name cannot be defined twice.
    if (expanding) out.set_anchor(std::nullopt);
    const auto children = node.children();
    NodeList& copies = out.edit_children();
    copies.reserve(children.size());
    for (const YamlNode& child : children) {
      copies.push_back(OSV_TRY(with_stack_guard([&] { return copy(child, expanding, depth); })));
    }
    return out;
  }

 private:
  static Result<void, SubtreeCopyError> check_depth(std::uint32_t depth) {
    if (depth < limits::kNodeAliasDepth) return {};
    return std::unexpected(
        SubtreeCopyError{"to_yaml() of this node expands aliases nested deeper than the limit of " +
                         std::to_string(limits::kNodeAliasDepth)});
  }

  // Content copied from a definition is charged; the node's own is not.
  Result<void, SubtreeCopyError> charge(const YamlNode& node, bool expanding) {
    if (!expanding || budget_.charge(node_charge(node))) return {};
    return std::unexpected(
        SubtreeCopyError{"to_yaml() of this node expands aliases to more than the limit of " +
                         budget_.limit_text()});
  }

  const YamlNode* alias_target(const YamlNode& alias) {
    if (!index_) index_.emplace(root_);
    return index_->target(alias);
  }

  const YamlNode& root_;
  std::optional<AnchorIndex> index_;
  std::unordered_set<const YamlNode*> inside_;
  AliasBudget budget_ = AliasBudget::for_node_trees();
};

// The handle of a tag as written ("!e!" of "!e!t", "!!" of "!!str", "!" of
// "!local"); empty for a verbatim tag.
std::string_view tag_handle(std::string_view tag) noexcept {
  if (tag.empty() || tag.front() != '!' || tag.starts_with("!<")) return {};
  const std::size_t second = tag.find('!', 1);
  return second == std::string_view::npos ? tag.substr(0, 1) : tag.substr(0, second + 1);
}

// The handle a "TAG handle prefix" directive declares; empty for others.
std::string_view directive_handle(std::string_view directive) noexcept {
  if (!directive.starts_with("TAG")) return {};
  std::size_t start = 3;
  if (start >= directive.size() || (directive[start] != ' ' && directive[start] != '\t')) return {};
  while (start < directive.size() && (directive[start] == ' ' || directive[start] == '\t')) ++start;
  std::size_t end = start;
  while (end < directive.size() && directive[end] != ' ' && directive[end] != '\t') ++end;
  return directive.substr(start, end - start);
}

void collect_handles(const YamlNode& node, std::unordered_set<std::string_view>& handles) {
  std::vector<const YamlNode*> stack{&node};
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    if (const std::optional<std::string>& tag = n->tag()) handles.insert(tag_handle(*tag));
    push_children(*n, stack);
  }
}

}  // namespace

Result<YamlNode, SubtreeCopyError> subtree_document(const YamlNode& root, const YamlNode& node) {
  SubtreeCopier copier(root, node);
  OSV_TRY(with_stack_guard([&] { return copier.measure(node, false, 0); }));
  copier.reset_budget();
  YamlNode out = OSV_TRY(with_stack_guard([&] { return copier.copy(node, false, 0); }));
  const std::vector<std::string>& directives = root.directives();
  if (directives.empty() || &node == &root) {
    if (&node == &root) {
      out.explicit_start = root.explicit_start;
      if (!directives.empty()) out.edit_extras().directives = directives;
    }
    return out;
  }
  std::unordered_set<std::string_view> handles;
  collect_handles(out, handles);
  std::vector<std::string> kept;
  for (const std::string& directive : directives) {
    const std::string_view handle = directive_handle(directive);
    if (!handle.empty() && handles.contains(handle)) kept.push_back(directive);
  }
  if (!kept.empty()) {
    out.edit_extras().directives = std::move(kept);
    out.explicit_start = true;
  }
  return out;
}

}  // namespace ostrevane
