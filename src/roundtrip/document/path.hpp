// Node paths: how cursors and views address a node of a document's trees.
//
// Input: a document's roots (read only, or for editing) and a NodePath, the
// steps from one root to a node. Output: the node the path designates now,
// or none; and, the other way round, the path of a node found by address.
//
// A cursor never holds a node pointer: trees change under it (edits move and
// replace nodes), so every operation walks its path again, and a path that no
// longer leads anywhere makes the cursor stale. A step by key picks a pair of
// a mapping by its key's text; when several pairs share that text (a quoted
// and a plain 1, or a duplicate key), its occurrence says which: 0 is the
// last pair with the text, 1 the one before it, and so on, so a step made by
// a lookup reaches the pair that matched. An empty key (": 1", or a None
// assigned as a key) is reached by a step of its own, by occurrence among
// the empty keys. No step follows an alias and no step enters a pair whose
// key is a collection or an alias.
//
// Ownership: a NodePath owns its steps and their texts; copies are explicit
// (clone). Pointers returned by the walks borrow the tree and are valid only
// until the tree changes. The walks never recurse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/node.hpp"

namespace ostrevane {

struct PathSegment {
  enum class Kind : std::uint8_t {
    Key,      // the value of a pair, by key text
    Index,    // a sequence item
    KeyNode,  // the key node itself of a pair, by key text
  };

  Kind kind = Kind::Index;
  // Key and KeyNode: the key's text, compared byte for byte.
  std::string text;
  // Index: the item's position. Key and KeyNode: the occurrence among the
  // pairs whose key has `text`, counted from the last (0).
  std::uint64_t number = 0;
  // Key and KeyNode: the pair's key is an empty node, not a scalar; `text`
  // is empty.
  bool empty_key = false;

  [[nodiscard]] static PathSegment key(std::string text, std::uint64_t occurrence = 0) {
    return {Kind::Key, std::move(text), occurrence};
  }
  [[nodiscard]] static PathSegment key_node(std::string text, std::uint64_t occurrence = 0) {
    return {Kind::KeyNode, std::move(text), occurrence};
  }
  [[nodiscard]] static PathSegment index(std::uint64_t position) {
    return {Kind::Index, std::string(), position};
  }
  // The KeyNode step of the same pair as this Key step.
  [[nodiscard]] PathSegment as_key_node() const { return {Kind::KeyNode, text, number, empty_key}; }

  friend bool operator==(const PathSegment&, const PathSegment&) = default;
};

class NodePath {
 public:
  NodePath() = default;
  explicit NodePath(std::vector<PathSegment> segments) : segments_(std::move(segments)) {}
  NodePath(NodePath&&) noexcept = default;
  NodePath& operator=(NodePath&&) noexcept = default;
  NodePath(const NodePath&) = delete;
  NodePath& operator=(const NodePath&) = delete;

  [[nodiscard]] NodePath clone() const { return NodePath(segments_); }
  // A copy followed by one more step.
  [[nodiscard]] NodePath extended(PathSegment step) const {
    NodePath copy = clone();
    copy.segments_.push_back(std::move(step));
    return copy;
  }

  [[nodiscard]] std::span<const PathSegment> segments() const noexcept { return segments_; }
  [[nodiscard]] bool empty() const noexcept { return segments_.empty(); }
  void push(PathSegment step) { segments_.push_back(std::move(step)); }

  friend bool operator==(const NodePath&, const NodePath&) = default;

 private:
  std::vector<PathSegment> segments_;
};

// The child that `step` designates in `node`, or nullptr.
[[nodiscard]] const YamlNode* node_child(const YamlNode& node, const PathSegment& step) noexcept;
[[nodiscard]] YamlNode* node_child(YamlNode& node, const PathSegment& step) noexcept;

// The node `path` designates starting at roots[root], or nullptr (also when
// there is no such root).
[[nodiscard]] const YamlNode* resolve_node_path(std::span<const YamlNode> roots, std::size_t root,
                                                const NodePath& path) noexcept;
// The same, for editing the node found.
[[nodiscard]] YamlNode* resolve_node_path_for_edit(std::span<YamlNode> roots, std::size_t root,
                                                   const NodePath& path) noexcept;

// The collection holding the node `path` designates (a non-empty path), and
// that node's index among its children; nullptr when there is none.
[[nodiscard]] YamlNode* resolve_parent_for_edit(std::span<YamlNode> roots, std::size_t root,
                                                const NodePath& path, std::size_t& index);

// The collections around the node `path` designates: the one holding it
// and the one holding that (nullptr above the root, and both nullptr when
// the path leads nowhere).
struct PathHolders {
  const YamlNode* parent = nullptr;
  const YamlNode* grandparent = nullptr;
};
[[nodiscard]] PathHolders resolve_holders(std::span<const YamlNode> roots, std::size_t root,
                                          const NodePath& path) noexcept;

// The Key step that reaches the value of pair `pair` of `mapping`, whose key
// must be a Scalar or an empty node: its text (or the empty-key mark) and
// its occurrence among the pairs it names.
[[nodiscard]] PathSegment pair_step(const YamlNode& mapping, std::size_t pair);

// The path from `root` to the node at address `target` (a value, an item,
// or a pair's scalar key node), or nothing when no path reaches it (it lies
// under a pair whose key is not a scalar, or not under `root` at all).
[[nodiscard]] std::optional<NodePath> find_node_path(const YamlNode& root, const YamlNode& target);

// True when `node` is a Mapping with a pair whose key is a Scalar with text
// `key`, byte for byte; style plays no part and nothing is converted.
[[nodiscard]] bool mapping_has_text_key(const YamlNode& node, std::string_view key) noexcept;

}  // namespace ostrevane
