// YamlNode: the round-trip form of one YAML document.
//
// Input: built by the composer (text to trees, src/roundtrip/composer), by
// conversion from Python values, by the represent road of dumps and by
// directive expansion. Output: read and edited by the passes, the round-trip
// emitter, the conversions to Python, the document classes and schema
// validation.
//
// A tree keeps, beside the content, what writing it back the way it was
// written needs: scalar and collection styles, anchors, tags as written,
// unresolved aliases, comments with their spacing, blank lines, source
// positions, document markers and directives, and the configuration
// directive a node came from.
//
// Layout. Positions, kind, styles, counters and flags live inline; a node
// holds one text (a scalar's value or an alias's name) and one child vector.
// A mapping's keys and values are interleaved in that vector (k0, v0, k1,
// v1, ...) behind pair_count(), key(i) and value(i), so destruction, clone,
// push_children and every walk share one path. What most nodes lack sits
// behind one pointer each, allocated only when present: the comment texts
// (head, inline, foot, raw) in Comments, and anchor, tag, include source and
// directives in NodeExtras.
//
// Ownership. A node owns everything it holds, children included; trees are
// never shared, and a subtree is passed on by moving it or by clone().
// Texts are owned copies, never views into the source text.
//
// Depth. ~YamlNode never recurses: it moves child vectors onto a work list,
// so dropping a tree of any depth is safe. clone() runs each level through
// with_stack_guard. Every other walk over node trees must do the same or keep
// an explicit stack: edits may stack trees deeper than the composer's
// nesting limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scanner/token.hpp"

namespace ostrevane {

enum class NodeKind : std::uint8_t {
  Scalar = 0,    // text(), scalar_style()
  Sequence = 1,  // items()
  Mapping = 2,   // pair_count(), key(i), value(i)
  Alias = 3,     // text(): the anchor name without '*'
  Null = 4,      // no content: an empty value or item, a missing key, a bare anchor or tag
};

enum class CollectionStyle : std::uint8_t {
  Block = 0,
  Flow = 1,
};

// "Scalar", "Sequence", ... and "Block", "Flow": the debug names.
std::string_view node_kind_name(NodeKind kind) noexcept;
std::string_view collection_style_name(CollectionStyle style) noexcept;

// One whole-line comment above a node: the text after '#' and one optional
// space, trailing white space removed. `below_introducer`: the node already
// had an inline comment on its introducer line (its key's ':' or its '-')
// when this line was attached, so the line is written after that line.
// `above_marker`: a root's line that stood above its document's first
// directive or "---", where it is written back (a schema reference there is
// looked for in the leading lines).
struct HeadComment {
  std::string text;
  bool below_introducer = false;
  bool above_marker = false;
  // Blank lines between this line and the next head line, or the node.
  std::uint32_t blank_after = 0;

  friend bool operator==(const HeadComment&, const HeadComment&) = default;
};

// The texts of Comments, allocated only for nodes that have one.
struct CommentTexts {
  std::vector<HeadComment> head;  // whole-line comments above the node
  // The comment on the node's line (after its end), or, with
  // inline_before_value, on its introducer's line.
  std::optional<std::string> inline_comment;
  std::vector<std::string> foot;  // comment lines after the node's content
  // Literal and folded scalars: the source text from the block indicator to
  // the end, reused by the emitter while the node is not modified.
  std::optional<std::string> raw;

  friend bool operator==(const CommentTexts&, const CommentTexts&) = default;
};

// The comment lines of one node apart from its content's layout: what a
// directive's own line and the root of the file it includes each keep.
struct CommentLines {
  std::vector<HeadComment> head;
  std::optional<std::string> inline_comment;
  std::vector<std::string> foot;
  std::uint32_t blank_before = 0;
  std::uint32_t inline_spaces = 0;
  bool inline_before_value = false;

