#include "roundtrip/node.hpp"

#include <algorithm>
#include <utility>

#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

const std::vector<HeadComment> kNoHead;
const std::vector<std::string> kNoLines;
const std::optional<std::string> kNoText;
const std::optional<IncludeSource> kNoSource;

// Moves `children` and everything below it onto one work list and frees it
// level by level: the native stack stays flat whatever the depth. Each node
// is destroyed after its own children were moved out, so its destructor
// finds nothing left to walk.
void drop_children(NodeList&& children) noexcept {
  NodeList work = std::move(children);
  while (!work.empty()) {
    YamlNode node = std::move(work.back());
    work.pop_back();
    NodeList& grandchildren = node.edit_children();
    for (YamlNode& child : grandchildren) work.push_back(std::move(child));
    NodeList().swap(grandchildren);
  }
}

}  // namespace

std::string_view node_kind_name(NodeKind kind) noexcept {
  switch (kind) {
    case NodeKind::Scalar:
      return "Scalar";
    case NodeKind::Sequence:
      return "Sequence";
    case NodeKind::Mapping:
      return "Mapping";
    case NodeKind::Alias:
      return "Alias";
    case NodeKind::Null:
      return "Null";
  }
  return "?";
}

std::string_view collection_style_name(CollectionStyle style) noexcept {
  return style == CollectionStyle::Flow ? "Flow" : "Block";
}

Comments Comments::clone() const {
  Comments copy;
  copy.blank_before = blank_before;
  copy.inline_spaces = inline_spaces;
  copy.value_pad = value_pad;
  copy.inline_before_value = inline_before_value;
  copy.compact = compact;
  copy.modified = modified;
  if (texts_) copy.texts_ = std::make_unique<CommentTexts>(*texts_);
  return copy;
}

// `new T` rather than make_unique<T>(): the members' own constructors set
// everything, and value-initialisation would clear the block first (a slow
// `rep stos` in g++).
CommentTexts& Comments::edit_texts() {
  if (!texts_) texts_.reset(new CommentTexts);
  return *texts_;
}

const std::vector<HeadComment>& Comments::head() const noexcept {
  return texts_ ? texts_->head : kNoHead;
}
const std::optional<std::string>& Comments::inline_comment() const noexcept {
  return texts_ ? texts_->inline_comment : kNoText;
}
const std::vector<std::string>& Comments::foot() const noexcept {
  return texts_ ? texts_->foot : kNoLines;
}
const std::optional<std::string>& Comments::raw() const noexcept {
  return texts_ ? texts_->raw : kNoText;
}
bool Comments::has_head_above_marker() const noexcept {
  return std::ranges::any_of(head(), [](const HeadComment& line) { return line.above_marker; });
}

CommentLines Comments::take_lines() {
  CommentLines lines;
  lines.blank_before = std::exchange(blank_before, 0);
  lines.inline_spaces = std::exchange(inline_spaces, 0);
  lines.inline_before_value = std::exchange(inline_before_value, false);
  if (texts_) {
    lines.head = std::move(texts_->head);
    texts_->head.clear();
    lines.inline_comment = std::exchange(texts_->inline_comment, std::nullopt);
    lines.foot = std::move(texts_->foot);
    texts_->foot.clear();
  }
  return lines;
}

void Comments::put_lines(CommentLines lines) {
  blank_before = lines.blank_before;
  inline_spaces = lines.inline_spaces;
  inline_before_value = lines.inline_before_value;
  if (!texts_ && lines.head.empty() && !lines.inline_comment && lines.foot.empty()) return;
  CommentTexts& texts = edit_texts();
  texts.head = std::move(lines.head);
  texts.inline_comment = std::move(lines.inline_comment);
  texts.foot = std::move(lines.foot);
}

bool operator==(const Comments& a, const Comments& b) {
  if (a.blank_before != b.blank_before || a.inline_spaces != b.inline_spaces ||
      a.value_pad != b.value_pad || a.inline_before_value != b.inline_before_value ||
      a.compact != b.compact || a.modified != b.modified) {
    return false;
  }
  static const CommentTexts kEmpty;
  const CommentTexts& ta = a.texts_ ? *a.texts_ : kEmpty;
  const CommentTexts& tb = b.texts_ ? *b.texts_ : kEmpty;
  return ta == tb;
}

// Levels of ~YamlNode running inside each other on this thread. Up to
// kDirectDropDepth levels, children die in place (no moves); below that the
// rest of the subtree goes through the work list, so the stack stays bounded.
constexpr int kDirectDropDepth = 48;
thread_local int direct_drop_depth = 0;

YamlNode::~YamlNode() {
  if (children_.empty()) return;
  if (direct_drop_depth < kDirectDropDepth) {
    ++direct_drop_depth;
    { NodeList dying = std::move(children_); }
    --direct_drop_depth;
  } else {
    drop_children(std::move(children_));
  }
}

