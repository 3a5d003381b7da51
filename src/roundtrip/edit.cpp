#include "roundtrip/edit.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"

namespace ostrevane {
namespace {

// The removal that `node` heads, or nullptr. Edits remove one or a few
// parts, so a scan beats a hash set.
const Removal* removal_at(std::span<const Removal> removals, const YamlNode* node) noexcept {
  for (const Removal& r : removals) {
    if (r.node == node) return &r;
  }
  return nullptr;
}

// The anchored nodes whose definitions the removals take out of the tree.
std::unordered_set<const YamlNode*> removed_definitions(std::span<const Removal> removals) {
  std::unordered_set<const YamlNode*> gone;
  std::vector<const YamlNode*> stack;
  for (const Removal& r : removals) {
    if (r.only_own_anchor) {
      if (place_anchor(*r.node) != nullptr) gone.insert(r.node);
      continue;
    }
    stack.assign(1, r.node);
    while (!stack.empty()) {
      const YamlNode* node = stack.back();
      stack.pop_back();
      if (defines_any_anchor(*node) && !(node == r.node && r.keeps_own_anchor)) {
        gone.insert(node);
      }
      push_children(*node, stack);
    }
  }
  return gone;
}

// Whether `node` is the value of a merge key of `mapping`.
bool is_merge_value(const YamlNode& mapping, const YamlNode& node) noexcept {
  if (mapping.kind() != NodeKind::Mapping) return false;
  for (std::size_t i = 0; i < mapping.pair_count(); ++i) {
    if (&mapping.value(i) == &node) return is_merge_key(mapping.key(i));
  }
  return false;
}

// The name of a standard tag ("int" for "!!int" and its long form), or an
// empty view for any other tag.
std::string_view standard_tag_name(std::string_view tag) noexcept {
  constexpr std::string_view kLong = "tag:yaml.org,2002:";
  if (tag.size() > 2 && tag.starts_with("!!")) return tag.substr(2);
  if (tag.size() > kLong.size() && tag.starts_with(kLong)) return tag.substr(kLong.size());
  return {};
}

using Kind = ResolvedScalar::Kind;

Kind value_kind(Kind kind) noexcept { return kind == Kind::BigInt ? Kind::Int : kind; }

// The type a standard scalar tag names, if it names one.
std::optional<Kind> tag_type(std::string_view name) noexcept {
  if (name == "str") return Kind::Str;
  if (name == "int") return Kind::Int;
  if (name == "float") return Kind::Float;
  if (name == "bool") return Kind::Bool;
  if (name == "null") return Kind::Null;
  return std::nullopt;
}

bool tag_reads_content(std::string_view tag, const YamlNode& node, ResolverMode mode) noexcept {
  const std::string_view name = standard_tag_name(tag);
  const bool mapping_tag = name == "map" || name == "set";
  const bool sequence_tag = name == "seq" || name == "omap" || name == "pairs";
  switch (node.kind()) {
    case NodeKind::Mapping:
      return name.empty() || mapping_tag;
    case NodeKind::Sequence:
      return name.empty() || sequence_tag;
    case NodeKind::Scalar: {
      if (mapping_tag || sequence_tag) return false;
      const bool plain = node.scalar_style() == ScalarStyle::Plain;
      const Kind untagged =
          value_kind(resolve_scalar_kind(mode, node.text(), plain, std::nullopt).kind);
      // A type tag that cannot read the text reads it as a string: the
      // content must be of the tag's own type.
      if (const std::optional<Kind> own = tag_type(name); own && *own != untagged) return false;
      return value_kind(resolve_scalar_kind(mode, node.text(), plain, tag).kind) == untagged;
    }
    case NodeKind::Null:
      return !mapping_tag && !sequence_tag &&
             resolve_scalar_kind(mode, {}, true, tag).kind == Kind::Null;
    case NodeKind::Alias:
      return false;
  }
  return false;
}

}  // namespace

void drop_contradicted_tag(YamlNode& node, ResolverMode mode) {
  const std::string* tag = node.read_tag();
  if (tag && !tag_reads_content(*tag, node, mode)) node.set_tag(std::nullopt);
}

void replace_node(YamlNode& target, YamlNode replacement, CarryOver carry) {
  if (carry == CarryOver::Root) {
    replacement.explicit_start = target.explicit_start;
    replacement.leading_bom = target.leading_bom;
    if (target.extras() != nullptr && !target.extras()->directives.empty()) {
      NodeExtras& to = replacement.edit_extras();
      to.directives = std::move(target.edit_extras().directives);
      to.version_above_skipped = target.extras()->version_above_skipped;
    }
  }
  if (carry != CarryOver::Nothing) {
    const Comments& old = target.comments;
    Comments& fresh = replacement.comments;
    fresh.inline_spaces = old.inline_spaces;
    fresh.value_pad = old.value_pad;
    // A block collection's comment stands on its introducer line: the old
    // node's trailing comment goes there, where it reads back as its own.
    fresh.inline_before_value =
        old.inline_before_value ||
        (old.inline_comment() && replacement.is_collection() &&
         replacement.style == CollectionStyle::Block && !replacement.children().empty());
    if (old.texts() != nullptr) {
      CommentTexts& from = target.comments.edit_texts();
      CommentTexts& to = fresh.edit_texts();
      to.head = std::move(from.head);
      to.inline_comment = std::move(from.inline_comment);
      to.foot = std::move(from.foot);
    }
    if (target.extras() != nullptr && target.source()) {
      // A directive's place is named by the anchor on the directive's line;
      // the produced content's own anchor and tag belong to the file or the
      // secret it came from.
      set_place_anchor(replacement, std::move(target.edit_extras().source->anchor));
    } else if (target.extras() != nullptr) {
      NodeExtras& from = target.edit_extras();
      set_place_anchor(replacement, std::move(from.anchor));
      if (from.tag) {
        replacement.set_tag(std::move(*from.tag), std::move(from.expanded_tag));
      } else {
        replacement.set_tag(std::nullopt);
      }
    }
  }
  // The empty documents loading left out around a root stay in the stream,
  // whatever replaces the root.
  if (target.extras() != nullptr && !target.extras()->skipped_documents.empty()) {
    replacement.edit_extras().skipped_documents =
        std::move(target.edit_extras().skipped_documents);
  }
  // Its anchors and aliases are read in the file the place is written in.
  adopt_into_file(replacement, place_file(target));
  target = std::move(replacement);
  target.comments.modified = true;
}

void append_new_pair(YamlNode& mapping, YamlNode key, YamlNode value) {
  if (mapping.style == CollectionStyle::Block && mapping.pair_count() != 0) {
    YamlNode& last_key = mapping.key(mapping.pair_count() - 1);
    YamlNode* at = &mapping.value(mapping.pair_count() - 1);
    if (at->kind() == NodeKind::Sequence && at->style == CollectionStyle::Block &&
        at->span.column <= last_key.span.column && !at->source()) {
      // Written innermost first: each collection's lines follow its entries.
      std::vector<YamlNode*> chain;
      while (at->is_collection() && at->style == CollectionStyle::Block &&
             !at->children().empty() && !at->source()) {
        chain.push_back(at);
        at = &at->children().back();
      }
      std::vector<HeadComment> head;
      for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->comments.foot().empty()) continue;
        for (std::string& line : (*it)->comments.edit_foot()) {
          head.push_back(HeadComment{std::move(line)});
        }
        (*it)->comments.edit_foot().clear();
        (*it)->comments.modified = true;
      }
      if (!head.empty()) {
        const std::vector<HeadComment>& own = key.comments.head();
        head.insert(head.end(), own.begin(), own.end());
        key.comments.edit_head() = std::move(head);
      }
    }
  }
  key.comments.modified = true;
  value.comments.modified = true;
  adopt_into_file(key, content_file(mapping));
  adopt_into_file(value, content_file(mapping));
  mapping.append_pair(std::move(key), std::move(value));
}

