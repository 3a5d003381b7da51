#include "roundtrip/composer/comments.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "scanner/yaml_directive.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

std::uint32_t count_chars(std::string_view text) noexcept {
  std::uint32_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool is_blank_line(std::string_view line) noexcept {
  // Most lines are indented printable ASCII: not blank, without decoding.
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size()) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c > ' ' && c < 0x80) return false;
  }
  return trim_white_space_front(line.substr(i)).empty();
}

// Line breaks in a text: LF, CR LF and a lone CR each end one line.
std::uint32_t count_line_breaks(std::string_view text) noexcept {
  std::uint32_t breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++breaks;
    } else if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
      ++breaks;
    }
  }
  return breaks;
}

// A line and a byte offset on it.
struct LineAt {
  std::uint32_t line;
  std::uint64_t at;
};

// Counts the blank lines between two lines. Lines end as the scanner ends
// them (LF, CR LF, a lone CR), so line numbers agree with every Span. Only
// the lines asked about are read: from a position on the later line, back
// over the lines in between.
class BlankLines {
 public:
  explicit BlankLines(std::string_view text)
      : text_(text), has_cr_(text.find('\r') != std::string_view::npos) {}

  // Blank lines with a number strictly between `after` and `before`;
  // `at` is the byte offset of a position on line `before`.
  [[nodiscard]] std::uint32_t between(std::uint32_t after, std::uint32_t before,
                                      std::uint64_t at) const noexcept {
    if (before <= after + 1) return 0;
    std::size_t start = line_start(std::min<std::uint64_t>(at, text_.size()));
    std::uint32_t blank = 0;
    for (std::uint32_t line = before; line > after + 1 && start > 0; --line) {
      // The break that ends the line above: LF, CR LF or a lone CR.
      std::size_t end = start - 1;
      if (text_[end] == '\n' && end > 0 && text_[end - 1] == '\r') --end;
      start = line_start(end);
      if (is_blank_line(text_.substr(start, end - start))) ++blank;
    }
    return blank;
  }

  // The last line, from `line` (the line of offset `at`, read up to it)
  // upward, that holds more than white space and a comment, with an offset
  // on it.
  [[nodiscard]] LineAt content_line_before(std::uint32_t line, std::uint64_t at) const noexcept {
    std::size_t end = std::min<std::uint64_t>(at, text_.size());
    std::size_t start = line_start(end);
    while (line > 0 && start > 0 && !holds_content(text_.substr(start, end - start))) {
      end = start - 1;
      if (text_[end] == '\n' && end > 0 && text_[end - 1] == '\r') --end;
      start = line_start(end);
      --line;
      at = end;
    }
    return LineAt{line, at};
  }

  // Whether the text holds a CR: without one, every line ends with LF.
  [[nodiscard]] bool has_cr() const noexcept { return has_cr_; }
  [[nodiscard]] std::string_view text() const noexcept { return text_; }

 private:
  // Where the line holding the byte at `at` (or ending there) starts.
  std::size_t line_start(std::size_t at) const noexcept {
    const char* p = text_.data();
    if (!has_cr_) {
      const void* lf = at == 0 ? nullptr : memrchr(p, '\n', at);
      return lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1 : 0;
    }
    while (at > 0 && p[at - 1] != '\n' && p[at - 1] != '\r') --at;
    return at;
  }

  static bool holds_content(std::string_view line) noexcept {
    const std::size_t at = line.find_first_not_of(" \t");
    return at != std::string_view::npos && line[at] != '#';
  }

  std::string_view text_;
  bool has_cr_;
};

struct Introducer {
  enum class Kind : std::uint8_t { None, KeyColon, Dash } kind = Kind::None;
  std::uint32_t line = 0;    // KeyColon: the key's end line
  std::uint32_t column = 0;  // KeyColon: the key's end column; Dash: the sequence's column
  bool first = false;        // Dash: the first item, whose dash starts the sequence
};

void prefetch_node(const YamlNode& node) noexcept {
  const char* p = reinterpret_cast<const char*>(&node);
  for (std::size_t at = 0; at < sizeof(YamlNode); at += 64) __builtin_prefetch(p + at);
}

LineColumn start_of(const YamlNode& node) noexcept { return {node.span.line, node.span.column}; }