  friend bool operator==(const CommentLines&, const CommentLines&) = default;
};

// The comments of one node and the layout facts the emitter needs.
class Comments {
 public:
  // Blank lines between the previous content and the node's first head
  // comment (or the node itself when it has none).
  std::uint32_t blank_before = 0;
  // Columns before the inline comment's '#'.
  std::uint32_t inline_spaces = 0;
  // Extra columns between a node and its introducer on one line: for an item
  // on its dash's line, item column - dash column - 1; for a value on its
  // plain key's line, value column - key end column - 1.
  std::uint32_t value_pad = 0;
  // The inline comment stands on the introducer line, before the value.
  bool inline_before_value = false;
  // A block sequence that is an item of a block sequence and starts on its
  // own dash's line (the two dashes share a line).
  bool compact = false;
  // Changed since composing: the node may no longer be written from source.
  bool modified = false;

  Comments() = default;
  Comments(Comments&&) noexcept = default;
  Comments& operator=(Comments&&) noexcept = default;
  Comments(const Comments&) = delete;
  Comments& operator=(const Comments&) = delete;

  // A copy of every field, texts included.
  [[nodiscard]] Comments clone() const;

  // The texts, or nullptr when the node has none.
  [[nodiscard]] const CommentTexts* texts() const noexcept { return texts_.get(); }
  // The texts for editing, allocated on first use.
  CommentTexts& edit_texts();

  // Read accessors; empty when there are no texts.
  [[nodiscard]] const std::vector<HeadComment>& head() const noexcept;
  [[nodiscard]] const std::optional<std::string>& inline_comment() const noexcept;
  [[nodiscard]] const std::vector<std::string>& foot() const noexcept;
  [[nodiscard]] const std::optional<std::string>& raw() const noexcept;
  // Whether a head line stood above its document's first directive or "---"
  // (only a root's can).
  [[nodiscard]] bool has_head_above_marker() const noexcept;

  // Edit accessors; each allocates the texts on first use.
  std::vector<HeadComment>& edit_head() { return edit_texts().head; }
  std::optional<std::string>& edit_inline_comment() { return edit_texts().inline_comment; }
  std::vector<std::string>& edit_foot() { return edit_texts().foot; }
  std::optional<std::string>& edit_raw() { return edit_texts().raw; }

  // Moves the comment lines out (leaving none) or puts them in place of
  // the present ones; the kept source text and the layout flags stay.
  CommentLines take_lines();
  void put_lines(CommentLines lines);

  friend bool operator==(const Comments& a, const Comments& b);

 private:
  std::unique_ptr<CommentTexts> texts_;
};

// The configuration directive that produced a node.
struct IncludeSource {
  std::string tag;                              // "!include", "!secret", ...
  std::string target;                           // the directive's argument as written
  std::optional<std::uint32_t> target_file_id;  // "!include" only
  // The sources this one replaced: an included file whose root was itself a
  // directive keeps the inner directive's source here (innermost last), so
  // writing the files back can still tell what that file held.
  std::vector<IncludeSource> replaced;
  // "!include": the comment lines of the included file's root, written when
  // that file is written back. The node carries the directive line's own.
  std::optional<CommentLines> root_comments;
  // The directive's own part changed since loading: its comments, or an
  // edit put the directive node where it stands (a detached copy). That
  // belongs to the file holding the directive, which must be written; the
  // file the directive names is not touched by it. `Comments::modified` of
  // the node stays the mark of a change in the content itself.
  bool directive_modified = false;
  // "!include": the included file holds documents after the one read, which
  // would read lines written after its content as their own.
  bool followed_by_documents = false;
  // The anchor written on the directive node (without '&'), and the file
  // that holds the directive (set for every directive, anchored or not, and
  // kept current by edits that move the node into another file). The
  // produced node keeps its own anchor (an included root's, in the included
  // file); this one names the node for the aliases of the directive's own
  // file, and is written back with it.
  std::optional<std::string> anchor;
  std::uint32_t directive_file_id = 0;

