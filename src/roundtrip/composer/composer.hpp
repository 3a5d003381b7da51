// Composer: scanner tokens to YamlNode trees, one root per document.
//
// Input: the tokens of one text, either handed out a document at a time by a
// DocumentScanner (the compose entry points; the composer drives the scanner
// itself) or as one complete TokenList. Output: the document roots, in
// stream order, with every node's start and end position, styles, tags as
// written, anchors, unresolved aliases and the layout facts the emitter
// needs (`compact`, `value_pad`, the source text of block scalars). Nothing
// is resolved. Beside the roots it records where each document begins in the
// text (`document_starts`), the line of its first directive or "---"
// (`marker_lines`) and where block-sequence dashes stand alone on their line
// (`dash_positions`), and, when it drives the scanner, keeps the scanned
// comments for comment attachment (comments.hpp).
//
// Invariants:
// - Every text a node keeps is an owned, exactly sized copy: the tokens'
//   texts are views that die with their batch.
// - A scan error anywhere in the text wins over a composer error, as if the
//   whole text had been scanned first. Every failure drops the partial trees.
// - The text is refused exactly where the plain decoder refuses it, with the
//   same message and position: both walk their tokens through one
//   DocumentRules (directives, content after a root, tag handles, the
//   budget of expanded tag texts) and share the node-level checks' messages.
// - A tag is kept as written and, beside it, as the document's %TAG
//   directives read it (NodeExtras::expanded_tag), the text the plain
//   decoder gives the same tag.
// - Nesting beyond limits::kMaxDepth node levels (a root is level 1) fails;
//   recursion runs through with_stack_guard.
// - The text must be valid UTF-8 (the scanner's own precondition) and must
//   outlive the composer.
//
// Callers that want the whole road (scanner, composer, comment attachment)
// use the entry points of compose.hpp; the round-trip road of loads_all may
// drive a Composer itself to read document_starts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "decode/document_rules.hpp"
#include "roundtrip/node.hpp"
#include "scanner/scanner.hpp"
#include "scanner/token.hpp"
#include "util/result.hpp"

namespace ostrevane {

// Positions (line, column) of block-sequence dashes whose item starts on a
// later line than the dash, packed line << 32 | column in a sorted vector.
class DashPositions {
 public:
  [[nodiscard]] bool contains(std::uint32_t line, std::uint32_t column) const noexcept {
    return std::binary_search(packed_.begin(), packed_.end(), pack(line, column));
  }
  // The last line in [first, last] holding such a dash at `column`, or -1.
  // The lines asked about lie between two entries, holding only comments.
  [[nodiscard]] std::int64_t last_in(std::uint32_t first, std::uint32_t last,
                                     std::uint32_t column) const noexcept {
    if (first > last) return -1;
    auto it = std::upper_bound(packed_.begin(), packed_.end(), pack(last, column));
    while (it != packed_.begin()) {
      const std::uint64_t at = *--it;
      if ((at >> 32) < first) break;
      if (static_cast<std::uint32_t>(at) == column) return static_cast<std::int64_t>(at >> 32);
    }
    return -1;
  }
  [[nodiscard]] std::size_t size() const noexcept { return packed_.size(); }
  [[nodiscard]] bool empty() const noexcept { return packed_.empty(); }

  void add(std::uint32_t line, std::uint32_t column) { packed_.push_back(pack(line, column)); }
  // Sorts and removes repeats of what was added since the last seal(); call
  // after the last add() of a root before looking anything up.
  void seal();

 private:
  static std::uint64_t pack(std::uint32_t line, std::uint32_t column) noexcept {
    return std::uint64_t{line} << 32 | column;
  }
  std::vector<std::uint64_t> packed_;
  std::size_t sealed_ = 0;  // packed_[0, sealed_) is sorted and unique
};

// True for the tokens that, right after a block "-", leave its item empty
// (a null at the dash). The schema locator (schema/locate.hpp) asks the
// same rule, so that it counts items as the composer does.
[[nodiscard]] constexpr bool closes_dash_item(TokenKind kind) noexcept {
  return kind == TokenKind::MappingEnd || kind == TokenKind::SequenceEnd ||
         kind == TokenKind::BlockEnd || kind == TokenKind::Key || kind == TokenKind::SequenceEntry;
}

class CommentAttacher;

// The children of the collections being composed, stacked. Slots never
// move, so a child is composed in place while deeper levels push theirs
// above it; each collection then moves its own into an exactly sized vector.
// Every slot above the top holds no texts or children (moved out, or
// dropped), so a push only resets its fields.
class NodeStack {
 public:
  // A fresh Null node on top.
  YamlNode& push() {
    if (top_ == chunks_.size() * kChunk) grow();
    YamlNode& slot = (*this)[top_++];
    // Constructed over: the node there owns nothing, so it needs no
    // destructor call.
    std::construct_at(&slot);
    return slot;
  }
  // After the slots from `base` up were moved from.
  void moved_out_from(std::size_t base) noexcept { top_ = base; }
  // Drops what the slots from `base` up still hold.
  void drop_from(std::size_t base) noexcept;
  [[nodiscard]] std::size_t size() const noexcept { return top_; }
  YamlNode& operator[](std::size_t i) noexcept { return chunks_[i / kChunk][i % kChunk]; }

 private:
  static constexpr std::size_t kChunk = 256;
  void grow();
  std::vector<std::unique_ptr<YamlNode[]>> chunks_;
  std::size_t top_ = 0;
};

class Composer {
 public:
  // Over `text`, which must outlive the composer.
  explicit Composer(std::string_view text) noexcept : source_(text), tags_(text.size()) {}
  Composer(const Composer&) = delete;
  Composer& operator=(const Composer&) = delete;

