// Block mappings and block sequences with everything around their entries:
// blank lines, head, inline and foot comments, comments between an indicator
// and its value, properties, the "? " form of keys, compact items and the
// padding between an indicator and its value.
#include <string_view>
#include <utility>

#include "roundtrip/emit/detail/emit_parts.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::emit_detail {

namespace {

// Nothing but line breaks written since a keep-chomped block scalar ended.
bool right_after_keep_scalar(const Emitter& e) noexcept {
  if (e.keep_scalar_end > e.output.size()) return false;
  return e.output.view().substr(e.keep_scalar_end).find_first_not_of("\r\n") ==
         std::string_view::npos;
}

void emit_blank_lines(Emitter& e, const YamlNode& node) {
  if (node.comments.blank_before != 0 && e.output.size() != e.content_start &&
      !right_after_keep_scalar(e)) {
    e.output.append(node.comments.blank_before, '\n');
  }
}

// Comment lines that stood between the item's dash and its content.
bool has_head_below_dash(const YamlNode& node) {
  for (const HeadComment& head : heads(node)) {
    if (head.below_introducer) return true;
  }
  return false;
}

void emit_pad(Emitter& e, const YamlNode& node) {
  const std::uint32_t pad = node.comments.value_pad;
  append_spaces(e.output, pad == 0 ? 1 : pad);
}

// A compact collection ('- a: 1', '- - a') puts its first entry on the dash
// line, where there is no room for the entry's blank lines and head
// comments; an entry that has them (set by editing) opens the collection on
// the next line instead of losing them.
bool first_entry_fits_dash_line(const YamlNode& collection) {
  const YamlNode& first = collection.children().front();
  return first.comments.blank_before == 0 && !has_head(first);
}

// The item's dash stands alone on its line, its content starting on the
// next. The compact form has no place for the collection's own trailing
// comment either: the dash line holds the first entry, whose line ends with
// that entry's comment.
bool dash_stands_alone(const Emitter& e, const YamlNode& item) {
  if (!is_block_collection(e, item)) return false;
  if (item.has_anchor_or_tag() || !first_entry_fits_dash_line(item)) return true;
  if (has_inline(item) || has_head_below_dash(item)) return true;
  if (item.kind() == NodeKind::Sequence) return !item.comments.compact;
  return item.comments.inline_before_value;
}

// A block collection's trailing comment that has no line of its own
// (composing gives one only in odd layouts, together with lines attached
// below its introducer) is written after those lines, keeping their order.
bool inline_after_heads(const YamlNode& node) {
  return !node.comments.inline_before_value && has_inline(node) && has_head(node);
}

// Where a mapping value's kept block-scalar source may go back: its key is
// written where it stood, and the scalar starts on the key's line (a copy
// of a scalar from elsewhere does not).
RawPlace value_raw_place(const YamlNode& key, const YamlNode& value, std::size_t key_indent) {
  const bool in_place = !key.has_anchor_or_tag() && key.span.column == key_indent &&
                        value.span.line == key.end_line && value.span.offset > key.span.offset;
  return RawPlace{in_place, static_cast<long>(key_indent)};
}

// The same for a sequence item on its dash's line: the dash column the
// composer measured (value_pad) matches the sequence's and the one written.
RawPlace item_raw_place(const YamlNode& sequence, const YamlNode& item, std::size_t dash_indent) {
  const std::uint32_t pad = item.comments.value_pad;
  const bool in_place =
      pad != 0 && sequence.span.column == dash_indent && item.span.column == dash_indent + 1 + pad;
  return RawPlace{in_place, static_cast<long>(dash_indent)};
}

// A value whose comments stand between its introducer line and itself: the
// introducer's comment (when it has one), a line break, with `all_below`
// the blank lines and every head comment (else only the head comments below
// the introducer's comment: the others stand above the item's dash), the
// value on its own line at `indent`, its trailing comment.
void emit_value_below_introducer(Emitter& e, const YamlNode& node, std::size_t indent,
                                 bool all_below) {
  emit_properties_after(e, node);
  const bool before = node.comments.inline_before_value;
  if (before) emit_inline_comment(e, node);
  e.output.push_back('\n');
  if (all_below) emit_blank_lines(e, node);
  for (const HeadComment& head : heads(node)) {
    if (all_below || head.below_introducer) {
      emit_comment_line(e, head, indent);
    }
  }
  append_spaces(e.output, indent);
  emit_flow_node(e, node, indent);
  if (!before) emit_inline_comment(e, node);
  end_line(e);
}

// After a ":" or "-": a node made by a directive as the directive, an empty
// value as its properties alone, each through the end of the line. False
// when the node is neither. With comment lines between its introducer and
// itself (every head line of a value, `all_below`; those below an item's
// dash), a directive or the properties of an empty node go on a line of
// their own below them, at `indent`; an empty value with neither has no such
// line, and its lines follow its key's.
bool emit_directive_or_empty(Emitter& e, const YamlNode& node, std::size_t indent,
                             bool all_below) {
  const IncludeSource* source = source_of(e, node);
  if (source == nullptr && !is_empty_value(e, node)) return false;
  const bool before = node.comments.inline_before_value && has_inline(node);
  const bool own_line = (source != nullptr || node.has_anchor_or_tag()) &&
                        (before || (all_below ? has_head(node) : has_head_below_dash(node)));
  const auto lines_below = [&] {
    if (all_below) emit_blank_lines(e, node);
    for (const HeadComment& head : heads(node)) {
      if (all_below || head.below_introducer) emit_comment_line(e, head, indent);
    }
  };
  if (own_line) {
    if (before) emit_inline_comment(e, node);
    e.output.push_back('\n');
    lines_below();
    if (source != nullptr) {
      append_spaces(e.output, indent);
      emit_directive_node(e, *source);
    } else {
      append_spaces(e.output, indent - 1);  // the properties start with a space
      emit_properties_after(e, node);
    }
  } else if (source != nullptr) {
    e.output.push_back(' ');
    emit_directive_node(e, *source);
  } else {
    emit_properties_after(e, node);
  }
  if (!before) emit_inline_comment(e, node);  // 'key:  # about key'
  e.output.push_back('\n');
  if (!own_line && source == nullptr && all_below) lines_below();
  return true;
}

void emit_sequence_item_impl(Emitter& e, const YamlNode& sequence, const YamlNode& item,
                             std::size_t d, bool lead_below) {
  e.output.push_back('-');
  if (emit_directive_or_empty(e, item, d + 2, false)) return;
  if (is_block_collection(e, item)) {
    const bool mapping = item.kind() == NodeKind::Mapping;
    if (!lead_below && !dash_stands_alone(e, item)) {
      e.output.push_back(' ');
      if (mapping) {
        emit_block_mapping(e, item, d + 2, true);
      } else {
        emit_block_sequence(e, item, d + 2, true);
      }
    } else {
      const std::size_t inner = mapping && item.has_anchor_or_tag() ? d + e.step() : d + 2;
      // Lines below the dash come before the trailing comment too.
      const bool trailing_below =
          inline_after_heads(item) && (lead_below || has_head_below_dash(item));
      emit_properties_after(e, item);
      if (!trailing_below) emit_inline_comment(e, item);
      e.output.push_back('\n');
      if (lead_below) {
        emit_blank_lines(e, item);
        for (const HeadComment& head : heads(item)) {
          emit_comment_line(e, head, inner);
        }
      } else {
        emit_comments_below_introducer(e, item, inner);
      }
      if (trailing_below) emit_comment_line(e, *inline_text(item), inner);
      if (mapping) {
        emit_block_mapping(e, item, inner);
      } else {
        emit_block_sequence(e, item, inner);
      }
    }
    emit_foot_comments(e, item, d + 2);
    return;
  }
  if (item.comments.inline_before_value || lead_below || has_head_below_dash(item)) {
    emit_value_below_introducer(e, item, d + 2, lead_below);
    return;
  }
  emit_pad(e, item);
  emit_properties(e, item);
  emit_flow_node(e, item, d + 2, item_raw_place(sequence, item, d));
  emit_inline_comment(e, item);
  end_line(e);
}

void emit_mapping_value_impl(Emitter& e, const YamlNode& key, const YamlNode& value,
                             std::size_t i) {
  const bool before_foot = std::exchange(e.value_before_foot, false);
  const bool before_key = std::exchange(e.value_before_key, false);
  const std::size_t nested = i + e.step();
  if (emit_directive_or_empty(e, value, nested, true)) return;
  if (is_block_collection(e, value)) {
    const bool trailing_below = inline_after_heads(value);
    emit_properties_after(e, value);
    if (!trailing_below) emit_inline_comment(e, value);
    e.output.push_back('\n');
    std::size_t s = nested;
    if (value.kind() == NodeKind::Sequence) {
      // Lines after it (its own, or the mapping's) are read back as
      // written only when it stands past its key's column.
      if (before_foot || (before_key && !foot_lines(value).empty())) {
        s = nested;
      } else if (e.dump_layout) {
        s = e.indentless_sequences && !value.tag() ? i : nested;
      } else {
        s = value.span.column > i ? nested : i;
      }
    }
    // Blank lines between the key and the collection on its next line come
    // back there; dropped, a first entry's would move up to it one save
    // after the other.
    emit_blank_lines(e, value);
    for (const HeadComment& head : heads(value)) emit_comment_line(e, head, s);
    if (trailing_below) emit_comment_line(e, *inline_text(value), s);
    if (value.kind() == NodeKind::Sequence) {
      emit_block_sequence(e, value, s);
    } else {
      emit_block_mapping(e, value, s);
    }
    // The lines after a sequence at the root's key column that ends a
    // document another one follows go one column past it, where they are
    // read back as the sequence's rather than the next document's (and not
    // as those of a sequence nested in its last item, which starts further
    // in).
    const bool foot_past_key =
        s == 0 && value.kind() == NodeKind::Sequence && e.document_follows;
    emit_foot_comments(e, value, foot_past_key ? 1 : s);
    return;
  }
  // Head comments of a scalar, alias, null or flow value stand between its
  // key and the value on a later line: written there, not dropped.
  if (value.comments.inline_before_value || has_head(value)) {
    emit_value_below_introducer(e, value, nested, true);
    return;
  }
  emit_pad(e, value);
  emit_properties(e, value);
  emit_flow_node(e, value, nested, value_raw_place(key, value, i));
  emit_inline_comment(e, value);
  end_line(e);
}

// The key of a simple pair is written on one line of its own: an explicit
// key, a block scalar or collection, a later synthetic key with properties
// and every key written over several lines take the "? " form.
bool needs_complex_key(const Emitter& e, const YamlNode& key, std::size_t index) {
  if (source_of(e, key) != nullptr) return false;
  if (key.explicit_key && (key.kind() == NodeKind::Scalar || key.kind() == NodeKind::Alias)) {
    return true;
  }
  if (index != 0 && key.synthetic && key.has_anchor_or_tag()) return true;
  return spans_lines(e, key, false);
}

}  // namespace