void erase_item(YamlNode& sequence, std::size_t index) {
  NodeList& items = sequence.edit_children();
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
  sequence.comments.modified = true;
}

void erase_pairs(YamlNode& mapping, std::span<const std::size_t> pairs) {
  NodeList& children = mapping.edit_children();
  // Compacts in one pass: each kept pair moves down over the removed ones.
  std::size_t write = 0;
  std::size_t next_removed = 0;
  const std::size_t count = children.size() / 2;
  for (std::size_t pair = 0; pair < count; ++pair) {
    if (next_removed < pairs.size() && pairs[next_removed] == pair) {
      ++next_removed;
      continue;
    }
    if (write != pair) {
      children[2 * write] = std::move(children[2 * pair]);
      children[2 * write + 1] = std::move(children[2 * pair + 1]);
    }
    ++write;
  }
  children.erase(children.begin() + static_cast<std::ptrdiff_t>(2 * write), children.end());
  mapping.comments.modified = true;
}

namespace {

void settle_foot_lines(YamlNode& parent, std::size_t child) {
  const std::span<YamlNode> children = parent.children();
  YamlNode& node = children[child];
  if (node.comments.foot().empty() || node.source() || parent.source()) return;
  if (node.is_collection() && node.style == CollectionStyle::Block && !node.children().empty()) {
    return;
  }
  std::vector<std::string> lines = std::move(node.comments.edit_foot());
  node.comments.edit_foot().clear();
  // In a mapping the node is a value: the entry after it starts at the next key.
  if (child + 1 < children.size()) {
    YamlNode& next = children[child + 1];
    std::vector<HeadComment> head;
    head.reserve(lines.size() + next.comments.head().size());
    for (std::string& line : lines) head.push_back(HeadComment{std::move(line)});
    // The blank lines above the next entry stood below these lines.
    head.back().blank_after = std::exchange(next.comments.blank_before, 0);
    std::vector<HeadComment>& old = next.comments.edit_head();
    head.insert(head.end(), std::make_move_iterator(old.begin()), std::make_move_iterator(old.end()));
    old = std::move(head);
    next.comments.modified = true;
  } else {
    // Empty documents after a root are counted in its foot lines.
    if (parent.extras() != nullptr) {
      for (std::uint32_t& at : parent.edit_extras().skipped_documents) {
        if ((at & NodeExtras::kSkippedAfterRoot) != 0) at += static_cast<std::uint32_t>(lines.size());
      }
    }
    std::vector<std::string>& foot = parent.comments.edit_foot();
    lines.insert(lines.end(), std::make_move_iterator(foot.begin()),
                 std::make_move_iterator(foot.end()));
    foot = std::move(lines);
  }
  parent.comments.modified = true;
}

}  // namespace

