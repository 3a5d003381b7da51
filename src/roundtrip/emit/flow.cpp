// Every node that is not a block collection: scalars in their five styles,
// aliases, nulls, and collections in flow form, one line or one entry per
// line; quoting, folding and wrapping at the width.
#include <string_view>

#include "emit_util/plain_safety.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/emit/detail/emit_parts.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::emit_detail {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Short texts: one pass, where find_first_of would search its set per byte.
bool has_line_break(std::string_view text) noexcept {
  for (const char c : text) {
    if (c == '\n' || c == '\r') return true;
  }
  return false;
}

// A plain text that would be cut short where it is written: a first
// character that opens something else, a value indicator (":" before a
// blank, or at the end but for a block key) or a comment (" #")
// anywhere, a flow indicator inside a flow collection. Composed plain texts
// hold none of them; this keeps whatever else built a tree from writing a
// text that reads back as something else.
bool breaks_plain(std::string_view text, bool in_flow, bool block_key) noexcept {
  if (text.empty()) return false;
  // A first character that opens something else: an indicator, or "?",
  // ":" and "-" before a blank (or a flow indicator in a flow collection).
  constexpr std::string_view kIndicators = ",[]{}#&*!|>'\"%@`";
  if (kIndicators.find(text[0]) != std::string_view::npos) return true;
  if (text[0] == '?' || text[0] == ':' || text[0] == '-') {
    if (text.size() == 1 || text[1] == ' ' || text[1] == '\t') return true;
    if (in_flow && std::string_view(",[]{}").find(text[1]) != std::string_view::npos) return true;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case ',':
      case '[':
      case ']':
      case '{':
      case '}':
        if (in_flow) return true;
        break;
      case ':':
        // A block key's own ":" follows its last character ("b::" is the
        // key "b:").
        if (i + 1 == text.size() ? !block_key : text[i + 1] == ' ' || text[i + 1] == '\t') {
          return true;
        }
        break;
      case '#':
        if (i != 0 && (text[i - 1] == ' ' || text[i - 1] == '\t')) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

bool entry_has_comments(const YamlNode& node) noexcept {
  return has_head(node) || has_inline(node) || !foot_lines(node).empty();
}

// Kept block-scalar source reads back the same where it is written again:
// its introducer is where it was, and without an indentation indicator its
// first content line stays deeper than the new parent (a copy of a scalar
// from a deeper place would otherwise lose its content).
bool raw_fits(std::string_view raw, RawPlace place) noexcept {
  if (!place.introducer_in_place) return false;
  if (place.parent_indent < 0) return true;
  const std::size_t header_end = raw.find('\n');
  const std::string_view header = raw.substr(0, header_end);
  for (std::size_t k = 1; k < header.size() && k < 3; ++k) {
    if (header[k] >= '1' && header[k] <= '9') return true;
  }
  for (std::size_t lf = header_end; lf != std::string_view::npos && lf + 1 < raw.size();) {
    const std::size_t start = lf + 1;
    lf = raw.find('\n', start);
    const std::string_view line = raw.substr(start, lf == std::string_view::npos ? lf : lf - start);
    const std::size_t spaces = line.find_first_not_of(' ');
    if (spaces != std::string_view::npos && line[spaces] != '\r') {
      return static_cast<long>(spaces) > place.parent_indent;
    }
  }
  return true;
}

// Kept block-scalar source whose header asks for keep chomping ("|+",
// ">2+"): the indicators follow the style character.
bool keeps_final_lines(std::string_view raw) noexcept {
  for (std::size_t k = 1; k < raw.size() && k < 3; ++k) {
    if (raw[k] == '+') return true;
  }
  return false;
}

// How kept keep-chomped source `raw` that ends without a line break, written
// at `start`, is mended when more follows it: a last line that gave the
// value nothing (the value ends in a line feed) is dropped, else the chomping
// indicator turns to strip.
Emitter::OpenKeep open_keep_at(std::string_view raw, std::size_t start,
                               std::string_view value) noexcept {
  Emitter::OpenKeep keep;
  for (std::size_t k = 1; k < raw.size() && k < 3; ++k) {
    if (raw[k] == '+') keep.indicator = start + k;
  }
  const std::size_t last_break = raw.find_last_of("\r\n");
  if (value.ends_with('\n') && last_break != std::string_view::npos) {
    keep.blank_line = start + last_break + 1;
  }
  return keep;
}

// Written in its block style again without an indentation indicator, the
// text reads back unchanged; a folded one must also be a single line, since
// folding would turn an interior line feed into a space.
bool keeps_block_style(std::string_view text, bool folded) noexcept {
  if (folded) {
    const std::size_t last = text.find_last_not_of('\n');
    if (last != std::string_view::npos &&
        text.substr(0, last).find('\n') != std::string_view::npos) {
      return false;
    }
  }
  return reads_back_from_block(text);
}

void emit_block_scalar(Emitter& e, const YamlNode& node, std::size_t n) {
  const std::string_view text = node.text();
  bool folded = node.scalar_style() == ScalarStyle::Folded;
  if (e.flow_depth > 0) {
    write_double_quoted(e.output, text);
    return;
  }
  // A block scalar without a content line takes its indentation from the
  // next line holding something, which at the root may be a comment at
  // column 0: such a text is quoted.
  if (text.find_first_not_of('\n') == std::string_view::npos) {
    emit_quoted(e, text, false);
    return;
  }
  if (!keeps_block_style(text, folded)) {
    if (!suits_literal_block(text)) {
      emit_quoted(e, text, false);
      return;
    }
    folded = false;
  }
  write_block_header(e.output, text, folded ? '>' : '|');
  emit_inline_comment(e, node);  // stands on the header line
  write_literal_body(e.output, text, n);
  e.output.append(blank_lines_closing_block_scalar(node), '\n');
  if (block_header_keeps(text)) e.keep_scalar_end = e.output.size();
}

// At the start of a line, "---" or "..." followed by a blank or the line's
// end is a document marker, and a "%" may open a directive, not a plain text.
bool reads_as_marker(const Emitter& e, std::string_view text) noexcept {
  // A byte order mark that opens a document does not move the line's start.
  std::string_view before = e.output.view();
  if (before.ends_with(kByteOrderMark)) before.remove_suffix(kByteOrderMark.size());
  if (!(before.empty() || before.back() == '\n')) return false;
  if (text.starts_with('%')) return true;
  if (text.size() < 3 || !(text.starts_with("---") || text.starts_with("..."))) return false;
  // A block key's ":" follows at once ("---:" is no marker).
  if (text.size() == 3) return !e.in_key || e.flow_depth > 0;
  return text[3] == ' ' || text[3] == '\t';
}

void emit_plain(Emitter& e, std::string_view text) {
  bool quote = text.starts_with(kByteOrderMark) || has_line_break(text) || reads_as_marker(e, text);
  if (!quote) {
    quote =
        breaks_plain(text, e.flow_depth > 0, e.in_key && e.colon_follows_key && e.flow_depth == 0);
  }
  if (!quote && e.width != 0 && !e.in_key && current_column(e.output) + text.size() > e.width &&
      find_fold_space(text).found) {
    quote = true;
  }
  if (quote) {
    emit_quoted_pref_single(e, text);
  } else {
    e.output.append(text);
  }
}

void emit_scalar(Emitter& e, const YamlNode& node, std::size_t n, RawPlace place) {
  const std::string* raw = raw_text(node);
  if (raw != nullptr && !node.comments.modified && e.flow_depth == 0 && raw_fits(*raw, place)) {
    const std::string_view kept = *raw;
    const std::size_t start = e.output.size();
    e.output.append(kept);
    const bool keeps = keeps_final_lines(kept);
    if (keeps) e.keep_scalar_end = e.output.size();
    if (kept.empty() || (kept.back() != '\n' && kept.back() != '\r')) {
      e.final_newline = e.output.size();
      e.open_keep.reset();
      if (keeps) e.open_keep = open_keep_at(kept, start, node.text());
    }
    // A comment on the header line is part of the kept text.
    if (has_inline(node) && kept.substr(0, kept.find('\n')).find('#') != std::string_view::npos) {
      e.last_inline = &node;
    }
    return;
  }
  const std::string_view text = node.text();
  switch (node.scalar_style()) {
    case ScalarStyle::Plain:
      emit_plain(e, text);
      return;
    case ScalarStyle::SingleQuoted:
      // Single quotes fold a line break into a space: a text that holds
      // one is only kept by double quotes.
      emit_quoted(e, text, !has_line_break(text));
      return;
    case ScalarStyle::DoubleQuoted:
      emit_quoted(e, text, false);
      return;
    case ScalarStyle::Literal:
    case ScalarStyle::Folded:
      emit_block_scalar(e, node, n);
      return;
  }
}

void emit_null(Emitter& e, const YamlNode& node) {
  if (!node.synthetic && node.tag()) {
    // A composed tagged empty node reads as the empty text under its tag;
    // "null" would read as the four letters.
    e.output.append("''");
  } else if (node.synthetic && e.null_style == NullStyle::Tilde) {
    e.output.push_back('~');
  } else {
    e.output.append("null");
  }
}

void emit_flow_key(Emitter& e, const YamlNode& key, std::size_t n) {
  // An implicit key must stay on one line, and within the length readers
  // take.
  if (spans_lines(e, key, true)) {
    e.output.append("? ");
    emit_simple_key(e, key, n);
    return;
  }
  const std::size_t key_start = e.output.size();
  emit_simple_key(e, key, n);
  if (fits_implicit_key(e.output.size() - key_start)) return;
  e.output.truncate(key_start);
  e.output.append("? ");
  emit_simple_key(e, key, n);
}

// The end of an entry in the one-entry-per-line form: the node at m, ","
// unless it is the last entry, its inline comment, the line feed.
void finish_flow_line(Emitter& e, const YamlNode& node, std::size_t m, bool last) {
  emit_properties(e, node);
  emit_flow_node(e, node, m);
  if (!last) e.output.push_back(',');
  emit_inline_comment(e, node, !last);
  e.output.push_back('\n');
}

void emit_flow_sequence(Emitter& e, const YamlNode& node, std::size_t n) {
  const auto items = node.items();
  if (items.empty()) {
    e.output.append("[]");
    return;
  }
  bool per_line = false;
  for (const YamlNode& item : items) per_line = per_line || entry_has_comments(item);
  ++e.flow_depth;
  if (!per_line) {
    e.output.push_back('[');
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (k != 0) emit_flow_separator(e, n);
      emit_properties(e, items[k]);
      emit_flow_node(e, items[k], n);
    }
    e.output.push_back(']');
  } else {
    const std::size_t m = n + e.step();
    e.output.append("[\n");
    for (std::size_t k = 0; k < items.size(); ++k) {
      const YamlNode& item = items[k];
      for (const HeadComment& head : heads(item)) emit_comment_line(e, head, m);
      append_spaces(e.output, m);
      finish_flow_line(e, item, m, k + 1 == items.size());
    }
    append_spaces(e.output, n);
    e.output.push_back(']');
  }
  --e.flow_depth;
}

void emit_flow_mapping(Emitter& e, const YamlNode& node, std::size_t n) {
  const std::size_t pairs = node.pair_count();
  if (pairs == 0) {
    e.output.append("{}");
    return;
  }
  bool per_line = false;
  for (const YamlNode& child : node.children()) per_line = per_line || entry_has_comments(child);
  ++e.flow_depth;
  if (!per_line) {
    e.output.push_back('{');
    for (std::size_t p = 0; p < pairs; ++p) {
      if (p != 0) emit_flow_separator(e, n);
      emit_flow_key(e, node.key(p), n);
      e.output.append(": ");
      emit_properties(e, node.value(p));
      emit_flow_node(e, node.value(p), n);
    }
    e.output.push_back('}');
  } else {
    const std::size_t m = n + e.step();
    e.output.append("{\n");
    for (std::size_t p = 0; p < pairs; ++p) {
      const YamlNode& key = node.key(p);
      const YamlNode& value = node.value(p);
      // A key of several lines holds comments of its own: the value's lines
      // go below its ":", where they read back after the key's.
      const bool heads_below_key = has_head(value) && spans_lines(e, key, true);
      for (const HeadComment& head : heads(key)) emit_comment_line(e, head, m);
      if (!heads_below_key) {
        for (const HeadComment& head : heads(value)) emit_comment_line(e, head, m);
      }
      append_spaces(e.output, m);
      emit_flow_key(e, key, m);
      if (heads_below_key) {
        e.output.append(":\n");
        for (const HeadComment& head : heads(value)) emit_comment_line(e, head, m + e.step());
        append_spaces(e.output, m + e.step());
      } else {
        e.output.append(": ");
      }
      finish_flow_line(e, value, m, p + 1 == pairs);
    }
    append_spaces(e.output, n);
    e.output.push_back('}');
  }
  --e.flow_depth;
}

// A flow collection kept as it stood (it holds comments): written so while
// nothing in it changed and its introducer stands where it stood, so that
// its continuation lines keep their meaning.
bool emit_kept_flow(Emitter& e, const YamlNode& node, RawPlace place) {
  const std::string* raw = raw_text(node);
  if (raw == nullptr || e.flow_depth != 0 || !place.introducer_in_place || tree_is_modified(node)) {
    return false;
  }
  e.output.append(*raw);
  return true;
}

void emit_flow_node_impl(Emitter& e, const YamlNode& node, std::size_t n, RawPlace place) {
  // A directive node stays a directive wherever it stands: expanded, a
  // secret or an included file would land in this text.
  if (const IncludeSource* source = source_of(e, node)) {
    emit_directive_node(e, *source);
    return;
  }
  switch (node.kind()) {
    case NodeKind::Scalar:
      emit_scalar(e, node, n, place);
      return;
    case NodeKind::Alias:
      e.output.push_back('*');
      e.output.append(node.text());
      return;
    case NodeKind::Null:
      emit_null(e, node);
      return;
    case NodeKind::Sequence:
      if (!emit_kept_flow(e, node, place)) emit_flow_sequence(e, node, n);
      return;
    case NodeKind::Mapping:
      if (!emit_kept_flow(e, node, place)) emit_flow_mapping(e, node, n);
      return;
  }
}

}  // namespace