// The end of a node with no children to look at.
LineColumn leaf_end(const YamlNode& node) noexcept {
  switch (node.kind()) {
    case NodeKind::Scalar:
      if (node.scalar_style() == ScalarStyle::Plain && node.end_line == node.span.line) {
        // A composed one-line plain scalar spans exactly its text: its
        // recorded end is the same position, without counting.
        if (node.end_offset - node.span.offset == node.text().size() &&
            node.end_offset >= node.span.offset) {
          return {node.end_line, node.end_column};
        }
        return {node.span.line, node.span.column + count_chars(node.text())};
      }
      return {node.end_line, node.end_column};
    case NodeKind::Alias:
      // Past the '*' and the name: a trailing comment's gap is measured
      // from there, so that writing it back keeps the source's spacing.
      return {node.span.line, node.span.column + 1 + count_chars(node.text())};
    case NodeKind::Sequence:
    case NodeKind::Mapping:
      // An empty flow collection ends past its brackets ("[]", "{}"), for
      // the same reason; an inner blank shrinks away once written back.
      if (node.style == CollectionStyle::Flow && node.children().empty()) {
        return {node.span.line, node.span.column + 2};
      }
      return start_of(node);
    default:
      return start_of(node);
  }
}

// Where a node's own text ends: for a flow collection past its closing
// bracket (its recorded end is its last child's), found by skipping what may
// stand before the bracket; `children_end` is where its last child's text ends.
std::uint64_t text_end(std::string_view text, const YamlNode& node, std::uint64_t children_end) {
  switch (node.kind()) {
    case NodeKind::Alias:
      return node.span.offset + 1 + node.text().size();
    case NodeKind::Null:
      return node.span.offset;
    case NodeKind::Sequence:
    case NodeKind::Mapping: {
      if (node.style != CollectionStyle::Flow) return node.end_offset;
      std::size_t at = node.children().empty() ? node.span.offset + 1 : children_end;
      while (at < text.size()) {
        const char c = text[at];
        if (c == ']' || c == '}') return at + 1;
        if (c == '#') {
          while (at < text.size() && text[at] != '\n' && text[at] != '\r') ++at;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',') {
          ++at;
        } else {
          break;
        }
      }
      return std::max<std::uint64_t>(children_end, node.end_offset);
    }
    default:
      return node.end_offset;
  }
}

// Whether only blanks and commas stand between two offsets of one line: a
// comment after a flow entry is that entry's only when no other entry, key
// or closing bracket stands between them.
bool only_separators(std::string_view text, std::uint64_t from, std::uint64_t to) noexcept {
  if (from > to || to > text.size()) return false;
  for (std::uint64_t i = from; i < to; ++i) {
    const char c = text[i];
    if (c != ' ' && c != '\t' && c != ',') return false;
  }
  return true;
}

// The spaces and tabs right before an offset on its line.
std::uint32_t blanks_before(std::string_view text, std::uint64_t at) noexcept {
  std::uint32_t n = 0;
  while (at > n && at - n <= text.size() && (text[at - n - 1] == ' ' || text[at - n - 1] == '\t')) {
    ++n;
  }
  return n;
}

}  // namespace

class CommentAttacher::Attacher {
 public:
  Attacher(std::string_view text, const DashPositions& dashes) : blank_(text), dashes_(dashes) {}

  // Reads comments from `comments` from now on (the same list, grown, or
  // the whole list at once), copying their texts into the nodes.
  void read_from(const std::vector<ScannedComment>& comments) noexcept {
    comments_ = &comments;
    movable_ = nullptr;
  }
  // The same, moving the texts out instead.
  void take_from(std::vector<ScannedComment>& comments) noexcept {
    comments_ = &comments;
    movable_ = &comments;
  }

  // Attaches around `node` and returns node_end_position(node), computed
  // from the children's on the way back up so the whole pass stays linear.
  LineColumn attach(YamlNode& node, bool trailing, const Introducer& intro);

  // A root with its document's marker line (Composer::marker_lines), and
  // the root before it.
  void attach_root(YamlNode& root, std::uint32_t marker_line, YamlNode* previous) {
    if (previous != nullptr) {
      take_document_foot(*previous, marker_line == Composer::kNoMarker ? root.span.line
                                                                        : marker_line);
    }
    // Only the root takes the lines above its document's marker: every
    // other node starts after it.
    above_before_ = marker_line == Composer::kNoMarker ? 0 : marker_line;
    root_ = &root;
    root_limit_ = marker_line == Composer::kNoMarker ? root.span.line : marker_line;
    with_stack_guard([&] { attach(root, true, Introducer{}); });
    root_ = nullptr;
  }