std::uint32_t closing_blank_lines(const YamlNode& node) noexcept {
  const YamlNode* at = &node;
  while (at->is_collection() && at->style == CollectionStyle::Block && !at->children().empty()) {
    at = &at->children().back();
  }
  return static_cast<std::uint32_t>(blank_lines_closing_block_scalar(*at));
}

void settle_lines(YamlNode& parent, std::size_t child, std::uint32_t closing_blanks) {
  const std::span<YamlNode> children = parent.children();
  if (child >= children.size() || parent.style != CollectionStyle::Block) return;
  settle_foot_lines(parent, child);
  if (closing_blanks != 0 && child + 1 < children.size()) {
    children[child + 1].comments.blank_before += closing_blanks;
  }
}

std::optional<std::string> stranded_alias(const YamlNode& root, std::span<const Removal> removals) {
  const std::unordered_set<const YamlNode*> gone = removed_definitions(removals);
  if (gone.empty()) return std::nullopt;
  // Which definition each alias reads, as the text reads it: with a name
  // defined twice, an alias after the second reads the second, and would
  // silently fall back to the first if the second went.
  const AnchorIndex index(root);
  // The aliases left in the tree: removed parts are not entered (a replaced
  // node's content goes too; only its own anchor stays with the place).
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* node = stack.back();
    stack.pop_back();
    const Removal* r = removal_at(removals, node);
    if (r != nullptr && !r->only_own_anchor) continue;
    if (node->kind() == NodeKind::Alias) {
      const YamlNode* target = index.target(*node);
      if (target != nullptr && gone.contains(target)) return std::string(node->text());
      continue;
    }
    push_children(*node, stack);
  }
  return std::nullopt;
}

