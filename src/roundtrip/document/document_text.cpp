#include "roundtrip/document/document_text.hpp"

#include "roundtrip/anchors.hpp"

namespace ostrevane {

void write_roots(OutputBuffer& out, std::span<const YamlNode> roots, RootWriter& writer) {
  if (roots.empty()) return;
  if (roots.front().leading_bom) out.append("\xEF\xBB\xBF");
  writer.write(out, roots.front());
  for (const YamlNode& root : roots.subspan(1)) {
    if (!root.directives().empty()) {
      out.append("...\n");
    } else if (!root.explicit_start) {
      out.append("---\n");
    }
    writer.write(out, root);
  }
  const std::optional<std::size_t> kept_end = writer.final_newline();
  if (kept_end && out.size() == *kept_end + 1 && out.back() == '\n') out.pop_back();
}

DocumentText document_to_text(const DocumentData& data) {
  DocumentText text;
  if (data.source_text) {
    bool modified = false;
    for (const YamlNode& root : data.roots) {
      if (tree_is_modified(root)) {
        modified = true;
        break;
      }
    }
    if (!modified) {
      text.verbatim_ = *data.source_text;
      return text;
    }
  }
  emit_roots(text.emitted_, data.roots, data.null_style);
  return text;
}

}  // namespace ostrevane
