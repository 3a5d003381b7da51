// Comment attachment: hands every scanned comment of a text to one node.
//
// Input: the composed roots of one text, the comments the scanner collected
// (in source order), the text and the composer's dash positions and marker
// lines. Output, in the nodes' Comments: head comments above a node (a
// root's lines above its document's first directive or "---" marked
// above_marker), an inline comment on its line (after it, or on its
// introducer's line before it), foot comments after the last content of the
// stream, and the layout facts that depend on the lines around a node:
// blank_before, inline_spaces, inline_before_value and the value_pad of
// values after plain keys.
//
// Invariants: each comment goes to exactly one node, in one pass over the
// comments (linear in nodes plus comments; for the blank lines only the
// lines between content are read, backwards from the node after them). The
// compose entry points attach root by root while composing
// (CommentAttacher); attaching to all roots afterwards gives the same. A node reached through a
// key's ':' or a '-' with a comment on that introducer line and another after its own start keeps
// both: the first becomes a head line with below_introducer set, the second
// the inline comment. Recursion runs through with_stack_guard.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "roundtrip/composer/composer.hpp"
#include "roundtrip/node.hpp"
#include "scanner/token.hpp"

namespace ostrevane {

// A (line, column) position, lines and columns from 0, columns in characters.
struct LineColumn {
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  friend bool operator==(const LineColumn&, const LineColumn&) = default;
  friend auto operator<=>(const LineColumn&, const LineColumn&) = default;
};

// Attaches `comments` to `roots` (edited in place). Comments after the last
// node go to the foot of the last open block collection at or left of their
// column. A root's head lines above its document's marker line (one entry
// per root, Composer::marker_lines; none when the span is short) are marked
// above_marker. `skipped_lines`: the composer's marker lines of the empty
// documents it left out, as CommentAttacher takes them. Nothing is attached
// when there are no roots. Never fails.
void attach_comments_to_documents(NodeList& roots, const std::vector<ScannedComment>& comments,
                                  std::string_view text, const DashPositions& dash_positions,
                                  std::span<const std::uint32_t> marker_lines = {},
                                  const std::vector<std::uint32_t>* skipped_lines = nullptr);

// The same attachment one root at a time, for a composer that attaches each
// document as soon as it is complete, while its nodes are still in cache.
// The roots come in stream order; every comment a root's attachment reads
// lies before the boundary token that ends its document, so `comments` need
// hold only the comments scanned so far (it may grow between calls). The
// texts of the comments attached are moved into the nodes.
class CommentAttacher {
 public:
  // `dash_positions` must be sealed up to the root being attached.
  // `skipped_lines`: the marker lines of the empty documents the composer
  // left out, in order (it may grow between calls); each is recorded on the
  // root after it (NodeExtras::skipped_documents), or on the last root.
  CommentAttacher(std::string_view text, const DashPositions& dash_positions,
                  const std::vector<std::uint32_t>* skipped_lines = nullptr);
  ~CommentAttacher();
  CommentAttacher(const CommentAttacher&) = delete;
  CommentAttacher& operator=(const CommentAttacher&) = delete;

  // `marker_line`: the root's Composer::marker_lines entry; `previous`: the
  // root before it, if any.
  void attach_root(YamlNode& root, std::vector<ScannedComment>& comments,
                   std::uint32_t marker_line, YamlNode* previous = nullptr);
  // After the last root, with every comment of the text: those not attached
  // yet go to feet, as attach_comments_to_documents does.
  void attach_rest(YamlNode& last_root, std::vector<ScannedComment>& comments);

  class Attacher;

 private:
  std::unique_ptr<Attacher> attacher_;
};

// Where a node's content ends: a collection at its furthest child (its start
// when empty); an alias or a null at its start; a plain one-line scalar at
// its start plus its characters; any other scalar at its recorded end
// (the composer's exact source end). Walks with an explicit stack.
[[nodiscard]] LineColumn node_end_position(const YamlNode& node);

// The node that receives a foot comment at `column` below `node`: descends
// through last children that are non-empty Block collections starting at or
// left of `column`.
[[nodiscard]] YamlNode& last_open_collection(YamlNode& node, std::uint32_t column) noexcept;

}  // namespace ostrevane
