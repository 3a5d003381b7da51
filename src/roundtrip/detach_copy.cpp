#include "roundtrip/detach_copy.hpp"

#include <utility>

#include "roundtrip/alias_budget.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

// The first walk: takes from the budget exactly what the copy will take and
// finds any limit the copy would break, copying nothing. Every node entered
// is charged, an alias that is expanded (one node) as well as what it
// expands to.
Result<void, DetachLimit> measure(const YamlNode& node, const AnchorIndex& anchors,
                                  std::uint32_t depth, AliasBudget& budget) {
  if (depth > limits::kNodeAliasDepth) return std::unexpected(DetachLimit::AliasDepth);
  if (!budget.charge(node.kind() == NodeKind::Alias ? AliasCharge{1, 0} : node_charge(node))) {
    return std::unexpected(budget.passed() == AliasBudget::Limit::Bytes ? DetachLimit::ByteBudget
                                                                        : DetachLimit::NodeBudget);
  }
  if (node.kind() == NodeKind::Alias) {
    const YamlNode* target = anchors.target(node);
    if (target == nullptr) return {};
    return with_stack_guard([&] { return measure(*target, anchors, depth + 1, budget); });
  }
  for (const YamlNode& child : node.children()) {
    OSV_TRY(with_stack_guard([&] { return measure(child, anchors, depth, budget); }));
  }
  return {};
}

// The second walk, within limits the first one checked.
YamlNode copy(const YamlNode& node, const AnchorIndex& anchors) {
  if (node.kind() == NodeKind::Alias) {
    // The expansion takes the alias's place, with the comments of that place.
    if (const YamlNode* target = anchors.target(node)) {
      YamlNode out = with_stack_guard([&] { return copy(*target, anchors); });
      keep_alias_comments(node, out);
      return out;
    }
  }
  YamlNode out;
  out.span = node.span;
  out.end_offset = node.span.offset;
  out.end_line = node.span.line;
  out.end_column = node.span.column;
  out.comments = node.comments.clone();
  if (out.comments.raw()) out.comments.edit_raw().reset();
  out.style = node.style;
  out.copy_tag_from(node);
  // A node a directive produced stays that directive: the copy is written
  // as `!secret name` or `!include file`, never as the secret's value or
  // the included file's content and comments. Like every copied node it
  // defines no anchor: the directive's own stays with the original.
  if (const std::optional<IncludeSource>& source = node.source()) {
    IncludeSource kept = *source;
    kept.directive_modified = false;
    kept.anchor.reset();
    out.set_source(std::move(kept));
  }
  switch (node.kind()) {
    case NodeKind::Scalar:
      out.set_scalar(std::string(node.text()), node.scalar_style());
      break;
    case NodeKind::Sequence:
    case NodeKind::Mapping: {
      NodeList children;
      children.reserve(node.children().size());
      for (const YamlNode& child : node.children()) {
        children.push_back(with_stack_guard([&] { return copy(child, anchors); }));
      }
      if (node.kind() == NodeKind::Sequence) {
        out.set_sequence(std::move(children));
      } else {
        out.set_mapping(std::move(children));
      }
      break;
    }
    case NodeKind::Alias:  // reads no definition: stays empty
    case NodeKind::Null:
      break;
  }
  return out;
}

}  // namespace

void keep_alias_comments(const YamlNode& alias, YamlNode& copy) {
  const Comments& own = alias.comments;
  Comments& to = copy.comments;
  to.blank_before = own.blank_before;
  to.value_pad = own.value_pad;
  if (own.texts() == nullptr) return;
  if (!own.head().empty()) {
    std::vector<HeadComment> head = own.head();
    const std::vector<HeadComment>& copied = to.head();
    head.insert(head.end(), copied.begin(), copied.end());
    to.edit_head() = std::move(head);
  }
  if (own.inline_comment()) {
    to.edit_inline_comment() = own.inline_comment();
    to.inline_spaces = own.inline_spaces;
    // After "key:" or "-", the comment on that line introduces a block
    // collection written below it.
    to.inline_before_value = own.inline_before_value || (copy.is_collection() &&
                                                         copy.style == CollectionStyle::Block &&
                                                         !copy.children().empty());
  }
}

Result<YamlNode, DetachLimit> clone_for_detach(const YamlNode& node, const AnchorIndex& anchors,
                                               std::uint32_t depth, AliasBudget& budget) {
  OSV_TRY(measure(node, anchors, depth, budget));
  return copy(node, anchors);
}

Result<YamlNode, DetachLimit> clone_for_detach_guarded(const YamlNode& node,
                                                       const AnchorIndex& anchors,
                                                       std::uint32_t depth, AliasBudget& budget) {
  return with_stack_guard([&] { return clone_for_detach(node, anchors, depth, budget); });
}

std::string detach_limit_message(DetachLimit limit) {
  switch (limit) {
    case DetachLimit::AliasDepth:
      return "detach() expands aliases nested deeper than the limit of " +
             std::to_string(limits::kNodeAliasDepth);
    case DetachLimit::ByteBudget:
      return "detach() expands aliases to more than the limit of " +
             AliasBudget::describe(AliasBudget::Limit::Bytes, limits::kNodeAliasBudget);
    case DetachLimit::NodeBudget:
      break;
  }
  return "detach() expands aliases to more than the limit of " +
         AliasBudget::describe(AliasBudget::Limit::Nodes, limits::kNodeAliasBudget);
}

}  // namespace ostrevane