std::optional<std::string> unmergeable_replacement(const YamlNode& root, const YamlNode& target,
                                                   const YamlNode& replacement,
                                                   const YamlNode* parent,
                                                   const YamlNode* grandparent) {
  if (replacement.kind() == NodeKind::Mapping) return std::nullopt;
  // Whether a merge reads the place through aliases is known only from the
  // whole tree: looked at only for an anchored node or list, so replacing
  // anything else costs no more than its place.
  const std::string* name = place_anchor(target);
  const bool in_list = parent != nullptr && parent->kind() == NodeKind::Sequence;
  const std::string* list_name = in_list ? place_anchor(*parent) : nullptr;
  std::optional<AnchorIndex> index;
  const auto reads = [&](const YamlNode& node, const YamlNode& definition) {
    if (node.kind() != NodeKind::Alias) return false;
    if (!index) index.emplace(root);
    return index->target(node) == &definition;
  };
  // A list of mappings merges them all, but only as the merge value
  // itself: inside a merge list every item must be a mapping. An item of a
  // list that is already in the tree may be an alias of one.
  bool list_of_mappings = replacement.kind() == NodeKind::Sequence;
  for (const YamlNode& item : replacement.items()) {
    if (!list_of_mappings) break;
    if (item.kind() == NodeKind::Alias) {
      if (!index) index.emplace(root);
      const YamlNode* definition = index->target(item);
      list_of_mappings = definition != nullptr && definition->kind() == NodeKind::Mapping;
    } else {
      list_of_mappings = item.kind() == NodeKind::Mapping;
    }
  }
  // The merge key's own value, or an item of its list.
  if (parent != nullptr && is_merge_value(*parent, target) && !list_of_mappings) {
    return std::string();
  }
  if (in_list && grandparent != nullptr && is_merge_value(*grandparent, *parent)) {
    return std::string();
  }
  if (name == nullptr && list_name == nullptr) return std::nullopt;
  std::vector<const YamlNode*> stack{&root};
  while (!stack.empty()) {
    const YamlNode* node = stack.back();
    stack.pop_back();
    if (node->kind() == NodeKind::Mapping) {
      for (std::size_t i = 0; i < node->pair_count(); ++i) {
        if (!is_merge_key(node->key(i))) continue;
        const YamlNode& merged = node->value(i);
        if (name != nullptr && reads(merged, target) && !list_of_mappings) return *name;
        // An item of the list a merge reads through an alias.
        if (list_name != nullptr && reads(merged, *parent)) return *list_name;
        if (name == nullptr || merged.kind() != NodeKind::Sequence) continue;
        for (const YamlNode& item : merged.items()) {
          if (reads(item, target)) return *name;
        }
      }
    }
    push_children(*node, stack);
  }
  return std::nullopt;
}

std::string unmergeable_replacement_message(std::string_view name) {
  std::string text = "replacing this node would change ";
  if (name.empty()) {
    text += "what a merge key ('<<') reads";
  } else {
    text += "anchor '&";
    text += name;
    text += "', which a merge key ('<<') reads through '*";
    text += name;
    text += "',";
  }
  text +=
      " into something that cannot be merged; the result would not load as a merge. "
      "Assign a mapping, or rewrite the merge first.";
  return text;
}

std::string anchor_still_referenced_message(std::string_view name) {
  std::string text = "deleting this node would remove anchor '&";
  text += name;
  text += "', still referenced by an alias '*";
  text += name;
  text += "' elsewhere; the result would not re-parse. Remove or rewrite the alias first.";
  return text;
}

}  // namespace ostrevane
