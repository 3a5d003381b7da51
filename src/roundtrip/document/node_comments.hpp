// Node comments: the three comments of the node a cursor's path designates,
// read and replaced as texts.
//
// Input: a document's roots (read only, or for editing), the root a path
// starts at, the path, and for the writers a comment text from Python.
// Output: the stored comment joined into one text, or the tree changed in
// place (the changed node marked modified; a node a directive produced
// marked directive_modified instead, its comments being those of the
// directive's line); or a NodeCommentError.
//
// `comment_after` of an !include node below the root is the included
// file's own last lines (kept with its source), written with that file;
// refused when further documents of the file follow, which would read them
// as their own. On any other directive node below the root it is refused:
// neither the directive's line nor its content has lines after it.
//
// Placement follows how composing stores comments: the comment after the
// "key:" or "-" that opens a block collection is that collection's trailing
// comment, and the lines above a mapping's first key are the mapping's own.
// So the lines above a node are not always the node's: head_comment_owner
// decides, for a path, which node holds them and which of its lines the
// path may read and replace (a mapping item with a comment on its dash line
// shares its lines with its first key). Readers and writers both go through
// it, so a writer replaces exactly what the reader returns.
//
// A text is refused where the emitter would not write it back as the same
// comment: a trailing comment on a key (written at all only in the "? "
// form, and then read back as the value's), or on a block collection at the
// root that no directive produced (written as a line above it, read back
// among its comment_before lines); lines after a node anywhere but after a
// block collection or at the root; lines of its own above the first item of
// a block sequence together with a comment on its dash line
// (inline_on_dash_line). Clearing is always allowed.
//
// Ownership: nothing is kept; pointers into the tree live only inside one
// call. The walks follow the path and never recurse. Nothing is changed on
// failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "roundtrip/comment_rules.hpp"
#include "roundtrip/document/path.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

enum class NodeCommentFault : std::uint8_t {
  Stale,              // the path designates no node
  InlineNotWritable,  // a trailing comment has no line of its own here
  FootNotPlaceable,   // lines after the node have no place
  HeadNotPlaceable,   // lines above the node would be read back as another's
  FootNotReadable,    // lines after the node would be read back as the next key's
  FootBeforeIncludedDocument,  // ... as the next document's, in an included file
  FootBeforeDocument,  // lines after the node would be read back as the next document's
  Text,               // the text breaks the comment text rules; see `text`
};

struct NodeCommentError {
  NodeCommentFault fault;
  CommentError text{};  // Text only
};

// The node holding the lines above the node a path designates, and which of
// its lines belong to that path (BasicHeadCommentOwner, comment_rules.hpp).
using HeadCommentOwner = BasicHeadCommentOwner<const YamlNode>;
using HeadCommentOwnerForEdit = BasicHeadCommentOwner<YamlNode>;

// By the path's last step: none (the root itself, every line); an item
// (item_head_owner); a key node (the key, every line); a mapping value
// (pair_head_owner, the mapping being an item when the step before is an
// index). None when the path, or for a value the pair it names, does not
// resolve.
[[nodiscard]] std::optional<HeadCommentOwner> head_comment_owner(std::span<const YamlNode> roots,
                                                                 std::size_t root,
                                                                 const NodePath& path) noexcept;
[[nodiscard]] std::optional<HeadCommentOwnerForEdit> head_comment_owner_for_edit(
    std::span<YamlNode> roots, std::size_t root, const NodePath& path) noexcept;

// `comment`: the trailing comment of the node, or of the line that opens it.
[[nodiscard]] Result<std::optional<std::string>, NodeCommentError> read_inline_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path);
// `text` has passed validate_inline_comment already: that check comes
// before the cursor is looked at. The gap before the '#' falls back to the
// emitter's minimum; which line the comment stands on is kept.
[[nodiscard]] Result<void, NodeCommentError> write_inline_comment(std::span<YamlNode> roots,
                                                                  std::size_t root,
                                                                  const NodePath& path,
                                                                  std::optional<std::string> text);

// `comment_before`: the owner's selected lines joined with LF.
[[nodiscard]] Result<std::optional<std::string>, NodeCommentError> read_head_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path);
// Replaces the selected lines by the lines of `text`, keeping the owner's
// other lines on their side of the dash line. On a root the new lines stand
// above its directives and "---" when an old line stood there.
[[nodiscard]] Result<void, NodeCommentError> write_head_comment(std::span<YamlNode> roots,
                                                                std::size_t root,
                                                                const NodePath& path,
                                                                std::optional<std::string> text);

// `comment_after`: the node's foot lines joined with LF.
[[nodiscard]] Result<std::optional<std::string>, NodeCommentError> read_foot_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path);
[[nodiscard]] Result<void, NodeCommentError> write_foot_comment(std::span<YamlNode> roots,
                                                                std::size_t root,
                                                                const NodePath& path,
                                                                std::optional<std::string> text);

}  // namespace ostrevane
