// Documents: directives, markers, the root and its comments; the entry points
// that return text.
#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "emit_util/plain_safety.hpp"
#include "roundtrip/emit/detail/emit_parts.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane {

using namespace emit_detail;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The tag, a space when an anchor follows, the anchor, a line feed; nothing
// when the node has neither.
void emit_collection_properties(Emitter& e, const YamlNode& node) {
  if (!node.has_anchor_or_tag()) return;
  const auto& tag = node.tag();
  const auto& anchor = node.anchor();
  if (tag) e.output.append(*tag);
  if (anchor) {
    if (tag) e.output.push_back(' ');
    e.output.push_back('&');
    e.output.append(*anchor);
  }
  e.output.push_back('\n');
}

}  // namespace

Emitter::Emitter(const EmitterSettings& settings, std::size_t reserve)
    : output(reserve),
      indent(settings.indent),
      width(settings.width),
      dump_layout(settings.dump_layout),
      indentless_sequences(settings.indentless_sequences),
      prefer_single_quotes(settings.prefer_single_quotes),
      null_style(settings.null_style) {}

void emit_directive_node(Emitter& e, const IncludeSource& source) {
  if (source.anchor) {
    e.output.push_back('&');
    e.output.append(*source.anchor);
    e.output.push_back(' ');
  }
  e.output.append(source.tag);
  e.output.push_back(' ');
  const std::string_view target = source.target;
  // The target is read back as the text of a tagged scalar: a text that a
  // plain scalar would not carry unchanged (surrounding blanks, ": ", a
  // leading indicator, a flow indicator inside brackets) would change the
  // directive or the structure around it.
  const bool flow_breaker =
      e.flow_depth > 0 && target.find_first_of(",[]{}") != std::string_view::npos;
  if (target.empty() || (!flow_breaker && !plain_needs_quotes(target, ResolverMode::Yaml12))) {
    e.output.append(target);
    return;
  }
  const bool saved_key = e.in_key;
  e.in_key = true;  // a directive stays on its line
  emit_quoted_pref_single(e, target);
  e.in_key = saved_key;
}