  // Runs `scanner` (over the same text) to its end and composes every
  // document. With `keep_empty`, a document marker without content gives a
  // Null root; otherwise such documents are left out. One call per composer.
  [[nodiscard]] Result<NodeList, ScanError> compose_stream(DocumentScanner& scanner,
                                                           bool keep_empty);
  // The same over a complete token list (scan_all_tokens); `comments()`
  // stays empty: the list holds them.
  [[nodiscard]] Result<NodeList, ScanError> compose_stream(const TokenList& tokens,
                                                           bool keep_empty);

  // compose_stream(scanner, ...), then comment attachment (comments.hpp) done root by
  // root, each as soon as its document is complete, while its nodes are
  // still in cache: the roots come back commented. The comments' texts are
  // moved into the nodes, so comments() keeps only their positions.
  [[nodiscard]] Result<NodeList, ScanError> compose_commented_stream(DocumentScanner& scanner,
                                                                     bool keep_empty);

  // After compose_stream: one entry per returned root, the byte offset where
  // its document begins (its first directive, else its "---", else its
  // first token); 0 for the first root.
  [[nodiscard]] const std::vector<std::uint64_t>& document_starts() const noexcept {
    return document_starts_;
  }
  std::vector<std::uint64_t>& edit_document_starts() noexcept { return document_starts_; }
  // After compose_stream: one entry per returned root, the line of its
  // document's first directive, else of its "---"; kNoMarker when it has
  // neither. Comments above that line are written back above it.
  static constexpr std::uint32_t kNoMarker = UINT32_MAX;
  [[nodiscard]] const std::vector<std::uint32_t>& marker_lines() const noexcept {
    return marker_lines_;
  }
  [[nodiscard]] const DashPositions& dash_positions() const noexcept { return dash_positions_; }
  // After compose_stream: the marker lines of the empty documents left out.
  [[nodiscard]] const std::vector<std::uint32_t>& skipped_lines() const noexcept {
    return skipped_lines_;
  }
  // The comments the scanner collected while compose_stream(DocumentScanner&)
  // ran, in source order; empty when the scanner was not asked for them.
  [[nodiscard]] std::vector<ScannedComment>& comments() noexcept { return comments_; }

 private:
  enum class Got : std::uint8_t { Node, None, Failed };

  Result<NodeList, ScanError> run(bool keep_empty);
  bool more();
  void refill();
  void collect_comments();
  void attach_pending();
  const Token& tok() const noexcept { return (*toks_)[pos_]; }
  bool at(TokenKind kind) { return more() && tok().kind == kind; }
  std::uint64_t consumed() const noexcept { return base_ + pos_; }
  Span span_here();
  Got fail(std::string message, const Span& span);
  // Keeps a failed document rule as the error; true when it failed.
  bool broke(Result<void, ScanError>&& checked);

  Got compose_node_guarded(YamlNode& out, bool indentless_ok);
  Got compose_node(YamlNode& out, bool indentless_ok);
  void compose_scalar(YamlNode& out);
  Got compose_mapping(YamlNode& out, bool flow);
  Got compose_sequence(YamlNode& out, bool flow);
  Got compose_indentless_sequence(YamlNode& out);
  Got compose_dash_item(const Span& dash, std::size_t base);
  Got compose_flow_sequence_item(YamlNode& item, bool flow);
  void add_item(YamlNode& item, const Span& entry, bool after_dash);
  void take_children(YamlNode& out, std::size_t base);
  // Drops the children stacked since `base` and reports the failure.
  Got abandon(std::size_t base) noexcept;
  void set_end_from_children(YamlNode& node) const noexcept;
  void set_scalar_end(YamlNode& node, std::uint64_t end_offset) const noexcept;
  YamlNode zero_null() const noexcept;

  std::string_view source_;
  DocumentScanner* scanner_ = nullptr;
  const TokenVector* toks_ = nullptr;
  std::size_t pos_ = 0;
  std::uint64_t base_ = 0;  // tokens dropped with earlier batches
  std::uint32_t depth_ = 0;
  std::uint32_t file_id_ = 0;
  std::optional<ScanError> scan_error_;
  ScanError error_;
  NodeStack stack_;
  std::unordered_set<std::string> anchors_;  // defined so far in this document
  // The plain decoder's rules around documents: both roads refuse the same
  // texts.
  DocumentRules rules_;
  // Tags as the document's %TAG directives read them, as the plain decoder
  // reads them, under the same budget.
  ExpandedTags<SharedTagText> tags_;
  std::vector<std::uint64_t> document_starts_;
  std::vector<std::uint32_t> marker_lines_;
  // The marker lines of the empty documents left out (without keep_empty).
  std::vector<std::uint32_t> skipped_lines_;
  DashPositions dash_positions_;
  std::vector<ScannedComment> comments_;
  CommentAttacher* attacher_ = nullptr;  // set by compose_commented_stream
  NodeList* roots_ = nullptr;            // the roots composed so far, while known
  std::size_t attached_ = 0;             // roots_[0, attached_) have their comments
};

// The text kept in Comments.raw of a block scalar whose source runs over
// `slice` and whose token ends at `end` in a text of `length` bytes: the
// slice up to and including its last line break when only spaces and tabs
// follow that break and the scalar does not reach the end of the text,
// else the whole slice.
[[nodiscard]] std::string capture_block_scalar_source(std::uint64_t end, std::uint64_t length,
                                                      std::string_view slice);

}  // namespace ostrevane