bool is_empty_value(const Emitter& e, const YamlNode& node) noexcept {
  // A comment after a composed empty value stays on its line; one standing
  // on the introducer line before a value below it opens that line instead,
  // and a value written from Python data shows its null before a comment.
  if (has_inline(node) && (node.comments.inline_before_value || node.synthetic)) return false;
  if (node.kind() == NodeKind::Scalar) {
    return node.scalar_style() == ScalarStyle::Plain && node.text().empty();
  }
  return node.kind() == NodeKind::Null && (!node.synthetic || e.null_style == NullStyle::Default);
}

bool spans_lines(const Emitter& e, const YamlNode& node, bool in_flow) {
  if (source_of(e, node) != nullptr) return false;
  switch (node.kind()) {
    case NodeKind::Scalar: {
      const ScalarStyle style = node.scalar_style();
      return !in_flow && (style == ScalarStyle::Literal || style == ScalarStyle::Folded);
    }
    case NodeKind::Sequence:
    case NodeKind::Mapping:
      break;
    default:
      return false;
  }
  if (!in_flow && is_block_collection(e, node)) return true;
  for (const YamlNode& child : node.children()) {
    if (has_head(child) || has_inline(child) || !foot_lines(child).empty()) return true;
  }
  for (const YamlNode& child : node.children()) {
    if (with_stack_guard([&] { return spans_lines(e, child, true); })) return true;
  }
  return false;
}

