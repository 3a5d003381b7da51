// Test-only: compose a text, mark every node modified, write it back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "compose_helpers.hpp"
#include "emit_check.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane::testing {

// The roots of a text, as the round-trip roads compose them.
inline Result<NodeList, ScanError> compose_roots(std::string_view text) {
  return compose_documents(text);
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
