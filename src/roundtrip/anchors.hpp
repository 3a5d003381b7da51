// Anchors and aliases of node trees, and the modified test.
//
// Input: one document root (read only). Output: an `AnchorIndex` that tells,
// for every alias node of the tree, the anchored node it refers to; and
// `tree_is_modified`, whether any node of a tree was changed since composing.
//
// An alias means the nearest definition of its name that precedes it in its
// own document, where a definition counts from the moment its node is
// complete: in `&x [*x]` the inner alias cannot mean the sequence around it
// (the composer refuses it unless an earlier `&x` exists, and then it means
// that one). A name defined twice therefore refers to the first definition
// before the second is complete and to the second afterwards, exactly as the
// text reads. Definitions count only for aliases of the same file (the
// span's file_id): an included file's anchors never capture its includer's
// aliases, nor the reverse. Which anchors a node defines, and for which
// file, is the rule below (for_each_definition). An alias with no such
// definition (only possible after edits) is absent from the index.
//
// Ownership: the index borrows the tree. It must not outlive it, and any
// change to the tree invalidates it; callers build one per operation. No
// node is copied, so an index costs one hash entry per alias whatever the
// aliases expand to (alias bombs stay small), and nothing is bounded by a
// copy budget.
//
// Depth: both walks keep an explicit stack, so trees of any depth are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "roundtrip/node.hpp"

namespace ostrevane {

// The one rule of which anchors a node defines, for every walk that asks
// (this index, the alias budget, the searches and checks of edits, the
// cursor API):
//
// - A node that stands in its place as written is named by its own anchor,
//   for the aliases of its own file (its span's file).
// - A node a configuration directive produced stands in the directive's
//   place: the anchor written on the directive's line names it, for the
//   aliases of the file holding the directive (the source's
//   directive_file_id). That is its place anchor, the one the cursor API
//   reads and sets and an edit of the place keeps. The produced node may
//   carry its own anchor as well (an included file's root), which counts
//   for its own file only; nothing in that file can read it, since every
//   alias there stands inside the root.

// The file whose text holds the node's place: for a directive's node the
// file holding the directive, else the node's own file.
[[nodiscard]] inline std::uint32_t place_file(const YamlNode& node) noexcept {
  const std::optional<IncludeSource>& source = node.source();
  return source ? source->directive_file_id : node.span.file_id;
}

// The file of the node's content and of everything below it: an included
// file's for the root of one, else the node's own file.
[[nodiscard]] inline std::uint32_t content_file(const YamlNode& node) noexcept {
  const std::optional<IncludeSource>& source = node.source();
  return source && source->target_file_id ? *source->target_file_id : node.span.file_id;
}

// The anchor of the node's place (see above), or nullptr.
[[nodiscard]] inline const std::string* place_anchor(const YamlNode& node) noexcept {
  const NodeExtras* extras = node.extras();
  if (extras == nullptr) return nullptr;
  if (extras->source) return extras->source->anchor ? &*extras->source->anchor : nullptr;
  return extras->anchor ? &*extras->anchor : nullptr;
}

// Sets or removes the anchor of the node's place.
void set_place_anchor(YamlNode& node, std::optional<std::string> name);

// Calls `f(file_id, name)` for each anchor the node defines (at most two).
template <class F>
void for_each_definition(const YamlNode& node, F&& f) {
  const NodeExtras* extras = node.extras();
  if (extras == nullptr) return;
  if (extras->anchor) f(node.span.file_id, std::string_view(*extras->anchor));
  if (extras->source && extras->source->anchor) {
    f(extras->source->directive_file_id, std::string_view(*extras->source->anchor));
  }
}

// Whether the node defines `name` for the aliases of file `file_id`.
[[nodiscard]] bool defines_anchor(const YamlNode& node, std::uint32_t file_id,
                                  std::string_view name) noexcept;

// Whether the node defines `name` for any file.
[[nodiscard]] bool defines_anchor(const YamlNode& node, std::string_view name) noexcept;

// Whether the node defines any anchor.
[[nodiscard]] inline bool defines_any_anchor(const YamlNode& node) noexcept {
  const NodeExtras* extras = node.extras();
  return extras != nullptr && (extras->anchor || (extras->source && extras->source->anchor));
}

// Moves a subtree about to be put in a place of file `file_id` into that
// file: its nodes' spans (and a directive's directive_file_id) name it, so
// that its anchors and aliases are scoped as the written text will read
// them. An included file's root keeps its own content file. Nodes made from
// values start in file 0, and a copy keeps the file it came from.
void adopt_into_file(YamlNode& node, std::uint32_t file_id);

class AnchorIndex {
 public:
  // Indexes every alias under `root` (the root of one document).
  explicit AnchorIndex(const YamlNode& root);

  // The anchored node that `alias` (an Alias node of the indexed tree)
  // refers to, or nullptr when no definition precedes it. Never an Alias.
  [[nodiscard]] const YamlNode* target(const YamlNode& alias) const noexcept {
    const auto it = targets_.find(&alias);
    return it == targets_.end() ? nullptr : it->second;
  }

  // Number of aliases that have a definition.
  [[nodiscard]] std::size_t size() const noexcept { return targets_.size(); }

 private:
  std::unordered_map<const YamlNode*, const YamlNode*> targets_;
};

// True when `node` or any node below it has `comments.modified` set, or a
// directive node's `directive_modified`; stops at the first such node.
[[nodiscard]] bool tree_is_modified(const YamlNode& node);

}  // namespace ostrevane