void emit_comment_line(Emitter& e, std::string_view text, std::size_t indent) {
  append_spaces(e.output, indent);
  e.output.push_back('#');
  if (!text.empty()) {
    e.output.push_back(' ');
    e.output.append(text);
  }
  e.output.push_back('\n');
}

void emit_comment_line(Emitter& e, const HeadComment& head, std::size_t indent) {
  emit_comment_line(e, std::string_view(head.text), indent);
  if (head.blank_after != 0) e.output.append(head.blank_after, '\n');
}

void emit_inline_comment(Emitter& e, const YamlNode& node, bool after_comma) {
  emit_inline_comment(e, node, node.comments, after_comma);
}

void emit_inline_comment(Emitter& e, const YamlNode& node, const Comments& comments,
                         bool after_comma) {
  const std::string* text = inline_text(comments);
  if (text == nullptr || e.last_inline == &node) return;
  // The gap was measured from the node's end; a "," written since takes
  // one of its columns.
  const std::uint32_t spaces = comments.inline_spaces - (after_comma ? 1 : 0);
  append_spaces(e.output, spaces == 0 || spaces > comments.inline_spaces ? 1 : spaces);
  e.output.push_back('#');
  if (!text->empty()) {
    e.output.push_back(' ');
    e.output.append(*text);
  }
  e.last_inline = &node;
}

