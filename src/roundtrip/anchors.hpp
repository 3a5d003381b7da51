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
// aliases, nor the reverse. A node a directive produced is defined also
// under the directive's own anchor, for the directive's file. An alias with no such definition (only possible after edits)
// is absent from the index.
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
#include <unordered_map>

#include "roundtrip/node.hpp"

namespace ostrevane {

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
