// Compose entry points: one text to commented YamlNode roots.
//
// Input: one whole UTF-8 text (valid UTF-8, as the scanner requires),
// borrowed for the call. Output: the document roots in stream order, owned
// by the caller, with comments attached (comments.hpp) and `leading_bom` set
// on the first root when the text began with EF BB BF; or the first
// ScanError, from the scanner or the composer (a scan error anywhere wins).
// No partial result survives a failure. Each call runs the scanner with
// comment collection, the composer and comment attachment, and keeps
// nothing afterwards.
//
// Positions: byte offsets count a leading byte-order mark; lines and columns
// count from 0 (columns in characters), the first line's columns starting
// after the mark. Every Span (nodes and errors) carries the file id: 0, or
// the one given to compose_file_documents.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/node.hpp"
#include "scanner/token.hpp"
#include "util/result.hpp"

namespace ostrevane {

// Empty documents ("---" with no content) are left out; file id 0.
// Callers: loads on the round-trip and annotated roads without directives.
[[nodiscard]] Result<NodeList, ScanError> compose_documents(std::string_view text);

// Every document, an empty one as a Null root with explicit_start; file id 0.
// Caller: loads_all on its annotated road.
[[nodiscard]] Result<NodeList, ScanError> compose_all_documents(std::string_view text);

// As compose_all_documents, without comments: the scanner collects none and
// nothing is attached, so every node's Comments are empty. Caller: the
// schema check of the plain road, which reads kinds, texts, tags and spans.
[[nodiscard]] Result<NodeList, ScanError> compose_bare_documents(std::string_view text);

// As compose_documents, every Span carrying `file_id`. Callers: directive
// expansion (the loaded text as file 0, each included file under its id)
// and secrets files.
[[nodiscard]] Result<NodeList, ScanError> compose_file_documents(std::string_view text,
                                                                 std::uint32_t file_id);

// One document of a stream with its own stretch of the text.
struct ComposedDocument {
  YamlNode root;
  // From the document's start (0 for the first: leading comments, the
  // byte-order mark and directives belong to it; else its first directive,
  // its "---", or its first token) up to the next document's start or the
  // end of the text.
  std::string text;
};

// The round-trip road of loads_all: every document as compose_all_documents
// composes it, each with its own text.
[[nodiscard]] Result<std::vector<ComposedDocument>, ScanError> compose_document_texts(
    std::string_view text);

// The common road under the entry points above: `keep_empty` keeps empty
// documents as Null roots; `document_starts`, when given, receives one
// start offset per root (0 for the first).
[[nodiscard]] Result<NodeList, ScanError> compose_text(
    std::string_view text, std::uint32_t file_id, bool keep_empty,
    std::vector<std::uint64_t>* document_starts = nullptr);

}  // namespace ostrevane
