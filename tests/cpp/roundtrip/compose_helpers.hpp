// Test-only: compose a text through the composer alone (no comments), by
// both roads (a document at a time, and over one complete token list), and
// describe the result in one line.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "roundtrip/composer/composer.hpp"
#include "roundtrip/dump_node.hpp"
#include "scanner/scanner.hpp"

namespace ostrevane::testing {

inline std::string describe(const ScanError& e) {
  return "error: " + e.message + " @" + std::to_string(e.span.line + 1) + ":" +
         std::to_string(e.span.column + 1);
}

// Roots through a DocumentScanner; the same over scan_all_tokens must agree.
inline Result<NodeList, ScanError> compose_plain(std::string_view text, bool keep_empty,
                                                 Composer* keep = nullptr) {
  DocumentScanner scanner(text);
  Composer local(text);
  Composer& composer = keep ? *keep : local;
  auto roots = composer.compose_stream(scanner, keep_empty);

  Composer whole(text);
  auto listed = scan_all_tokens(text);
  Result<NodeList, ScanError> again =
      listed ? whole.compose_stream(*listed, keep_empty) : std::unexpected(listed.error());
  const std::string a = roots ? dump_nodes(*roots, true, true) : describe(roots.error());
  const std::string b = again ? dump_nodes(*again, true, true) : describe(again.error());
  EXPECT_EQ(a, b) << "the two roads differ on: " << text;
  if (roots && again) {
    EXPECT_EQ(composer.document_starts(), whole.document_starts()) << text;
  }
  return roots;
}

inline std::string compose_dump(std::string_view text, bool keep_empty = false) {
  auto roots = compose_plain(text, keep_empty);
  return roots ? dump_nodes(*roots) : describe(roots.error());
}

}  // namespace ostrevane::testing