  // Every comment not attached yet goes to the foot of the last open
  // collection at its column; after the marker of an empty document left
  // out, to the root's own.
  void attach_rest(YamlNode& last_root) {
    bool past_skipped = false;
    for (; next_ < comments_->size(); ++next_) {
      const ScannedComment& c = (*comments_)[next_];
      while (skipped_pending(c.span.line + 1)) {
        skip_to(last_root, foot_count(last_root) | NodeExtras::kSkippedAfterRoot);
        past_skipped = true;
      }
      YamlNode& target = past_skipped ? last_root : last_open_collection(last_root, c.span.column);
      target.comments.edit_foot().push_back(text_at(next_));
    }
    while (skipped_pending(UINT32_MAX)) {
      skip_to(last_root, foot_count(last_root) | NodeExtras::kSkippedAfterRoot);
    }
  }

  const std::vector<std::uint32_t>* skipped_ = nullptr;

 private:
  const ScannedComment* peek() const noexcept {
    return next_ < comments_->size() ? &(*comments_)[next_] : nullptr;
  }
  std::string text_at(std::size_t i) const {
    return movable_ ? std::move((*movable_)[i].text) : (*comments_)[i].text;
  }
  std::string take_text() { return text_at(next_++); }
  void note_line(std::uint32_t line) noexcept {
    prev_line_ = has_prev_ ? std::max(prev_line_, line) : line;
    has_prev_ = true;
  }
  void take_comments_above(YamlNode& node, const Introducer& intro, LineAt start);
  LineAt empty_node_line(const YamlNode& node) const noexcept;
  // The next left-out document's marker stands before line `before`.
  bool skipped_pending(std::uint32_t before) const noexcept {
    return skipped_ != nullptr && skip_next_ < skipped_->size() && (*skipped_)[skip_next_] < before;
  }
  void skip_to(YamlNode& root, std::uint32_t entry) {
    root.edit_extras().skipped_documents.push_back(entry);
    ++skip_next_;
  }
  static std::uint32_t foot_count(const YamlNode& node) noexcept {
    return static_cast<std::uint32_t>(node.comments.foot().size());
  }
  static std::uint32_t head_count(const YamlNode& node) noexcept {
    return static_cast<std::uint32_t>(node.comments.head().size());
  }
  void take_empty_value_comment(const YamlNode& key, YamlNode& value);
  void take_explicit_empty_value_comment(const YamlNode& key, YamlNode& value);
  void take_document_foot(YamlNode& previous, std::uint32_t before);
  void take_foot_lines(YamlNode& previous, const YamlNode& next, std::uint32_t column);

  const std::vector<ScannedComment>* comments_ = nullptr;
  std::vector<ScannedComment>* movable_ = nullptr;  // comments_, when texts may move
  BlankLines blank_;
  const DashPositions& dashes_;
  bool has_prev_ = false;
  std::uint32_t prev_line_ = 0;
  std::uint32_t depth_ = 0;
  std::size_t next_ = 0;
  std::uint32_t above_before_ = 0;  // comment lines before this one stood above the marker
  YamlNode* root_ = nullptr;        // the root being attached
  std::uint32_t root_limit_ = 0;    // its marker line, else its start line
  std::size_t skip_next_ = 0;       // the first left-out document not placed yet
  bool in_flow_ = false;            // the node being attached is a flow entry
  std::uint64_t last_text_end_ = 0;  // text_end of the node attached last
};