  friend bool operator==(const IncludeSource&, const IncludeSource&) = default;
};

// A tag text shared by every node of a document that wrote the same tag
// (its expansion under the document's %TAG directives). Copies share it;
// the count is atomic, since a tree may be dropped without the interpreter
// lock while another copies nodes of the same document. Compared by text.
class SharedTagText {
 public:
  SharedTagText() noexcept = default;
  [[nodiscard]] static SharedTagText copy_of(std::string_view text) {
    SharedTagText out;
    out.text_ = std::make_shared<const std::string>(text);
    return out;
  }
  explicit operator bool() const noexcept { return text_ != nullptr; }
  [[nodiscard]] const std::string& text() const noexcept { return *text_; }

  friend bool operator==(const SharedTagText& a, const SharedTagText& b) noexcept {
    return a.text_ == b.text_ || (a.text_ && b.text_ && *a.text_ == *b.text_);
  }

 private:
  std::shared_ptr<const std::string> text_;
};

// What most nodes lack, allocated only when one of them is present.
struct NodeExtras {
  std::optional<std::string> anchor;  // without '&'
  std::optional<std::string> tag;     // exactly as the Tag token carries it
  // `tag` as its document's %TAG directives read it ("!e!x" under
  // "%TAG !e! tag:e.com,2000:" reads "tag:e.com,2000:x"; "!!x" reads
  // "tag:yaml.org,2002:x"), when that differs from the written text; set by
  // the composer, kept by copies, dropped whenever the tag is set anew.
  SharedTagText expanded_tag;
  std::optional<IncludeSource> source;
  // Document roots only: the directives before the document, each the rest
  // of its line after '%', in source order.
  std::vector<std::string> directives;
  // Document roots only: the empty documents that loading left out around
  // this root, so that writing puts their "---" back where it stood. One
  // entry per document, in source order: the number of the root's head
  // lines that stood above that document's marker, or, with
  // kSkippedAfterRoot set (the last root only, for documents after it), the
  // number of its foot lines.
  std::vector<std::uint32_t> skipped_documents;
  static constexpr std::uint32_t kSkippedAfterRoot = 0x80000000u;
  // The first root of a stream only: the first of `directives` is the
  // stream's %YAML directive, which stood on the first of the empty
  // documents left out before this root. It is written back there, above
  // that document's marker: the reader looks for it at the head of the
  // stream only.
  bool version_above_skipped = false;

  friend bool operator==(const NodeExtras&, const NodeExtras&) = default;
};

class YamlNode;
using NodeList = std::vector<YamlNode>;

class YamlNode {
 public:
  // Where the node starts: for a composed node, its first content token
  // (after any anchor or tag).
  Span span;
  std::uint64_t end_offset = 0;  // just past the node's last character
  std::uint32_t end_line = 0;    // line of end_offset, from 0
  std::uint32_t end_column = 0;  // column of end_offset in characters, from 0
  Comments comments;
  // Sequence and Mapping only; every other node the composer makes is Block.
  CollectionStyle style = CollectionStyle::Block;
  // Document roots: opened by "---", or carried directives.
  bool explicit_start = false;
  // The first root of a stream whose text began with EF BB BF.
  bool leading_bom = false;
  // Built from a value (not composed) and written in the value's own form.
  bool synthetic = false;
  // A mapping key written in the explicit "? " form.
  bool explicit_key = false;

 private:
  // Beside the flags above, so the kind bytes fill their padding.
  NodeKind kind_ = NodeKind::Null;
  ScalarStyle scalar_style_ = ScalarStyle::Plain;

 public:
  // A Null node with all-zero positions. User-provided on purpose: then
  // `YamlNode()` runs the member initialisers alone, where a defaulted
  // constructor would have the whole node cleared first, which g++ does
  // with a slow `rep stos` on every node made.
  YamlNode() noexcept {}
  ~YamlNode();
  YamlNode(YamlNode&&) noexcept = default;
  YamlNode& operator=(YamlNode&& other) noexcept;
  YamlNode(const YamlNode&) = delete;
  YamlNode& operator=(const YamlNode&) = delete;

