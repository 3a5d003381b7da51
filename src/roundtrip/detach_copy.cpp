#include "roundtrip/detach_copy.hpp"

#include <utility>

#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

// The first walk: takes from the budget exactly what the copy will take and
// finds any limit the copy would break, copying nothing. Every node entered
// takes one unit, an alias that is expanded as well as what it expands to.
Result<void, DetachLimit> measure(const YamlNode& node, const AnchorIndex& anchors,
                                  std::uint32_t depth, std::uint64_t& budget) {
  if (depth > limits::kNodeAliasDepth) return std::unexpected(DetachLimit::AliasDepth);
  if (budget == 0) return std::unexpected(DetachLimit::NodeBudget);
  --budget;
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
  out.set_tag(node.tag());
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
                                               std::uint32_t depth, std::uint64_t& budget) {
  OSV_TRY(measure(node, anchors, depth, budget));
  return copy(node, anchors);
}

Result<YamlNode, DetachLimit> clone_for_detach_guarded(const YamlNode& node,
                                                       const AnchorIndex& anchors,
                                                       std::uint32_t depth, std::uint64_t& budget) {
  return with_stack_guard([&] { return clone_for_detach(node, anchors, depth, budget); });
}

std::string detach_limit_message(DetachLimit limit) {
  switch (limit) {
    case DetachLimit::AliasDepth:
      return "detach() expands aliases nested deeper than the limit of " +
             std::to_string(limits::kNodeAliasDepth);
    case DetachLimit::NodeBudget:
      break;
  }
  return "detach() expands aliases to more than the limit of " +
         std::to_string(limits::kNodeAliasBudget) + " nodes";
}

}  // namespace ostrevane