void CommentAttacher::Attacher::take_comments_above(YamlNode& node, const Introducer& intro,
                                                    LineAt start) {
  const std::uint32_t start_line = start.line;
  Comments& comments = node.comments;
  // The item's own dash, when its content starts on a later line: the lines
  // between them stand below it, and are written back there.
  std::int64_t dash_line = -1;
  // (A first item's lines are all written below its dash anyway.)
  if (intro.kind == Introducer::Kind::Dash && !intro.first && has_prev_ &&
      start_line > prev_line_ + 1) {
    if (const ScannedComment* c = peek(); c != nullptr && c->span.line < start_line) {
      dash_line = dashes_.last_in(prev_line_ + 1, start_line - 1, intro.column);
    }
  }
  // The head line taken last, whose blank lines below are counted once the
  // next line (or the node) is known.
  HeadComment* last_head = nullptr;
  std::uint32_t last_head_line = 0;
  const bool at_root = &node == root_;
  while (const ScannedComment* c = peek()) {
    if (c->span.line >= start_line) break;
    const std::uint32_t line = c->span.line, column = c->span.column;
    if (at_root) {
      while (skipped_pending(std::min(line + 1, root_limit_))) skip_to(node, head_count(node));
    }
    bool introducer = false;
    std::uint32_t gap = 0;
    if (intro.kind == Introducer::Kind::KeyColon) {
      if (line == intro.line && column >= intro.column + 1) {
        introducer = true;
        gap = column - (intro.column + 1);
      }
    } else if (intro.kind == Introducer::Kind::Dash) {
      if (column >= intro.column + 1 && dashes_.contains(line, intro.column)) {
        introducer = true;
        gap = column - (intro.column + 1);
      }
    }
    if (introducer && !comments.inline_comment()) {
      comments.edit_inline_comment() = take_text();
      // With properties before it, the gap is the one after them (the
      // blanks before it); with properties after it, none is kept.
      const std::uint32_t blanks = blanks_before(blank_.text(), c->span.offset);
      comments.inline_spaces = !node.has_anchor_or_tag() ? gap : blanks < gap ? blanks : 0;
      comments.inline_before_value = true;
    } else {
      if (last_head != nullptr) {
        last_head->blank_after = blank_.between(last_head_line, line, c->span.offset);
      }
      const bool below_introducer =
          comments.inline_before_value || (dash_line >= 0 && line > dash_line);
      std::vector<HeadComment>& head = comments.edit_head();
      head.push_back(HeadComment{take_text(), below_introducer, line < above_before_});
      last_head = &head.back();
      last_head_line = line;
    }
    note_line(line);
  }
  if (last_head != nullptr) {
    last_head->blank_after = blank_.between(last_head_line, start_line, start.at);
  }
  if (at_root) {
    while (skipped_pending(root_limit_)) skip_to(node, head_count(node));
  }
}

// The line an empty node with an anchor or tag stands on: that of its
// properties, which may be lines above the token it is placed at. Every
// other node stands on its start line.
LineAt CommentAttacher::Attacher::empty_node_line(const YamlNode& node) const noexcept {
  if (node.kind() != NodeKind::Null || !node.has_anchor_or_tag() || &node == root_) {
    return LineAt{node.span.line, node.span.offset};
  }
  return blank_.content_line_before(node.span.line, node.span.offset);
}

// Comment lines after a block collection's last entry, indented past the
// column of the entry that follows them, close that collection (as they do at
// the end of the text): they are its foot, written back there, not the next
// entry's head at the next entry's column.
void CommentAttacher::Attacher::take_foot_lines(YamlNode& previous, const YamlNode& next,
                                                std::uint32_t column) {
  if (!previous.is_collection() || previous.style != CollectionStyle::Block ||
      previous.children().empty() || previous.source() || previous.span.column <= column) {
    return;  // an indentless sequence's lines stand at the next key's column
  }
  while (const ScannedComment* c = peek()) {
    // A comment on the next item's dash line, or below that dash (a bare
    // dash, its content on a later line), is that item's.
    if (c->span.line >= next.span.line || c->span.column <= column ||
        c->span.column < previous.span.column ||
        dashes_.last_in(has_prev_ ? prev_line_ + 1 : 0, c->span.line, column) >= 0) {
      break;
    }
    const std::uint32_t line = c->span.line;
    last_open_collection(previous, c->span.column).comments.edit_foot().push_back(take_text());
    note_line(line);
  }
}

// Indented comment lines after a document's last content, before the next
// document, close a block collection nested in it, as they do at the end of
// the text: they are its foot (written back there), not the next document's
// lines. Lines at column 0, or after an empty document left out, stay the
// next document's.
void CommentAttacher::Attacher::take_document_foot(YamlNode& previous, std::uint32_t before) {
  while (const ScannedComment* c = peek()) {
    if (c->span.line >= before || c->span.column == 0 || skipped_pending(c->span.line + 1)) break;
    YamlNode& target = last_open_collection(previous, c->span.column);
    if (&target == &previous) break;
    const std::uint32_t line = c->span.line;
    target.comments.edit_foot().push_back(take_text());
    note_line(line);
  }
}