YamlNode& YamlNode::operator=(YamlNode&& other) noexcept {
  if (this == &other) return *this;
  NodeList old = std::move(children_);
  copy_layout_from(other);
  comments = std::move(other.comments);
  text_ = std::move(other.text_);
  children_ = std::move(other.children_);
  extras_ = std::move(other.extras_);
  // `other` may have been a descendant of this node; its subtree is ours
  // now, so the old children go only after the move.
  if (!old.empty()) drop_children(std::move(old));
  return *this;
}

void YamlNode::copy_layout_from(const YamlNode& other) noexcept {
  span = other.span;
  end_offset = other.end_offset;
  end_line = other.end_line;
  end_column = other.end_column;
  style = other.style;
  explicit_start = other.explicit_start;
  leading_bom = other.leading_bom;
  synthetic = other.synthetic;
  explicit_key = other.explicit_key;
  kind_ = other.kind_;
  scalar_style_ = other.scalar_style_;
}

YamlNode YamlNode::scalar(std::string text, ScalarStyle style) {
  YamlNode node;
  node.set_scalar(std::move(text), style);
  return node;
}

YamlNode YamlNode::alias(std::string name) {
  YamlNode node;
  node.set_alias(std::move(name));
  return node;
}

YamlNode YamlNode::sequence(NodeList items, CollectionStyle style) {
  YamlNode node;
  node.set_sequence(std::move(items));
  node.style = style;
  return node;
}

YamlNode YamlNode::mapping(NodeList keys_and_values, CollectionStyle style) {
  YamlNode node;
  node.set_mapping(std::move(keys_and_values));
  node.style = style;
  return node;
}

void YamlNode::append_pair(YamlNode key, YamlNode value) {
  children_.push_back(std::move(key));
  children_.push_back(std::move(value));
}

NodeExtras& YamlNode::edit_extras() {
  if (!extras_) extras_.reset(new NodeExtras);  // as in edit_texts
  return *extras_;
}

const std::optional<std::string>& YamlNode::anchor() const noexcept {
  return extras_ ? extras_->anchor : kNoText;
}
const std::optional<std::string>& YamlNode::tag() const noexcept {
  return extras_ ? extras_->tag : kNoText;
}
const std::optional<IncludeSource>& YamlNode::source() const noexcept {
  return extras_ ? extras_->source : kNoSource;
}
const std::vector<std::string>& YamlNode::directives() const noexcept {
  return extras_ ? extras_->directives : kNoLines;
}

void YamlNode::set_anchor(std::optional<std::string> anchor) {
  if (anchor || extras_) edit_extras().anchor = std::move(anchor);
}
void YamlNode::set_tag(std::optional<std::string> tag) {
  if (!tag && !extras_) return;
  NodeExtras& extras = edit_extras();
  extras.tag = std::move(tag);
  extras.expanded_tag = SharedTagText();
}
void YamlNode::set_tag(std::string tag, SharedTagText expanded) {
  NodeExtras& extras = edit_extras();
  extras.tag = std::move(tag);
  extras.expanded_tag = std::move(expanded);
}
void YamlNode::copy_tag_from(const YamlNode& other) {
  const NodeExtras* from = other.extras();
  if (from == nullptr || !from->tag) {
    set_tag(std::nullopt);
    return;
  }
  set_tag(*from->tag, from->expanded_tag);
}
void YamlNode::set_source(std::optional<IncludeSource> source) {
  if (source || extras_) edit_extras().source = std::move(source);
}

void YamlNode::set_scalar(std::string text, ScalarStyle style) {
  set_null();
  kind_ = NodeKind::Scalar;
  text_ = std::move(text);
  scalar_style_ = style;
}

void YamlNode::set_alias(std::string name) {
  set_null();
  kind_ = NodeKind::Alias;
  text_ = std::move(name);
}

void YamlNode::set_sequence(NodeList items) {
  set_null();
  kind_ = NodeKind::Sequence;
  children_ = std::move(items);
}

void YamlNode::set_mapping(NodeList keys_and_values) {
  set_null();
  kind_ = NodeKind::Mapping;
  children_ = std::move(keys_and_values);
}

void YamlNode::set_null() noexcept {
  kind_ = NodeKind::Null;
  scalar_style_ = ScalarStyle::Plain;
  // Most nodes turned into another kind are fresh ones: nothing to free.
  if (!text_.empty() || text_.capacity() > std::string().capacity()) std::string().swap(text_);
  if (!children_.empty()) drop_children(std::move(children_));
  if (children_.capacity() != 0) children_ = NodeList();
}

YamlNode YamlNode::clone() const {
  YamlNode copy;
  copy.copy_layout_from(*this);
  copy.comments = comments.clone();
  copy.text_ = text_;
  if (extras_) copy.extras_ = std::make_unique<NodeExtras>(*extras_);
  if (!children_.empty()) {
    copy.children_.reserve(children_.size());
    for (const YamlNode& child : children_) {
      copy.children_.push_back(with_stack_guard([&] { return child.clone(); }));
    }
  }
  return copy;
}