void emit_comments_below_introducer(Emitter& e, const YamlNode& node, std::size_t indent) {
  for (const HeadComment& head : heads(node)) {
    if (head.below_introducer) emit_comment_line(e, head, indent);
  }
}

void emit_foot_comments(Emitter& e, const Comments& comments, std::size_t indent) {
  for (const std::string& line : foot_lines(comments)) emit_comment_line(e, line, indent);
}

void emit_properties(Emitter& e, const YamlNode& node) {
  // A node written as its directive carries the directive's tag alone.
  if (!node.has_anchor_or_tag() || source_of(e, node) != nullptr) return;
  if (const auto& tag = node.tag()) {
    e.output.append(*tag);
    e.output.push_back(' ');
  }
  if (const auto& anchor = node.anchor()) {
    e.output.push_back('&');
    e.output.append(*anchor);
    e.output.push_back(' ');
  }
}

void emit_properties_after(Emitter& e, const YamlNode& node) {
  if (!node.has_anchor_or_tag() || source_of(e, node) != nullptr) return;
  if (const auto& tag = node.tag()) {
    e.output.push_back(' ');
    e.output.append(*tag);
  }
  if (const auto& anchor = node.anchor()) {
    e.output.append(" &");
    e.output.append(*anchor);
  }
}

void emit_block_mapping(Emitter& e, const YamlNode& mapping, std::size_t indent, bool compact) {
  const std::size_t pairs = mapping.pair_count();
  for (std::size_t p = 0; p < pairs; ++p) {
    const YamlNode& key = mapping.key(p);
    const YamlNode& value = mapping.value(p);
    if (p != 0 || !compact) {
      emit_blank_lines(e, key);
      for (const HeadComment& head : heads(key)) emit_comment_line(e, head, indent);
      append_spaces(e.output, indent);
    }
    // A root's lines before another document are read back as that
    // document's whatever stands above them: they move no sequence in.
    e.value_before_foot = p + 1 == pairs && !foot_lines(mapping).empty() &&
                          &mapping != e.root_before_document;
    e.value_before_key = p + 1 < pairs;
    if (needs_complex_key(e, key, p)) {
      emit_complex_key(e, key, value, indent);
      continue;
    }
    const std::size_t key_start = e.output.size();
    emit_simple_key(e, key, indent);
    if (!fits_implicit_key(e.output.size() - key_start)) {
      // Too long for a simple key: written again in the "? " form.
      e.output.truncate(key_start);
      emit_complex_key(e, key, value, indent);
      continue;
    }
    e.output.push_back(':');
    emit_mapping_value(e, key, value, indent);
  }
}