// A missing value ('key:' and nothing on the line) stands nowhere in the
// text, so no comment reaches it on its own: the comment after the colon is
// the value's, on its line, as it would be after a value written there.
void CommentAttacher::Attacher::take_empty_value_comment(const YamlNode& key, YamlNode& value) {
  if (value.kind() != NodeKind::Null || value.has_anchor_or_tag() ||
      value.span.offset >= key.end_offset || value.comments.inline_comment()) {
    return;
  }
  const ScannedComment* c = peek();
  if (c == nullptr || c->span.line != key.end_line || c->span.column <= key.end_column) return;
  value.comments.inline_spaces = c->span.column - (key.end_column + 1);
  value.comments.edit_inline_comment() = take_text();
  note_line(key.end_line);
}

// The same after an explicit key, whose ":" starts a later line ('? key',
// then ': # about the value'): only blanks stand between the key and that
// colon, and between the colon and the comment.
void CommentAttacher::Attacher::take_explicit_empty_value_comment(const YamlNode& key,
                                                                  YamlNode& value) {
  if (value.kind() != NodeKind::Null || value.has_anchor_or_tag() ||
      value.span.offset >= key.end_offset || value.comments.inline_comment()) {
    return;
  }
  const ScannedComment* c = peek();
  const std::string_view text = blank_.text();
  if (c == nullptr || key.end_offset >= c->span.offset || c->span.offset > text.size()) {
    return;
  }
  const std::string_view gap = text.substr(key.end_offset, c->span.offset - key.end_offset);
  const std::size_t colon = gap.find_first_not_of(" \t\r\n");
  if (colon == std::string_view::npos || gap[colon] != ':' ||
      gap.find_first_not_of(" \t", colon + 1) != std::string_view::npos) {
    return;
  }
  value.comments.inline_spaces = blanks_before(text, c->span.offset);
  value.comments.edit_inline_comment() = take_text();
  note_line(c->span.line);
}