// Blank lines that close a block scalar's kept source without belonging to
// its value (clip and strip chomping leave them out): composing counts them
// as the scalar's lines rather than as blank lines before the next node, so
// a scalar written anew puts them back.
std::size_t blank_lines_closing_block_scalar(const YamlNode& node) noexcept {
  const std::optional<std::string>& kept = node.comments.raw();
  if (!kept || node.kind() != NodeKind::Scalar) return 0;
  const std::string_view raw = *kept;
  const std::string_view text = node.text();
  const std::size_t header_end = raw.find('\n');
  if (header_end == std::string_view::npos) return 0;
  std::string_view body = raw.substr(header_end + 1);
  std::size_t blank = 0;
  while (!body.empty() && body.back() == '\n') {
    body.remove_suffix(1);
    const std::size_t lf = body.rfind('\n');
    const std::string_view line = lf == std::string_view::npos ? body : body.substr(lf + 1);
    // Only empty lines: one of spaces may be part of the value.
    if (!line.empty() && line != "\r") break;
    ++blank;
    body = lf == std::string_view::npos ? std::string_view() : body.substr(0, lf + 1);
  }
  // The blank lines the body writes itself: one for a text of line feeds
  // only (or none), one per final line feed beyond the first.
  const std::size_t last = text.find_last_not_of('\n');
  const std::size_t final_lfs = text.size() - (last == std::string_view::npos ? 0 : last + 1);
  const std::size_t in_value =
      (last == std::string_view::npos ? 1 : 0) + (final_lfs > 1 ? final_lfs - 1 : 0);
  return blank > in_value ? blank - in_value : 0;
}

std::string node_debug_text(const YamlNode& node) {
  static constexpr std::string_view kStyles[] = {"Plain", "SingleQuoted", "DoubleQuoted", "Literal",
                                                 "Folded"};
  // Built by appends only: g++ 12 warns (-Wrestrict) on "..." + std::string.
  std::string out = "YamlNode { kind: ";
  const auto quoted = [&](std::string_view text) {
    out += '"';
    out += text;
    out += '"';
  };
  const auto number = [&](std::uint64_t n) { out += std::to_string(n); };
  out += node_kind_name(node.kind());
  switch (node.kind()) {
    case NodeKind::Scalar:
      out += '(';
      quoted(node.text());
      out += ", ";
      out += kStyles[static_cast<std::size_t>(node.scalar_style())];
      out += ')';
      break;
    case NodeKind::Alias:
      out += '(';
      quoted(node.text());
      out += ')';
      break;
    case NodeKind::Sequence:
      out += '(';
      number(node.item_count());
      out += " items)";
      break;
    case NodeKind::Mapping:
      out += '(';
      number(node.pair_count());
      out += " pairs)";
      break;
    case NodeKind::Null:
      break;
  }
  const auto position = [&](std::uint64_t offset, std::uint32_t line, std::uint32_t column) {
    number(offset);
    out += ':';
    number(line);
    out += ':';
    number(column);
  };
  out += ", span: ";
  position(node.span.offset, node.span.line, node.span.column);
  out += '+';
  number(node.span.file_id);
  out += ", end: ";
  position(node.end_offset, node.end_line, node.end_column);
  if (node.anchor()) {
    out += ", anchor: ";
    quoted(*node.anchor());
  }
  if (node.tag()) {
    out += ", tag: ";
    quoted(*node.tag());
  }
  if (node.source()) {
    out += ", source: ";
    out += node.source()->tag;
    out += ' ';
    out += node.source()->target;
  }
  out += ", style: ";
  out += collection_style_name(node.style);
  if (node.explicit_start) out += ", explicit_start";
  if (node.leading_bom) out += ", leading_bom";
  if (node.synthetic) out += ", synthetic";
  if (node.explicit_key) out += ", explicit_key";
  if (node.comments.modified) out += ", modified";
  out += " }";
  return out;
}

void push_children(const YamlNode& node, std::vector<const YamlNode*>& out) {
  for (const YamlNode& child : node.children()) out.push_back(&child);
}

void push_children(YamlNode& node, std::vector<YamlNode*>& out) {
  for (YamlNode& child : node.children()) out.push_back(&child);
}

const IncludedFileRest* find_file_rest(const IncludedFileRests& rests,
                                       std::uint32_t file_id) noexcept {
  const auto it = std::lower_bound(
      rests.begin(), rests.end(), file_id,
      [](const IncludedFileRest& rest, std::uint32_t id) { return rest.file_id < id; });
  return it != rests.end() && it->file_id == file_id ? &*it : nullptr;
}

}  // namespace ostrevane
