#include "roundtrip/document/node_comments.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace ostrevane {
namespace {

NodeCommentError fault(NodeCommentFault kind) { return NodeCommentError{kind}; }

NodeCommentError text_fault(CommentError error) {
  return NodeCommentError{NodeCommentFault::Text, std::move(error)};
}

// The node reached from roots[root] by `steps`, or nullptr.
template <class Node>
Node* walk(std::span<Node> roots, std::size_t root, std::span<const PathSegment> steps) noexcept {
  if (root >= roots.size()) return nullptr;
  Node* node = &roots[root];
  for (const PathSegment& step : steps) {
    node = node_child(*node, step);
    if (node == nullptr) return nullptr;
  }
  return node;
}

template <class Node>
Node* resolve(std::span<Node> roots, std::size_t root, const NodePath& path) noexcept {
  return walk(roots, root, path.segments());
}

template <class Node>
std::optional<BasicHeadCommentOwner<Node>> owner_of(std::span<Node> roots, std::size_t root,
                                                    const NodePath& path) noexcept {
  const std::span<const PathSegment> steps = path.segments();
  if (steps.empty() || steps.back().kind != PathSegment::Kind::Key) {
    Node* node = walk(roots, root, steps);
    if (node == nullptr) return std::nullopt;
    if (!steps.empty() && steps.back().kind == PathSegment::Kind::Index) {
      return item_head_owner(*node);
    }
    return BasicHeadCommentOwner<Node>{node, CommentSelection::All};
  }
  Node* mapping = walk(roots, root, steps.first(steps.size() - 1));
  if (mapping == nullptr) return std::nullopt;
  // The pair the step names, found by its key.
  const PathSegment& last = steps.back();
  Node* key = node_child(*mapping, last.as_key_node());
  if (key == nullptr) return std::nullopt;
  const auto pair = static_cast<std::size_t>(key - mapping->children().data()) / 2;
  const bool is_item =
      steps.size() >= 2 && steps[steps.size() - 2].kind == PathSegment::Kind::Index;
  return pair_head_owner(*mapping, pair, is_item);
}

// Marks a comment edit. On a node a directive produced, the comments are
// those of the directive's line, in the file holding the directive: that
// file must be written, not the one the directive names.
void mark_comment_edit(YamlNode& node) {
  if (node.source()) {
    node.edit_extras().source->directive_modified = true;
  } else {
    node.comments.modified = true;
  }
}

// The comment lines of the file an !include below the document root names:
// the lines after its content are that file's own, written with it. The
// directive at a root stands at the end of its own document instead, whose
// lines it keeps.
const CommentLines* included_file_lines(const YamlNode& node, const NodePath& path) noexcept {
  if (path.empty()) return nullptr;
  const std::optional<IncludeSource>& source = node.source();
  if (!source || !source->target_file_id || !source->root_comments) return nullptr;
  return &*source->root_comments;
}

// The comment lines of the included file whose root is `owner`, when the
// lines above a node inside it that `path` asks for are that root's own
// (the lines above the first key of an included mapping); nullptr
// otherwise, the include node's own lines being its directive line's.
const CommentLines* included_root_lines(const YamlNode& owner, const NodePath& path) noexcept {
  const std::optional<IncludeSource>& source = owner.source();
  if (!source || !source->target_file_id || !source->root_comments) return nullptr;
  const std::span<const PathSegment> steps = path.segments();
  // The owner is the node the path's last step leads out of: the path ends
  // at a value inside it, never at the include node itself.
  if (steps.empty() || steps.back().kind != PathSegment::Kind::Key) return nullptr;
  return &*source->root_comments;
}

// `comment_after` of a directive node below the root. The lines of an
// !include go to the end of the file it names, which is then written; any
// other directive's content has no file of its own and its line no lines
// after it, so only clearing is accepted.
Result<void, NodeCommentError> write_directive_foot(YamlNode& node,
                                                    std::optional<std::string> text) {
  const bool included = node.source()->target_file_id.has_value();
  if (text && !included) return std::unexpected(fault(NodeCommentFault::FootNotPlaceable));
  if (text && node.source()->followed_by_documents) {
    return std::unexpected(fault(NodeCommentFault::FootBeforeIncludedDocument));
  }
  auto lines = split_comment_lines(std::move(text));
  if (!lines) return std::unexpected(text_fault(std::move(lines).error()));
  if (!included) {
    node.comments.edit_foot().clear();
    mark_comment_edit(node);
    return {};
  }
  std::optional<CommentLines>& file = node.edit_extras().source->root_comments;
  if (!file) file.emplace();
  file->foot = std::move(*lines);
  node.comments.modified = true;  // the included file's own lines changed
  return {};
}

// Whether the emitter writes a trailing comment of the node where composing
// reads it back as the node's own.
bool inline_comment_writable(const YamlNode& node, const NodePath& path) noexcept {
  if (path.empty()) return !is_nonempty_block_collection(node) || node.source().has_value();
  return path.segments().back().kind != PathSegment::Kind::KeyNode;
}

// Whether the path ends at a block sequence that stands at its key's column
// (an indentless sequence) with another pair after it, or at the last entry
// of such a sequence, or the last entry of that, and so on: comment lines
// after any of them are read back as the next key's.
bool ends_indentless_before_a_key(std::span<YamlNode> roots, std::size_t root,
                                  const NodePath& path) noexcept {
  if (root >= roots.size()) return false;
  const YamlNode* node = &roots[root];
  bool ending = false;
  for (const PathSegment& step : path.segments()) {
    const YamlNode* child = node_child(*node, step);
    if (child == nullptr) return false;
    ending = ending && child == &node->children().back();
    if (!ending && step.kind == PathSegment::Kind::Key && node->kind() == NodeKind::Mapping &&
        child->kind() == NodeKind::Sequence && child->style == CollectionStyle::Block) {
      const auto pair = static_cast<std::size_t>(child - node->children().data()) / 2;
      ending = pair + 1 < node->pair_count() && child->span.column <= node->key(pair).span.column;
    }
    node = child;
  }
  return ending;
}

// Whether the path leads from the root through last entries only: lines
// after its node close the document.
bool ends_document(std::span<YamlNode> roots, std::size_t root, const NodePath& path) noexcept {
  if (root >= roots.size()) return false;
  const YamlNode* node = &roots[root];
  for (const PathSegment& step : path.segments()) {
    const YamlNode* child = node_child(*node, step);
    if (child == nullptr || child != &node->children().back()) return false;
    node = child;
  }
  return true;
}

// Whether a collection on the way to the path's end is in flow style: all
// it holds is written in flow style too, where no comment line can follow
// an entry.
bool inside_flow(std::span<YamlNode> roots, std::size_t root, const NodePath& path) noexcept {
  if (root >= roots.size()) return false;
  const YamlNode* node = &roots[root];
  for (const PathSegment& step : path.segments()) {
    if (node->is_collection() && node->style == CollectionStyle::Flow) return true;
    node = node_child(*node, step);
    if (node == nullptr) return false;
  }
  return false;
}

// Whether the path ends at the first item of a sequence written in block
// style.
bool first_block_item(std::span<YamlNode> roots, std::size_t root, const NodePath& path) noexcept {
  const std::span<const PathSegment> steps = path.segments();
  return !steps.empty() && steps.back().kind == PathSegment::Kind::Index &&
         steps.back().number == 0 && !inside_flow(roots, root, path);
}

}  // namespace