  // Content makers; positions, comments and flags start empty.
  [[nodiscard]] static YamlNode null() noexcept { return YamlNode(); }
  [[nodiscard]] static YamlNode scalar(std::string text, ScalarStyle style = ScalarStyle::Plain);
  [[nodiscard]] static YamlNode alias(std::string name);
  [[nodiscard]] static YamlNode sequence(NodeList items,
                                         CollectionStyle style = CollectionStyle::Block);
  // `keys_and_values` holds k0, v0, k1, v1, ...: its size must be even.
  [[nodiscard]] static YamlNode mapping(NodeList keys_and_values,
                                        CollectionStyle style = CollectionStyle::Block);

  [[nodiscard]] NodeKind kind() const noexcept { return kind_; }
  [[nodiscard]] bool is_collection() const noexcept {
    return kind_ == NodeKind::Sequence || kind_ == NodeKind::Mapping;
  }
  // Scalar: its style; Plain for every other kind.
  [[nodiscard]] ScalarStyle scalar_style() const noexcept { return scalar_style_; }
  void set_scalar_style(ScalarStyle style) noexcept { scalar_style_ = style; }
  // Scalar: its value (quotes removed, escapes and folding applied); Alias:
  // the anchor name; empty otherwise.
  [[nodiscard]] std::string_view text() const noexcept { return text_; }
  std::string& edit_text() noexcept { return text_; }

  // Every child: a sequence's items, a mapping's keys and values
  // interleaved. Empty for scalars, aliases and nulls.
  [[nodiscard]] std::span<const YamlNode> children() const noexcept { return children_; }
  [[nodiscard]] std::span<YamlNode> children() noexcept { return children_; }
  // The child vector itself, for building and editing (a mapping's must stay
  // even-sized).
  NodeList& edit_children() noexcept { return children_; }

  // Sequence items.
  [[nodiscard]] std::span<const YamlNode> items() const noexcept { return children_; }
  [[nodiscard]] std::span<YamlNode> items() noexcept { return children_; }
  [[nodiscard]] std::size_t item_count() const noexcept { return children_.size(); }
  void append_item(YamlNode item) { children_.push_back(std::move(item)); }

  // Mapping pairs, in source order; duplicate keys are kept as their own pairs.
  [[nodiscard]] std::size_t pair_count() const noexcept { return children_.size() / 2; }
  [[nodiscard]] const YamlNode& key(std::size_t i) const noexcept { return children_[2 * i]; }
  [[nodiscard]] YamlNode& key(std::size_t i) noexcept { return children_[2 * i]; }
  [[nodiscard]] const YamlNode& value(std::size_t i) const noexcept { return children_[2 * i + 1]; }
  [[nodiscard]] YamlNode& value(std::size_t i) noexcept { return children_[2 * i + 1]; }
  void append_pair(YamlNode key, YamlNode value);

