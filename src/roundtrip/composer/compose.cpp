#include "roundtrip/composer/compose.hpp"

#include <utility>

#include "roundtrip/composer/composer.hpp"
#include "scanner/scanner.hpp"

namespace ostrevane {

Result<NodeList, ScanError> compose_text(std::string_view text, std::uint32_t file_id,
                                         bool keep_empty,
                                         std::vector<std::uint64_t>* document_starts) {
  DocumentScanner scanner(text, ScanOptions{file_id, true});
  Composer composer(text);
  NodeList roots = OSV_TRY(composer.compose_commented_stream(scanner, keep_empty));
  if (!roots.empty() && scanner.tokens().leading_bom) roots.front().leading_bom = true;
  if (document_starts != nullptr) *document_starts = std::move(composer.edit_document_starts());
  return roots;
}

Result<NodeList, ScanError> compose_documents(std::string_view text) {
  return compose_text(text, 0, false);
}

Result<NodeList, ScanError> compose_all_documents(std::string_view text) {
  return compose_text(text, 0, true);
}

Result<NodeList, ScanError> compose_bare_documents(std::string_view text) {
  DocumentScanner scanner(text, ScanOptions{0, false});
  Composer composer(text);
  return composer.compose_stream(scanner, true);
}

Result<NodeList, ScanError> compose_file_documents(std::string_view text, std::uint32_t file_id) {
  return compose_text(text, file_id, false);
}

Result<std::vector<ComposedDocument>, ScanError> compose_document_texts(std::string_view text) {
  std::vector<std::uint64_t> starts;
  NodeList roots = OSV_TRY(compose_text(text, 0, true, &starts));
  starts.push_back(text.size());
  std::vector<ComposedDocument> documents;
  documents.reserve(roots.size());
  for (std::size_t i = 0; i < roots.size(); ++i) {
    const std::uint64_t from = std::min<std::uint64_t>(starts[i], text.size());
    const std::uint64_t to = std::max(from, std::min<std::uint64_t>(starts[i + 1], text.size()));
    documents.push_back(
        ComposedDocument{std::move(roots[i]), std::string(text.substr(from, to - from))});
  }
  return documents;
}

}  // namespace ostrevane
