// Scanner: YAML text to tokens.
//
// Input: one whole text as UTF-8 bytes, already known to be valid UTF-8 (the
// input layer decodes and validates it). A leading byte-order mark is skipped
// but counted in byte offsets. C0 controls other than TAB, LF and CR, DEL,
// C1 controls other than NEL, U+FFFE and U+FFFF are refused before any token.
//
// Output, in one of two forms over the same scanner:
// - scan_all_tokens (token.hpp) returns the complete TokenList, StreamStart
//   first and StreamEnd last, with the comments when asked for, or the first
//   ScanError and nothing else.
// - DocumentScanner hands the tokens out a document at a time, so that a
//   consumer can reuse one small token buffer for a whole stream.
// Nothing is recovered after an error.
//
// Invariants:
// - The scanner never recurses: block indentation and flow brackets live on
//   explicit stacks, and nesting stops at limits::kMaxDepth: flow brackets
//   past it are a scan error, block collections past it end the scan (see
//   DocumentScanner::depth_exceeded), so a deep text costs no more than the
//   first thousand levels of it.
// - Token texts are views, either into the input (one-line plain scalars,
//   quoted scalars without escapes, doubled quotes or line breaks, and the
//   names of anchors, aliases, tags and directives) or into the list's own
//   storage, which never moves. The input must outlive the list.
// - ScannedComment texts are owned strings.
// - Texts longer than limits::kMaxScanInput bytes are refused, never
//   truncated: lines, columns and text lengths are 32-bit.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "scanner/token.hpp"
#include "util/result.hpp"

namespace ostrevane {

namespace scanner_detail {
class Scanner;
}

// The incremental form. Each scan_next_document call appends to tokens() up
// to and including the next boundary token: DocumentStart, DocumentEnd,
// Directive or StreamEnd. The boundary is always the last token appended, so
// the tokens of a document's content, and the boundary that ends it, arrive
// together in one call: the call after a DocumentStart, or the first call
// for an implicit first document. Between calls no implicit key is pending,
// so the caller may drop what it has consumed with discard_tokens().
class DocumentScanner {
 public:
  explicit DocumentScanner(std::string_view text, const ScanOptions& options = {});
  ~DocumentScanner();
  DocumentScanner(const DocumentScanner&) = delete;
  DocumentScanner& operator=(const DocumentScanner&) = delete;

  // Scans on to the next boundary, or returns the first error (after which
  // the scanner is finished). The first call checks the whole text's size
  // and characters before any token.
  [[nodiscard]] Result<void, ScanError> scan_next_document();

  // The same in batches, for a consumer that drops tokens as it goes: first
  // drops the `consumed` tokens at the front (views into the owned texts
  // stay valid until discard_tokens), then appends tokens up to the next
  // boundary, or stops earlier, not at a boundary, once about `batch` tokens
  // are held and none of them can change any more. Cuts fall only where no
  // implicit key can still be taken (a flow collection's is taken only by a
  // ':' after its closer on its own line: the cut waits while that ':' may
  // lie ahead), so that no token before the cut is ever inserted before.
  [[nodiscard]] Result<void, ScanError> scan_more(std::size_t consumed, std::size_t batch);

  // scan_more for a consumer that has used `consumed` of the tokens held and
  // reads on across documents: where they end at a boundary the document is
  // complete, so all of them are dropped (discard_tokens) before the next
  // document's first batch.
  [[nodiscard]] Result<void, ScanError> scan_batch(std::size_t consumed, std::size_t batch);

  // True when the tokens held end at a boundary or the scanner is finished:
  // the current document's tokens are complete.
  [[nodiscard]] bool at_boundary() const noexcept;

  // True once StreamEnd has been appended or an error returned.
  [[nodiscard]] bool finished() const noexcept { return finished_; }

  // Set when the scan stopped at a block collection nested past
  // limits::kMaxDepth instead of failing: the last call then succeeded with
  // the tokens up to and including that collection's start token and
  // finished the scanner. A consumer that counts nesting as the decoder does
  // fails at or before that token; this error ("maximum nesting depth (1000)
  // exceeded" at the start token) is for one that does not.
  [[nodiscard]] const ScanError* depth_exceeded() const noexcept {
    return depth_exceeded_ ? &*depth_exceeded_ : nullptr;
  }

  // The tokens appended since the last discard_tokens(), and the comments
  // and storage that go with them.
  [[nodiscard]] TokenList& tokens() noexcept { return list_; }

  // Drops every token, comment and owned text handed out so far (views of
  // the owned texts become invalid); keeps the buffers for what comes next.
  void discard_tokens() noexcept;

 private:
  Result<void, ScanError> scan(std::size_t batch);

  TokenList list_;
  std::unique_ptr<scanner_detail::Scanner> scanner_;
  std::string_view text_;
  std::optional<ScanError> depth_exceeded_;
  std::uint32_t file_id_ = 0;
  bool started_ = false;
  bool finished_ = false;
};

}  // namespace ostrevane
