#include "roundtrip/document/document_text.hpp"

#include "emit_util/line_breaks.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"

namespace ostrevane {
namespace {

// Whether a document ends in an empty node with an anchor or tag (through
// the last children of block collections). Composing places such a node at
// the token after it, so comment lines written right after it would be read
// back as its own.
bool ends_in_bare_properties(const YamlNode& root) noexcept {
  const YamlNode* node = &root;
  while (node->is_collection() && node->style == CollectionStyle::Block &&
         !node->children().empty()) {
    node = &node->children().back();
  }
  return node->kind() == NodeKind::Null && node->has_anchor_or_tag();
}

}  // namespace

void write_roots(std::span<const YamlNode> roots, RootWriter& writer) {
  if (roots.empty()) return;
  write_roots(roots.front(), roots.subspan(1), writer);
}

void write_roots(const YamlNode& first, std::span<const YamlNode> rest, RootWriter& writer) {
  OutputBuffer& out = writer.output();
  if (first.leading_bom) out.append("\xEF\xBB\xBF");
  writer.write(first, !rest.empty());
  const YamlNode* previous = &first;
  for (const YamlNode& root : rest) {
    // An empty document left out before this one brings its own "---".
    const std::span<const std::uint32_t> skipped = root.skipped_documents();
    const bool skipped_before = root.skipped_before_count() != 0;
    if (!root.directives().empty()) {
      out.append("...\n");
    } else if (!root.explicit_start && !skipped_before) {
      out.append("---\n");
    } else if ((root.comments.has_head_above_marker() ||
                (skipped_before && skipped.front() != 0)) &&
               ends_in_bare_properties(*previous)) {
      // The lines above this "---" stay this document's.
      out.append("...\n");
    }
    writer.write(root, &root != &rest.back());
    previous = &root;
  }
  writer.finish();
}

void RootWriter::finish() {
  OutputBuffer& out = output();
  const std::optional<std::size_t> kept_end = final_newline();
  if (kept_end && out.size() == *kept_end + 1 && out.back() == '\n') out.truncate(*kept_end);
}

DocumentText document_to_text(const DocumentData& data) {
  DocumentText text;
  bool modified = false;
  if (data.source_text) {
    for (const YamlNode& root : data.roots) {
      if (tree_is_modified(root)) {
        modified = true;
        break;
      }
    }
  }
  if (data.source_text && !modified) {
    text.verbatim_ = *data.source_text;
  } else {
    // A changed document is about as long as its source was.
    const std::size_t reserve = data.source_text ? data.source_text->size() + 64 : 256;
    text.emitted_ = emit_roots(data.roots, data.null_style, reserve);
  }
  // Written anew, every line ends as the text's first line did: a CR LF
  // file stays all CR LF.
  const std::string_view line_break =
      data.source_text ? first_line_break(*data.source_text) : data.line_break;
  if (!data.upgraded) {
    if (!text.verbatim_) use_line_break(text.emitted_, line_break);
    return text;
  }
  // A document loaded with OPT_UPGRADE_1_1 declares YAML 1.2, verbatim or
  // emitted.
  OutputBuffer upgraded;
  write_upgraded_text(text.view(), upgraded);
  text.verbatim_.reset();
  text.emitted_ = std::move(upgraded);
  use_line_break(text.emitted_, line_break);
  return text;
}

}  // namespace ostrevane