LineColumn CommentAttacher::Attacher::attach(YamlNode& node, bool trailing,
                                             const Introducer& intro) {
  // Blank lines since the previous content, up to the node or its first
  // head comment.
  // An empty node with an anchor or tag is placed at the token after its
  // properties, maybe lines below them: the blank and comment lines in
  // between belong to what follows, and only the properties' line is the
  // node's. A mapping key (the one node attached without a trailing comment)
  // is the exception: what follows it is its own ":", so every line above
  // that stays its head, written above the key, where it keeps its order
  // before the value's comments; a key's line has no room for a comment.
  const LineAt start =
      trailing ? empty_node_line(node) : LineAt{node.span.line, node.span.offset};
  const std::uint32_t start_line = start.line;
  std::uint32_t bound = node.span.line;
  std::uint64_t bound_offset = node.span.offset;
  if (const ScannedComment* c = peek(); c && c->span.line < bound) {
    bound = c->span.line;
    bound_offset = c->span.offset;
  }
  if (has_prev_ && start_line == node.span.line) {
    node.comments.blank_before = blank_.between(prev_line_, bound, bound_offset);
  }
  take_comments_above(node, intro, start);
  note_line(start_line);

  LineColumn end = leaf_end(node);
  if (start_line != node.span.line) end = LineColumn{start_line, UINT32_MAX};
  // A level takes little stack: measuring at every 8th level stays far
  // inside the guard's margin.
  const bool flow = node.is_collection() && node.style == CollectionStyle::Flow;
  const bool entry_in_flow = in_flow_;
  const std::size_t taken_before = next_;
  in_flow_ = flow;
  std::uint64_t children_end = 0;
  const auto guarded = [&](YamlNode& child, bool child_trailing, const Introducer& child_intro) {
    ++depth_;
    const LineColumn child_end =
        depth_ % 8 == 0
            ? with_stack_guard([&] { return attach(child, child_trailing, child_intro); })
            : attach(child, child_trailing, child_intro);
    --depth_;
    children_end = std::max(children_end, last_text_end_);
    return child_end;
  };
  // Siblings lie side by side, but a subtree between two of them breaks the
  // hardware's stream: each step fetches the child kAhead places on.
  constexpr std::size_t kAhead = 4;
  const std::span<YamlNode> children = node.children();
  for (std::size_t i = 0; i < kAhead && i < children.size(); ++i) prefetch_node(children[i]);
  const auto fetch_ahead = [&](std::size_t i) {
    if (i + kAhead < children.size()) prefetch_node(children[i + kAhead]);
  };
  if (node.kind() == NodeKind::Sequence) {
    bool any = false;
    Introducer dash{Introducer::Kind::Dash, 0, node.span.column, true};
    for (std::size_t i = 0; i < children.size(); ++i) {
      fetch_ahead(i);
      if (i != 0 && !flow) take_foot_lines(children[i - 1], children[i], node.span.column);
      dash.first = i == 0;
      const LineColumn item_end = guarded(children[i], true, dash);
      if (!any || item_end > end) end = item_end;
      any = true;
    }
  } else if (node.kind() == NodeKind::Mapping) {
    bool any = false;
    const bool block = node.style == CollectionStyle::Block;
    for (std::size_t i = 0; i < node.pair_count(); ++i) {
      fetch_ahead(2 * i);
      fetch_ahead(2 * i + 1);
      YamlNode& key = node.key(i);
      YamlNode& value = node.value(i);
      if (i != 0 && block) take_foot_lines(node.value(i - 1), key, node.span.column);
      const LineColumn key_end = guarded(key, false, Introducer{});
      if (key.kind() == NodeKind::Scalar && key.scalar_style() == ScalarStyle::Plain &&
          key_end.line == value.span.line && key_end.column < value.span.column &&
          !value.has_anchor_or_tag()) {
        value.comments.value_pad = value.span.column - key_end.column - 1;
      }
      Introducer value_intro;
      if (block && key.end_line >= node.span.line && !key.explicit_key) {
        value_intro = Introducer{Introducer::Kind::KeyColon, key.end_line, key.end_column};
      }
      if (value_intro.kind == Introducer::Kind::KeyColon) {
        take_empty_value_comment(key, value);
      } else if (block && key.explicit_key) {
        take_explicit_empty_value_comment(key, value);
      }
      const LineColumn value_end = guarded(value, true, value_intro);
      const LineColumn pair_end = std::max(key_end, value_end);
      if (!any || pair_end > end) end = pair_end;
      any = true;
    }
  }

  // A block scalar's source ends on the line its line breaks lead to; where
  // every line ends with LF that is the composer's end line, else count
  // them (a lone CR ends a line too, or the lines a keep-chomped scalar
  // holds would be counted again as blank lines before the next node).
  const std::optional<std::string>& raw = node.comments.raw();
  const std::uint32_t end_line =
      raw && blank_.has_cr() ? node.span.line + count_line_breaks(*raw) : end.line;
  note_line(end_line);

  in_flow_ = entry_in_flow;
  // Only flow collections and flow entries need their text's end: where a
  // comment after a one-line flow collection belongs to the collection, not
  // to its first entry, and one after an entry to that entry.
  const std::uint64_t own_end =
      flow || entry_in_flow ? text_end(blank_.text(), node, children_end) : node.end_offset;
  last_text_end_ = own_end;
  // A flow collection that holds comments is written back as it stood while
  // nothing in it changes: laid out anew, one entry a line, its comments
  // could not all keep their places.
  if (flow && next_ != taken_before && entry_in_flow == false && own_end <= blank_.text().size() &&
      own_end > node.span.offset) {
    const char last = blank_.text()[own_end - 1];
    if (last == ']' || last == '}') {
      node.comments.edit_raw() =
          std::string(blank_.text().substr(node.span.offset, own_end - node.span.offset));
    }
  }

  if (trailing) {
    const ScannedComment* c = peek();
    // An empty node with an anchor or tag stands at the token after its
    // properties: a comment past that token is the following content's.
    if (c && node.kind() == NodeKind::Null && node.has_anchor_or_tag() &&
        c->span.offset >= node.span.offset) {
      c = nullptr;
    }
    // A comment after a flow collection's closing bracket is the
    // collection's, on whichever line the bracket stands.
    const bool after_bracket = flow && c && only_separators(blank_.text(), own_end, c->span.offset);
    // An empty node with an anchor or tag takes the comment on its
    // properties' line: placed at the token after them, it stands lines
    // below them, or past that comment where the text ends on its line.
    const bool after_properties = start_line != node.span.line ||
                                  (node.kind() == NodeKind::Null && node.has_anchor_or_tag() &&
                                   &node != root_);
    const bool on_line = after_properties
                             ? c && c->span.line == start_line
                             : c && c->span.line == node.span.line && c->span.column > node.span.column;
    if (c && (after_bracket || on_line) &&
        (!entry_in_flow || only_separators(blank_.text(), own_end, c->span.offset))) {
      Comments& comments = node.comments;
      if (after_bracket) {
        // Measured from the closing bracket, on the comment's line.
        end = LineColumn{c->span.line,
                         c->span.column - static_cast<std::uint32_t>(c->span.offset - own_end)};
      }
      if (comments.inline_comment() && comments.inline_before_value) {
        // Two comments: the one on the introducer line moves to a head line
        // written right after that line; this one stays inline. Lines above
        // the introducer stay before it.
        auto& head = comments.edit_head();
        auto below = head.begin();
        while (below != head.end() && !below->below_introducer) ++below;
        head.insert(below, HeadComment{std::move(*comments.edit_inline_comment()), true});
        comments.inline_before_value = false;
      }
      if (after_properties) {
        // Its properties end where the blanks before the comment begin.
        comments.inline_spaces = blanks_before(blank_.text(), c->span.offset);
      } else {
        if (node.kind() == NodeKind::Null && node.span.offset < blank_.text().size() &&
            blank_.text()[node.span.offset] == '-') {
          ++end.column;  // an empty item stands at its dash: the gap is after it
        }
        if (end.line == c->span.line && end.column < c->span.column) {
          comments.inline_spaces = c->span.column - end.column;
        }
      }
      comments.edit_inline_comment() = take_text();
    }
  }
  return end;
}

