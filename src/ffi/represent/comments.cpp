// Comments that descriptors carry, put on the nodes of the represent road,
// and the rules that keep every one of them in the written text: a
// `comment_after` only where lines after the node have a place, no comment
// on or inside a mapping key (a key is written on one line), no lines above
// the first item of a block sequence together with a comment on its dash
// line, and the lines above a mapping value moved above its key.
#include <string_view>
#include <vector>

#include "ffi/represent/represent.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::string_view kKeyOwnCommentMessage =
    "a mapping key cannot carry an inline comment or comment_after";
constexpr std::string_view kCommentInsideKeyMessage =
    "a comment inside a mapping key is not supported, since the key must stay on one line";

PyError value_error(std::string_view message) {
  return PyError::builtin(PyExc_ValueError, std::string(message));
}

// The lines of a stored comment text (joined by LF): no empty last line
// after a final LF, none at all for the empty text.
template <typename Add>
void for_each_line(std::string_view text, Add add) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    std::string_view line = text.substr(start, end - start);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    add(line);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
}

bool has_any_comment(const YamlNode& node) noexcept {
  const CommentTexts* texts = node.comments.texts();
  return texts != nullptr &&
         (!texts->head.empty() || texts->inline_comment || !texts->foot.empty());
}

}  // namespace

PyResult<YamlNode> apply_represent_comments(YamlNode node, const DescriptorComments& comments,
                                            bool root) {
  if (comments.comment_after && !root && !is_nonempty_block_collection(node)) {
    return std::unexpected(value_error(kFootPlacementMessage));
  }
  // A block collection at the root has no line of its own for a trailing
  // comment: it would stand above the collection, among the lines of
  // comment_before.
  if (comments.comment && root && is_nonempty_block_collection(node)) {
    return std::unexpected(value_error(kInlineCommentNotWritableMessage));
  }
  if (!comments.comment_before && !comments.comment && !comments.comment_after) return node;
  CommentTexts& texts = node.comments.edit_texts();
  if (comments.comment_before) {
    texts.head.clear();
    for_each_line(*comments.comment_before, [&](std::string_view line) {
      texts.head.push_back({std::string(line), false});
    });
  }
  texts.inline_comment = comments.comment;
  if (comments.comment_after) {
    texts.foot.clear();
    for_each_line(*comments.comment_after,
                  [&](std::string_view line) { texts.foot.emplace_back(line); });
  }
  return node;
}

PyResult<void> check_key_comments(const YamlNode& key) {
  if (key.comments.inline_comment() || !key.comments.foot().empty()) {
    return std::unexpected(value_error(kKeyOwnCommentMessage));
  }
  std::vector<const YamlNode*> work;
  push_children(key, work);
  while (!work.empty()) {
    const YamlNode* node = work.back();
    work.pop_back();
    if (has_any_comment(*node)) return std::unexpected(value_error(kCommentInsideKeyMessage));
    push_children(*node, work);
  }
  return {};
}

PyResult<void> check_first_item_comments(const YamlNode& item) {
  if (!item.comments.head().empty() && item.comments.inline_comment() &&
      inline_on_dash_line(item)) {
    return std::unexpected(value_error(kHeadPlacementMessage));
  }
  return {};
}

void move_value_head_to_key(YamlNode& key, YamlNode& value) {
  const CommentTexts* value_texts = value.comments.texts();
  if (value_texts == nullptr || value_texts->head.empty()) return;
  std::vector<HeadComment>& from = value.comments.edit_head();
  std::vector<HeadComment>& to = key.comments.edit_head();
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  from.clear();
}

}  // namespace ostrevane::ffi