void emit_flow_node(Emitter& e, const YamlNode& node, std::size_t indent, RawPlace raw_place) {
  with_stack_guard([&] { emit_flow_node_impl(e, node, indent, raw_place); });
}

void emit_simple_key(Emitter& e, const YamlNode& key, std::size_t indent) {
  emit_properties(e, key);
  const bool saved = e.in_key;
  const bool saved_colon = e.colon_follows_key;
  e.in_key = true;
  e.colon_follows_key = true;
  emit_flow_node(e, key, indent);
  e.in_key = saved;
  e.colon_follows_key = saved_colon;
  // The ":" must not be read as part of an alias's name ('*a :').
  if (key.kind() == NodeKind::Alias) e.output.push_back(' ');
}

void emit_flow_separator(Emitter& e, std::size_t indent) {
  e.output.push_back(',');
  if (e.width != 0 && !e.in_key && current_column(e.output) >= e.width) {
    e.output.push_back('\n');
    append_spaces(e.output, indent == 0 ? 1 : indent);
  } else {
    e.output.push_back(' ');
  }
}

void emit_quoted(Emitter& e, std::string_view text, bool single) {
  // Folding a single-quoted text next to a tab would let the tab be taken
  // as white space around the fold and dropped.
  if (e.width == 0 || e.in_key || (single && text.find('\t') != std::string_view::npos)) {
    if (single) {
      write_single_quoted(e.output, text);
    } else {
      write_double_quoted(e.output, text);
    }
    return;
  }
  write_folded_quoted(e.output, text, single, current_column(e.output), e.width);
}

void emit_quoted_pref_single(Emitter& e, std::string_view text) {
  const bool single = e.prefer_single_quotes && text.find('\'') == std::string_view::npos &&
                      is_single_line_printable(text);
  emit_quoted(e, text, single);
}

}  // namespace ostrevane::emit_detail
