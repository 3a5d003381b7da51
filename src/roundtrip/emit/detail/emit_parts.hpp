// The emitter's parts, shared by its three files: document.cpp (documents and
// directives), block.cpp (block collections, comments, properties) and
// flow.cpp (flow collections and scalars). Every operation appends to the
// Emitter's output and cannot fail; indentations are counts of spaces.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "roundtrip/emit/emitter.hpp"

namespace ostrevane::emit_detail {

// Where a literal or folded scalar's kept source may go back unchanged: its
// introducer (key, dash or "?") is written at the column it had in the
// source, so an indentation indicator keeps its meaning. `parent_indent` is
// the indentation the scalar's content must exceed (-1 at the root).
struct RawPlace {
  bool introducer_in_place = false;
  long parent_indent = -1;
};

inline constexpr RawPlace kNoRaw{};

// The accessors below read a node's side records through the inline
// pointers: most nodes have neither comments nor properties, and every node
// is asked several times.

// The node's source, unless it is the one emit_without_source ignores.
inline const IncludeSource* source_of(const Emitter& e, const YamlNode& node) noexcept {
  const NodeExtras* extras = node.extras();
  if (extras == nullptr || !extras->source || &node == e.unsourced) return nullptr;
  return &*extras->source;
}

// A non-empty Block collection that is not written as a directive.
inline bool is_block_collection(const Emitter& e, const YamlNode& node) noexcept {
  return node.is_collection() && node.style == CollectionStyle::Block && !node.children().empty() &&
         source_of(e, node) == nullptr;
}

inline std::span<const HeadComment> heads(const Comments& comments) noexcept {
  const CommentTexts* texts = comments.texts();
  return texts ? std::span<const HeadComment>(texts->head) : std::span<const HeadComment>();
}
inline std::span<const HeadComment> heads(const YamlNode& node) noexcept {
  return heads(node.comments);
}

inline std::span<const std::string> foot_lines(const Comments& comments) noexcept {
  const CommentTexts* texts = comments.texts();
  return texts ? std::span<const std::string>(texts->foot) : std::span<const std::string>();
}
inline std::span<const std::string> foot_lines(const YamlNode& node) noexcept {
  return foot_lines(node.comments);
}

// The inline comment, or nullptr.
inline const std::string* inline_text(const Comments& comments) noexcept {
  const CommentTexts* texts = comments.texts();
  return texts && texts->inline_comment ? &*texts->inline_comment : nullptr;
}
inline const std::string* inline_text(const YamlNode& node) noexcept {
  return inline_text(node.comments);
}

// The kept block-scalar source, or nullptr.
inline const std::string* raw_text(const YamlNode& node) noexcept {
  const CommentTexts* texts = node.comments.texts();
  return texts && texts->raw ? &*texts->raw : nullptr;
}

inline bool has_inline(const YamlNode& node) noexcept { return inline_text(node) != nullptr; }

inline bool has_head(const YamlNode& node) noexcept { return !heads(node).empty(); }

// Written as nothing after its ":" or "-" (only its properties follow).
bool is_empty_value(const Emitter& e, const YamlNode& node) noexcept;

// The written form of a key spans more than one line.
bool spans_lines(const Emitter& e, const YamlNode& key, bool in_flow);

// block.cpp
void emit_block_mapping(Emitter& e, const YamlNode& mapping, std::size_t indent,
                        bool compact = false);
void emit_block_sequence(Emitter& e, const YamlNode& sequence, std::size_t indent,
                         bool compact = false);
// `lead_below`: the first item, whose dash stands alone: its blank lines
// and head comments go after the dash line.
void emit_sequence_item(Emitter& e, const YamlNode& sequence, const YamlNode& item,
                        std::size_t dash_indent, bool lead_below = false);
void emit_mapping_value(Emitter& e, const YamlNode& key, const YamlNode& value,
                        std::size_t key_indent);
void emit_complex_key(Emitter& e, const YamlNode& key, const YamlNode& value, std::size_t indent);
void emit_comment_line(Emitter& e, std::string_view text, std::size_t indent);
// A head line, then the blank lines that stood below it.
void emit_comment_line(Emitter& e, const HeadComment& head, std::size_t indent);
void emit_inline_comment(Emitter& e, const YamlNode& node, bool after_comma = false);
// The same with the comments given (the node stands for them in last_inline).
void emit_inline_comment(Emitter& e, const YamlNode& node, const Comments& comments,
                         bool after_comma);
void emit_comments_below_introducer(Emitter& e, const YamlNode& node, std::size_t indent);
void emit_foot_comments(Emitter& e, const Comments& comments, std::size_t indent);
inline void emit_foot_comments(Emitter& e, const YamlNode& node, std::size_t indent) {
  emit_foot_comments(e, node.comments, indent);
}
void emit_properties(Emitter& e, const YamlNode& node);
void emit_properties_after(Emitter& e, const YamlNode& node);

// flow.cpp
void emit_flow_node(Emitter& e, const YamlNode& node, std::size_t indent,
                    RawPlace raw_place = kNoRaw);
// A key in the simple form: its properties, the key with in_key set, and
// a space after an alias; no ":".
void emit_simple_key(Emitter& e, const YamlNode& key, std::size_t indent);
void emit_flow_separator(Emitter& e, std::size_t indent);
void emit_quoted(Emitter& e, std::string_view text, bool single);
void emit_quoted_pref_single(Emitter& e, std::string_view text);

inline void end_line(Emitter& e) {
  if (e.output.empty() || e.output.back() != '\n') e.output.push_back('\n');
}

}  // namespace ostrevane::emit_detail