std::optional<HeadCommentOwner> head_comment_owner(std::span<const YamlNode> roots,
                                                   std::size_t root,
                                                   const NodePath& path) noexcept {
  return owner_of(roots, root, path);
}

std::optional<HeadCommentOwnerForEdit> head_comment_owner_for_edit(std::span<YamlNode> roots,
                                                                   std::size_t root,
                                                                   const NodePath& path) noexcept {
  return owner_of(roots, root, path);
}

Result<std::optional<std::string>, NodeCommentError> read_inline_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path) {
  const YamlNode* node = resolve(roots, root, path);
  if (node == nullptr) return std::unexpected(fault(NodeCommentFault::Stale));
  return node->comments.inline_comment();
}

Result<void, NodeCommentError> write_inline_comment(std::span<YamlNode> roots, std::size_t root,
                                                    const NodePath& path,
                                                    std::optional<std::string> text) {
  YamlNode* node = resolve(roots, root, path);
  if (node == nullptr) return std::unexpected(fault(NodeCommentFault::Stale));
  if (text && !inline_comment_writable(*node, path)) {
    return std::unexpected(fault(NodeCommentFault::InlineNotWritable));
  }
  // On a first item's dash line, next to lines of the item's own above it.
  if (text && first_block_item(roots, root, path) && inline_on_dash_line(*node) &&
      owned_head_comment(item_head_owner(*node))) {
    return std::unexpected(fault(NodeCommentFault::HeadNotPlaceable));
  }
  if (text || node->comments.texts() != nullptr) {
    node->comments.edit_inline_comment() = std::move(text);
  }
  node->comments.inline_spaces = 0;
  mark_comment_edit(*node);
  return {};
}