CommentAttacher::CommentAttacher(std::string_view text, const DashPositions& dash_positions,
                                 const std::vector<std::uint32_t>* skipped_lines)
    : attacher_(std::make_unique<Attacher>(text, dash_positions)) {
  attacher_->skipped_ = skipped_lines;
}

CommentAttacher::~CommentAttacher() = default;

void CommentAttacher::attach_root(YamlNode& root, std::vector<ScannedComment>& comments,
                                  std::uint32_t marker_line, YamlNode* previous) {
  attacher_->take_from(comments);
  attacher_->attach_root(root, marker_line, previous);
}

void CommentAttacher::attach_rest(YamlNode& last_root, std::vector<ScannedComment>& comments) {
  attacher_->take_from(comments);
  attacher_->attach_rest(last_root);
}

void attach_comments_to_documents(NodeList& roots, const std::vector<ScannedComment>& comments,
                                  std::string_view text, const DashPositions& dash_positions,
                                  std::span<const std::uint32_t> marker_lines,
                                  const std::vector<std::uint32_t>* skipped_lines) {
  if (roots.empty()) return;
  CommentAttacher::Attacher attacher(text, dash_positions);
  attacher.skipped_ = skipped_lines;
  attacher.read_from(comments);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    attacher.attach_root(roots[i], i < marker_lines.size() ? marker_lines[i] : Composer::kNoMarker,
                         i == 0 ? nullptr : &roots[i - 1]);
  }
  attacher.attach_rest(roots.back());
}

LineColumn node_end_position(const YamlNode& node) {
  if (!node.is_collection() || node.children().empty()) return leaf_end(node);
  LineColumn end = start_of(node);
  bool any = false;
  std::vector<const YamlNode*> work;
  push_children(node, work);
  while (!work.empty()) {
    const YamlNode* n = work.back();
    work.pop_back();
    if (n->is_collection() && !n->children().empty()) {
      push_children(*n, work);
      continue;
    }
    const LineColumn e = leaf_end(*n);
    if (!any || e > end) end = e;
    any = true;
  }
  return end;
}

YamlNode& last_open_collection(YamlNode& node, std::uint32_t column) noexcept {
  YamlNode* at = &node;
  for (;;) {
    std::span<YamlNode> children = at->children();
    if (children.empty()) return *at;
    YamlNode& last = children.back();
    if (!last.is_collection() || last.style != CollectionStyle::Block || last.children().empty() ||
        last.span.column > column) {
      return *at;
    }
    at = &last;
  }
}

}  // namespace ostrevane
