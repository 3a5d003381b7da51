// Test-only: compose a text, mark every node modified, write it back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "compose_helpers.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane::testing {

inline void mark_modified(YamlNode& root) {
  std::vector<YamlNode*> work{&root};
  while (!work.empty()) {
    YamlNode* node = work.back();
    work.pop_back();
    node->comments.modified = true;
    push_children(*node, work);
  }
}

// The roots of a text, as the round-trip roads compose them.
inline Result<NodeList, ScanError> compose_roots(std::string_view text) {
  return compose_documents(text);
}

// Every root written into one text, as a document's text is: "---" before a
// later root without its own marker, "..." before one with directives.
inline std::string emit_roots(const NodeList& roots) {
  Emitter e(EmitterSettings::round_trip(NullStyle::Default));
  if (!roots.empty() && roots.front().leading_bom) e.output.append("\xEF\xBB\xBF");
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (i != 0) {
      if (!roots[i].directives().empty()) {
        e.output.append("...\n");
      } else if (!roots[i].explicit_start) {
        e.output.append("---\n");
      }
    }
    emit_document(e, roots[i]);
  }
  apply_final_newline(e);
  return std::string(e.output.view());
}

// Compose, mark everything modified, emit.
inline std::string reemit(std::string_view text) {
  auto roots = compose_roots(text);
  if (!roots) return describe(roots.error());
  for (YamlNode& root : *roots) mark_modified(root);
  return emit_roots(*roots);
}

// Compose, emit as composed (block scalars from their kept source).
inline std::string reemit_unmodified(std::string_view text) {
  auto roots = compose_roots(text);
  if (!roots) return describe(roots.error());
  return emit_roots(*roots);
}

}  // namespace ostrevane::testing