Result<std::optional<std::string>, NodeCommentError> read_head_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path) {
  const std::optional<HeadCommentOwner> found = owner_of(roots, root, path);
  if (!found) return std::unexpected(fault(NodeCommentFault::Stale));
  if (const CommentLines* file = included_root_lines(*found->owner, path)) {
    return join_comment_lines(file->head, found->selection);
  }
  return owned_head_comment(*found);
}

Result<void, NodeCommentError> write_head_comment(std::span<YamlNode> roots, std::size_t root,
                                                  const NodePath& path,
                                                  std::optional<std::string> text) {
  const std::optional<HeadCommentOwnerForEdit> found = owner_of(roots, root, path);
  if (!found) return std::unexpected(fault(NodeCommentFault::Stale));
  const CommentSelection selection = found->selection;
  // Above a first dash that carries a comment, lines are the sequence's.
  if (text && ((selection == CommentSelection::AboveIntroducer &&
                path.segments().back().number == 0) ||
               (found->owner->comments.inline_comment() && inline_on_dash_line(*found->owner) &&
                first_block_item(roots, root, path)))) {
    return std::unexpected(fault(NodeCommentFault::HeadNotPlaceable));
  }
  auto lines = split_comment_lines(std::move(text));
  if (!lines) return std::unexpected(text_fault(std::move(lines).error()));
  // Above the first entry of an included file's root, the lines are that
  // file's own (kept with the source): written with that file.
  YamlNode& owner = *found->owner;
  std::optional<CommentLines>* file = nullptr;
  if (included_root_lines(owner, path) != nullptr) file = &owner.edit_extras().source->root_comments;
  const std::vector<HeadComment>& old_head = file ? (*file)->head : owner.comments.head();
  // The lines on the other side of the dash line stay where they are.
  std::vector<HeadComment> head;
  std::vector<HeadComment> kept;
  for (const HeadComment& line : old_head) {
    if ((selection == CommentSelection::AboveIntroducer && line.below_introducer) ||
        (selection == CommentSelection::BelowIntroducer && !line.below_introducer)) {
      kept.push_back(line);
    }
  }
  if (selection == CommentSelection::BelowIntroducer) head = std::move(kept);
  const bool below = selection == CommentSelection::BelowIntroducer;
  // A root's new lines go above its directives and "---" when an old line
  // stood there: a schema reference replaced stays in the leading lines.
  const bool above = !below && std::ranges::any_of(old_head, [](const HeadComment& line) {
                       return line.above_marker;
                     });
  for (std::string& line : *lines) head.push_back(HeadComment{std::move(line), below, above});
  if (selection == CommentSelection::AboveIntroducer) {
    head.insert(head.end(), std::make_move_iterator(kept.begin()),
                std::make_move_iterator(kept.end()));
  }
  if (file != nullptr) {
    (*file)->head = std::move(head);
    owner.comments.modified = true;  // the included file's own lines changed
    return {};
  }
  owner.comments.edit_head() = std::move(head);
  mark_comment_edit(owner);
  return {};
}

Result<std::optional<std::string>, NodeCommentError> read_foot_comment(
    std::span<const YamlNode> roots, std::size_t root, const NodePath& path) {
  const YamlNode* node = resolve(roots, root, path);
  if (node == nullptr) return std::unexpected(fault(NodeCommentFault::Stale));
  if (const CommentLines* file = included_file_lines(*node, path)) {
    return joined_foot_comment(file->foot);
  }
  return joined_foot_comment(*node);
}

Result<void, NodeCommentError> write_foot_comment(std::span<YamlNode> roots, std::size_t root,
                                                  const NodePath& path,
                                                  std::optional<std::string> text) {
  YamlNode* node = resolve(roots, root, path);
  if (node == nullptr) return std::unexpected(fault(NodeCommentFault::Stale));
  if (!path.empty() && node->source()) return write_directive_foot(*node, std::move(text));
  // The root's lines after it close the document, whatever the root is.
  if (text && !path.empty() &&
      (!is_nonempty_block_collection(*node) || inside_flow(roots, root, path))) {
    return std::unexpected(fault(NodeCommentFault::FootNotPlaceable));
  }
  if (text && ends_indentless_before_a_key(roots, root, path)) {
    return std::unexpected(fault(NodeCommentFault::FootNotReadable));
  }
  // Indented lines there stay the collection's; at column 0 they are read
  // back as the next document's.
  if (text && !path.empty() && root + 1 < roots.size() && node->span.column == 0 &&
      ends_document(roots, root, path)) {
    return std::unexpected(fault(NodeCommentFault::FootBeforeDocument));
  }
  auto lines = split_comment_lines(std::move(text));
  if (!lines) return std::unexpected(text_fault(std::move(lines).error()));
  node->comments.edit_foot() = std::move(*lines);
  node->comments.modified = true;
  return {};
}

}  // namespace ostrevane
