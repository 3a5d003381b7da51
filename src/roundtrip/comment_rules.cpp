#include "roundtrip/comment_rules.hpp"

#include <utility>

#include "emit_util/detail/unprintable.hpp"

namespace ostrevane {
namespace {

// NEL (C2 85), LS (E2 80 A8) and PS (E2 80 A9).
bool has_unicode_line_break(std::string_view text) noexcept {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto d = static_cast<unsigned char>(text[i + 1]);
    if (c == 0xC2 && d == 0x85) return true;
    if (c == 0xE2 && d == 0x80 && i + 2 < text.size()) {
      const auto e = static_cast<unsigned char>(text[i + 2]);
      if (e == 0xA8 || e == 0xA9) return true;
    }
  }
  return false;
}

// The first character the reader refuses, TAB, LF and CR left to the line
// rules.
std::optional<CommentError> find_control(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!detail::may_start_unprintable(c) || c == '\t' || c == '\n' || c == '\r') continue;
    if (const std::size_t len = detail::unprintable_at(text, i)) {
      return CommentError{CommentFault::ControlCharacter, std::string(text.substr(i, len))};
    }
  }
  return std::nullopt;
}

}  // namespace

Result<std::optional<std::string>, CommentError> validate_inline_comment(
    std::optional<std::string> text) {
  if (!text) return text;
  if (text->find_first_of("\n\r") != std::string::npos || has_unicode_line_break(*text)) {
    return std::unexpected(CommentError{CommentFault::InlineLineBreak, {}});
  }
  if (std::optional<CommentError> control = find_control(*text)) {
    return std::unexpected(std::move(*control));
  }
  return text;
}

Result<std::vector<std::string>, CommentError> split_comment_lines(
    std::optional<std::string> text) {
  std::vector<std::string> lines;
  if (!text) return lines;
  if (has_unicode_line_break(*text)) {
    return std::unexpected(CommentError{CommentFault::UnicodeLineBreak, {}});
  }
  if (std::optional<CommentError> control = find_control(*text)) {
    return std::unexpected(std::move(*control));
  }
  const std::string_view view = *text;
  std::size_t start = 0;
  for (std::size_t i = 0; i < view.size(); ++i) {
    if (view[i] != '\n' && view[i] != '\r') continue;
    lines.emplace_back(view.substr(start, i - start));
    if (view[i] == '\r' && i + 1 < view.size() && view[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.emplace_back(view.substr(start));
  return lines;
}

bool is_nonempty_block_collection(const YamlNode& node) noexcept {
  return node.is_collection() && node.style == CollectionStyle::Block && !node.children().empty();
}

bool inline_on_dash_line(const YamlNode& item) noexcept {
  return item.comments.inline_before_value || is_nonempty_block_collection(item);
}

std::optional<std::string> join_comment_lines(const std::vector<HeadComment>& lines,
                                              CommentSelection selection) {
  std::optional<std::string> joined;
  for (const HeadComment& line : lines) {
    if (selection == CommentSelection::AboveIntroducer && line.below_introducer) continue;
    if (selection == CommentSelection::BelowIntroducer && !line.below_introducer) continue;
    if (joined) {
      joined->push_back('\n');
    } else {
      joined.emplace();
    }
    joined->append(line.text);
  }
  return joined;
}

std::optional<std::string> joined_foot_comment(const YamlNode& node) {
  return joined_foot_comment(node.comments.foot());
}

std::optional<std::string> joined_foot_comment(const std::vector<std::string>& foot) {
  if (foot.empty()) return std::nullopt;
  std::string joined = foot.front();
  for (std::size_t i = 1; i < foot.size(); ++i) {
    joined.push_back('\n');
    joined.append(foot[i]);
  }
  return joined;
}

}  // namespace ostrevane