void emit_document(Emitter& e, const YamlNode& root, bool document_follows) {
  // Empty documents that loading left out before this root come back as
  // their "---" lines among the root's head lines; this document then needs
  // its own marker to end the last of them.
  const std::span<const std::uint32_t> skipped = root.skipped_documents();
  const std::size_t skipped_before = root.skipped_before_count();
  e.document_follows = document_follows || skipped_before != skipped.size();
  e.root_before_document = document_follows ? &root : nullptr;
  // Directives are only read before a "---".
  const bool marker = root.explicit_start || !root.directives().empty() || skipped_before != 0;
  // Written without its source, the root is its included file's root, with
  // the comment lines that file held (the node's own are the directive's).
  Comments file_comments;
  const Comments* own = &root.comments;
  if (&root == e.unsourced && root.source() && root.source()->root_comments) {
    file_comments.put_lines(*root.source()->root_comments);
    own = &file_comments;
  }
  // Lines that stood above the directives and "---" go back there (a schema
  // reference is looked for in the leading lines); the others stay below.
  const std::span<const HeadComment> head = heads(*own);
  std::size_t lead = 0;  // the head lines written above the marker
  if (marker) {
    while (lead < head.size() && head[lead].above_marker) ++lead;
  }
  if (skipped_before != 0) {
    lead = std::min<std::size_t>(std::max<std::size_t>(lead, skipped[skipped_before - 1]),
                                 head.size());
  }
  // The stream's %YAML directive stood on the first of those documents, at
  // the head of the stream, where it is read.
  std::span<const std::string> directives = root.directives();
  const std::string* version = nullptr;
  if (skipped_before != 0 && !directives.empty() && root.extras()->version_above_skipped) {
    version = &directives.front();
    directives = directives.subspan(1);
  }
  const auto write_directive = [&e](const std::string& directive) {
    e.output.push_back('%');
    e.output.append(directive);
    e.output.push_back('\n');
  };
  const auto write_skipped = [&](std::size_t index) {
    if (index == 0 && version != nullptr) write_directive(*version);
    e.output.append("---\n");
  };
  std::size_t next_skipped = 0;
  for (std::size_t i = 0; i < lead; ++i) {
    for (; next_skipped < skipped_before && skipped[next_skipped] <= i; ++next_skipped) {
      write_skipped(next_skipped);
    }
    emit_comment_line(e, head[i], 0);
  }
  for (; next_skipped < skipped_before; ++next_skipped) write_skipped(next_skipped);
  if (skipped_before != 0 && !directives.empty()) e.output.append("...\n");
  for (const std::string& directive : directives) write_directive(directive);
  if (marker) e.output.append("---\n");
  e.content_start = e.output.size();
  for (const HeadComment& line : head.subspan(lead)) emit_comment_line(e, line, 0);
  // A block collection at the root has no line of its own for an inline
  // comment (composing gives it one when a trailing comment stands before
  // the node its line ends with): it goes on a line above, after the head
  // comments, where it is read back in the same order. Written without its
  // source, the root's inline comment is the directive line's.
  if (is_block_collection(e, root) && inline_text(*own) != nullptr &&
      (&root != e.unsourced || own != &root.comments)) {
    emit_comment_line(e, *inline_text(*own), 0);
  }

  if (const IncludeSource* source = source_of(e, root)) {
    emit_directive_node(e, *source);
    emit_inline_comment(e, root);
    e.output.push_back('\n');
  } else if (is_block_collection(e, root) && root.kind() == NodeKind::Mapping) {
    emit_collection_properties(e, root);
    // Blank lines above the first entry would be read back as the root's.
    e.content_start = e.output.size();
    const bool shifted = root.synthetic && root.tag().has_value();
    emit_block_mapping(e, root, shifted ? e.step() : 0);
  } else if (is_block_collection(e, root)) {
    emit_collection_properties(e, root);
    e.content_start = e.output.size();
    const bool shifted = root.synthetic && root.tag().has_value() && !e.indentless_sequences;
    emit_block_sequence(e, root, shifted ? e.step() : 0);
  } else if (root.kind() == NodeKind::Null && root.synthetic && root.tag() && !root.anchor() &&
             inline_text(*own) == nullptr && e.null_style == NullStyle::Default) {
    emit_collection_properties(e, root);
  } else {
    emit_properties(e, root);
    emit_flow_node(e, root, e.step(), RawPlace{true, -1});
    emit_inline_comment(e, root, *own, false);
    end_line(e);
  }
  if (skipped_before == skipped.size()) {
    emit_foot_comments(e, *own, 0);
    return;
  }
  // Empty documents left out after the last root: their "---" lines among
  // its foot lines.
  const std::span<const std::string> foot = foot_lines(*own);
  std::size_t next_after = skipped_before;
  for (std::size_t i = 0; i < foot.size(); ++i) {
    for (;
         next_after < skipped.size() && (skipped[next_after] & ~NodeExtras::kSkippedAfterRoot) <= i;
         ++next_after) {
      e.output.append("---\n");
    }
    emit_comment_line(e, foot[i], 0);
  }
  for (; next_after < skipped.size(); ++next_after) e.output.append("---\n");
}

void apply_final_newline(Emitter& e) noexcept {
  if (!e.final_newline) return;
  const std::size_t p = *e.final_newline;
  if (e.output.size() == p + 1 && e.output.back() == '\n') {
    e.output.truncate(p);
    return;
  }
  if (!e.open_keep || e.output.size() <= p || e.output[p] != '\n') return;
  if (const std::optional<std::size_t> blank = e.open_keep->blank_line) {
    e.output.erase(*blank, p + 1 - *blank);
  } else {
    e.output.set(e.open_keep->indicator, '-');
  }
}

OutputBuffer emit_document_to_string(const YamlNode& root, NullStyle null_style,
                                     std::size_t reserve) {
  Emitter e(EmitterSettings::round_trip(null_style), reserve);
  if (root.leading_bom) e.output.append(kByteOrderMark);
  emit_document(e, root);
  apply_final_newline(e);
  return std::move(e.output);
}

OutputBuffer emit_without_source(const YamlNode& node) {
  // Equivalent to writing a copy whose source was removed, without copying.
  Emitter e(EmitterSettings::round_trip(NullStyle::Keyword));
  e.unsourced = &node;
  if (node.leading_bom) e.output.append(kByteOrderMark);
  emit_document(e, node);
  apply_final_newline(e);
  return std::move(e.output);
}

}  // namespace ostrevane