void emit_block_sequence(Emitter& e, const YamlNode& sequence, std::size_t indent, bool compact) {
  const auto items = sequence.items();
  for (std::size_t k = 0; k < items.size(); ++k) {
    const YamlNode& item = items[k];
    // Above the first dash, composing would give the first item's blank
    // lines and comment lines to the sequence itself: where they stood
    // between the dash and the item (or where the item is opened on the next
    // line anyway) they are written after the dash line.
    const bool lead_below =
        k == 0 && !compact && !item.comments.inline_before_value && source_of(e, item) == nullptr &&
        !is_empty_value(e, item) &&
        (dash_stands_alone(e, item) || item.comments.blank_before != 0 || has_head(item));
    if (k != 0 || !compact) {
      if (!lead_below) {
        emit_blank_lines(e, item);
        // An empty item without properties has no line below its dash to
        // stand on: all its lines go above the dash.
        const bool all_above = source_of(e, item) == nullptr && is_empty_value(e, item) &&
                               !item.has_anchor_or_tag();
        for (const HeadComment& head : heads(item)) {
          if (all_above || !head.below_introducer) emit_comment_line(e, head, indent);
        }
      }
      append_spaces(e.output, indent);
    }
    emit_sequence_item(e, sequence, item, indent, lead_below);
  }
}

void emit_sequence_item(Emitter& e, const YamlNode& sequence, const YamlNode& item,
                        std::size_t dash_indent, bool lead_below) {
  with_stack_guard([&] { emit_sequence_item_impl(e, sequence, item, dash_indent, lead_below); });
}

void emit_mapping_value(Emitter& e, const YamlNode& key, const YamlNode& value,
                        std::size_t key_indent) {
  with_stack_guard([&] { emit_mapping_value_impl(e, key, value, key_indent); });
}

void emit_complex_key(Emitter& e, const YamlNode& key, const YamlNode& value, std::size_t i) {
  const std::size_t nested = i + e.step();
  // What follows the value, kept for it past the collections of the key.
  const bool before_foot = std::exchange(e.value_before_foot, false);
  const bool before_key = std::exchange(e.value_before_key, false);
  e.output.push_back('?');
  if (is_block_collection(e, key)) {
    emit_properties_after(e, key);
    e.output.push_back('\n');
    if (key.kind() == NodeKind::Sequence) {
      emit_block_sequence(e, key, nested);
    } else {
      emit_block_mapping(e, key, nested);
    }
  } else {
    e.output.push_back(' ');
    emit_properties(e, key);
    const bool saved = e.in_key;
    const bool saved_colon = e.colon_follows_key;
    e.in_key = true;
    e.colon_follows_key = false;
    const RawPlace place{!key.has_anchor_or_tag() && key.span.column == i + 2,
                         static_cast<long>(i)};
    emit_flow_node(e, key, nested, place);
    e.in_key = saved;
    e.colon_follows_key = saved_colon;
    // A key's inline comment can only be a block scalar's header comment: a
    // block key writes it on its header line, a key written quoted instead
    // keeps it on its "?" line.
    emit_inline_comment(e, key);
    end_line(e);
  }
  append_spaces(e.output, i);
  e.output.push_back(':');
  e.value_before_foot = before_foot;
  e.value_before_key = before_key;
  emit_mapping_value(e, key, value, i);
}

}  // namespace ostrevane::emit_detail