  // Anchor, tag, include source and directives; see NodeExtras. nullptr when
  // the node has none of them.
  [[nodiscard]] const NodeExtras* extras() const noexcept { return extras_.get(); }
  NodeExtras& edit_extras();
  [[nodiscard]] const std::optional<std::string>& anchor() const noexcept;
  [[nodiscard]] const std::optional<std::string>& tag() const noexcept;
  [[nodiscard]] const std::optional<IncludeSource>& source() const noexcept;
  [[nodiscard]] const std::vector<std::string>& directives() const noexcept;
  [[nodiscard]] std::span<const std::uint32_t> skipped_documents() const noexcept {
    return extras_ ? std::span<const std::uint32_t>(extras_->skipped_documents)
                   : std::span<const std::uint32_t>();
  }
  // How many of skipped_documents() stand before this root (the rest follow
  // the last root of the stream).
  [[nodiscard]] std::size_t skipped_before_count() const noexcept {
    const std::span<const std::uint32_t> skipped = skipped_documents();
    std::size_t count = 0;
    while (count < skipped.size() && (skipped[count] & NodeExtras::kSkippedAfterRoot) == 0) ++count;
    return count;
  }
  [[nodiscard]] bool has_anchor_or_tag() const noexcept {
    return extras_ && (extras_->anchor || extras_->tag);
  }
  // The tag as it reads, the one that resolves the node's value and that
  // tag callbacks see: its %TAG expansion when it has one, else the tag as
  // written (tag()). nullptr when the node has no tag.
  [[nodiscard]] const std::string* read_tag() const noexcept {
    if (!extras_ || !extras_->tag) return nullptr;
    return extras_->expanded_tag ? &extras_->expanded_tag.text() : &*extras_->tag;
  }
  // Whether read_tag() is a %TAG expansion, a text other nodes may share.
  [[nodiscard]] bool tag_is_expanded() const noexcept {
    return extras_ && extras_->tag && extras_->expanded_tag;
  }
  void set_anchor(std::optional<std::string> anchor);
  // A tag as written, read as written (no %TAG directive applies to it).
  void set_tag(std::optional<std::string> tag);
  // A tag as written and how its document read it (empty: as written).
  void set_tag(std::string tag, SharedTagText expanded);
  // The tag of `other`, as written and as read.
  void copy_tag_from(const YamlNode& other);
  void set_source(std::optional<IncludeSource> source);

  // Turns the node into another kind in place: text and children are
  // replaced, everything else (positions, comments, extras, flags) stays.
  void set_scalar(std::string text, ScalarStyle style);
  void set_alias(std::string name);
  void set_sequence(NodeList items);
  void set_mapping(NodeList keys_and_values);
  void set_null() noexcept;

  // A new, independent deep copy: every field, positions and flags as they
  // are. Each level runs through with_stack_guard.
  [[nodiscard]] YamlNode clone() const;

 private:
  // Positions, style, flags and kind: every field but the owned parts.
  void copy_layout_from(const YamlNode& other) noexcept;

  std::string text_;
  NodeList children_;
  std::unique_ptr<NodeExtras> extras_;
};

// Appends pointers to the node's direct children: a sequence's items in
// order, a mapping's key then value of each pair; nothing for other kinds.
// Serves non-recursive walks.
void push_children(const YamlNode& node, std::vector<const YamlNode*>& out);
void push_children(YamlNode& node, std::vector<YamlNode*>& out);

// One node's debug text for internal-fault messages, its children only
// counted: YamlNode { kind: Scalar("a", Plain), span: 0:0:0+0, end: 1:0:1,
// anchor: "x", tag: "!t", style: Block, explicit_key, ... }. The fields shown
// after `style` are the flags that are set.
// Blank lines that close a block scalar's kept source without belonging to
// its value (clip and strip chomping leave them out), written after it
// again: 0 for any other node.
std::size_t blank_lines_closing_block_scalar(const YamlNode& node) noexcept;

std::string node_debug_text(const YamlNode& node);

// The documents of an included file after the one its !include reads,
// kept so that rewriting the file writes them back as they stood.
struct IncludedFileRest {
  std::uint32_t file_id = 0;
  // The file's documents after the first, as composed (never expanded, so
  // their directives stay directives).
  NodeList later_documents;
};

// Ordered by file id; only files that hold such a rest have an entry.
using IncludedFileRests = std::vector<IncludedFileRest>;

// The entry of `file_id`, or nullptr.
[[nodiscard]] const IncludedFileRest* find_file_rest(const IncludedFileRests& rests,
                                                     std::uint32_t file_id) noexcept;

// Destroys a tree of any depth without recursion. ~YamlNode already does
// this; the name states the intent where a whole, possibly deep tree ends.
inline void drop_node_iterative(YamlNode&& node) noexcept { YamlNode dropped(std::move(node)); }

}  // namespace ostrevane
