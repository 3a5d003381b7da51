// The scanner's working state, shared by the structural part (scanner.cpp)
// and the scalar scanners (scalar.cpp). Not part of the public interface.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/detail/reader.hpp"
#include "scanner/token.hpp"
#include "util/result.hpp"

namespace ostrevane::scanner_detail {

using Status = Result<void, ScanError>;

inline std::unexpected<ScanError> scan_error(std::string message, Span span) {
  return std::unexpected(ScanError{std::move(message), span});
}

// The message of nesting past limits::kMaxDepth, the same as the decoder's.
std::string depth_exceeded_message();

inline constexpr std::uint32_t kNoLine = std::numeric_limits<std::uint32_t>::max();

// An implicit key whose first token (alias, anchor, tag or flow collection)
// is already in the token vector; fetch_value inserts Key (and possibly a
// BlockMappingStart) at token_index once it meets the ':'.
struct SimpleKey {
  enum class State : std::uint8_t { None, Possible, TabIndented };
  std::size_t token_index = 0;
  std::uint32_t column = 0;
  std::uint32_t line = 0;
  State state = State::None;
};

class Scanner {
 public:
  Scanner(std::string_view text, const ScanOptions& options, TokenList& out);

  // The whole text at once: start(), then every document.
  [[nodiscard]] Status run();
  // Reserves the token vector, checks the text's characters and appends
  // StreamStart.
  [[nodiscard]] Status start();
  // Appends tokens up to and including the next DocumentStart, DocumentEnd,
  // Directive or StreamEnd.
  [[nodiscard]] Status scan_to_boundary() { return scan_some(SIZE_MAX); }
  // The same, but may also stop before the boundary once `limit` tokens are
  // held and none of them can change any more (see cut_safe).
  [[nodiscard]] Status scan_some(std::size_t limit);
  // True when the last scan ended at a boundary (or the stream's end).
  bool at_boundary() const noexcept { return at_boundary_; }
  // Drops the first `count` tokens, which the caller has consumed.
  void drop_front(std::size_t count) noexcept;
  // Bases the growth of the token vector on what follows from here, for a
  // consumer that drops each document's tokens (DocumentScanner).
  void predict_from_here() noexcept {
    predict_from_pos_ = r_.pos;
    predict_from_token_ = out_.size();
  }
  bool stream_ended() const noexcept { return stream_ended_; }
  // True once a scan stopped at a block collection nested past
  // limits::kMaxDepth; the error it returned is the decoder's depth error.
  bool depth_stopped() const noexcept { return depth_stopped_; }

 private:
  // Driver and dispatch.
  [[nodiscard]] Status check_characters();
  [[nodiscard]] Status fetch_next_token();
  [[nodiscard]] Status skip_to_next_token();
  [[nodiscard]] Status fetch_stream_end();
  [[nodiscard]] Status dispatch_flow(int c);
  [[nodiscard]] Status dispatch_block(int c);
  [[gnu::cold]] Status reject_node_start(int c);
  // Whether no token held can still change: no implicit key is pending that
  // may still be taken (only the outermost flow collection's may be pending
  // for long, and it is taken only by a ':' after its closer on its line).
  bool cut_safe();
  void find_key_closer() noexcept;
  [[gnu::cold]] bool flow_key_taken();
  bool comment_may_start() const noexcept;
  void scan_comment();

  // Block structure.
  // Most keys sit at the column of their open mapping: nothing to do there.
  [[nodiscard]] Status roll_indent(std::uint32_t column, Span span, TokenKind kind) {
    if (in_flow() || (!document_start_on_line_ && static_cast<std::int64_t>(column) <= indent_))
      return {};
    return open_block_collection(column, span, kind);
  }
  [[nodiscard]] Status open_block_collection(std::uint32_t column, Span span, TokenKind kind);
  // "a block collection cannot start on the same line as ---" at `span`.
  [[nodiscard]] Status document_start_collection_error(Span span);
  // Ends the scan at a block collection nested past limits::kMaxDepth,
  // whose start token at `span` is the last one appended.
  [[gnu::cold]] Status stop_at_depth(Span span);
  void unroll_indent(std::int64_t column);
  void pop_indent();
  void close_sequence_at_column(int c);
  [[nodiscard]] Status fetch_value();
  [[nodiscard]] Status fetch_explicit_key();
  [[nodiscard]] Status fetch_block_entry(bool after_entry);
  void fetch_document_start();
  [[nodiscard]] Status fetch_document_end();
  void save_simple_key();
  [[nodiscard]] Status drop_simple_key();

  // Flow collections.
  [[nodiscard]] Status fetch_flow_collection_start(bool mapping);
  [[nodiscard]] Status fetch_flow_collection_end(bool mapping);
  [[nodiscard]] Status fetch_flow_entry();
  [[nodiscard]] Status check_flow_tab_at_column0();

  // Node properties and directives.
  [[nodiscard]] Status check_property_indent();
  [[nodiscard]] Status scan_anchor(bool alias);
  [[nodiscard]] Status fetch_tag();
  [[nodiscard]] Status fetch_directive();

  // Scalars (scalar.cpp).
  [[nodiscard]] Status scan_plain_scalar();
  template <bool flow>
  [[nodiscard]] Status scan_plain_scalar_in();
  [[nodiscard]] Status scan_double_quoted();
  [[nodiscard]] Status scan_single_quoted();
  [[nodiscard]] Status fold_quoted_line_break(std::int64_t block_indent);
  [[nodiscard]] Status check_after_quoted_scalar(std::string_view text, ScalarStyle style,
                                                 Span start, bool key_allowed_at_start,
                                                 bool tab_at_start);
  [[nodiscard]] Status scan_block_scalar(bool literal);
  std::size_t block_scalar_extent(std::size_t pos, std::uint32_t indent) const noexcept;
  [[nodiscard]] Status push_implicit_key(std::string_view text, ScalarStyle style, Span start,
                                         std::uint64_t end_offset);
  [[nodiscard]] Result<std::uint32_t, ScanError> hex_escape(int digits, Span start);
  [[nodiscard]] std::optional<std::uint32_t> low_surrogate_escape() const noexcept;

  bool in_flow() const noexcept { return flow_level_ > 0; }

  void push(TokenKind kind, Span span, bool flag = false) {
    if (out_.size() == out_.capacity()) [[unlikely]]
      grow_tokens();
    out_.emplace_back(kind, span, span.offset, std::string_view(), ScalarStyle::Plain, flag);
  }
  void push_text(TokenKind kind, Span span, std::string_view text, std::uint64_t end_offset,
                 ScalarStyle style = ScalarStyle::Plain) {
    if (out_.size() == out_.capacity()) [[unlikely]]
      grow_tokens();
    out_.emplace_back(kind, span, end_offset, text, style);
  }
  // Grows the token vector to the count the scanned part of the text
  // predicts for the whole, so large texts reallocate once or twice instead
  // of doubling all the way.
  [[gnu::noinline]] void grow_tokens();
  // Owned texts go to the arena; views of the input are kept as they are.
  std::string_view keep(std::string_view owned) { return list_.storage.store(owned); }

  Reader r_;
  TokenList& list_;
  TokenVector& out_;
  bool collect_comments_ = false;

  // Block indentation.
  std::int64_t indent_ = -1;  // 64-bit: columns are unsigned 32-bit
  bool indent_is_sequence_ = false;
  struct IndentLevel {
    std::int64_t indent;
    bool is_sequence;
  };
  std::vector<IndentLevel> indents_;

  // Flow collections: one flag per open bracket, true for '{'.
  std::uint32_t flow_level_ = 0;
  std::vector<bool> flow_stack_;

  SimpleKey simple_key_;
  // A property at or left of its mapping's indentation is only wrong when it
  // does not start the next key; its error waits here until the key it saved
  // is either taken by a ':' (no error) or dropped (the error stands).
  std::optional<ScanError> held_property_error_;

  // cut_safe's memo over the current line: where the search for a closer
  // followed by ':' goes on, where the line ends, and the closer found
  // (kNoCloser when none lies between the reader and closer_search_from_).
  static constexpr std::size_t kNoCloser = SIZE_MAX;
  std::uint32_t closer_line_ = kNoLine;
  std::size_t closer_search_from_ = 0;
  std::size_t closer_line_end_ = 0;
  std::size_t key_closer_ = kNoCloser;
  // flow_key_taken's answer for the pending key that starts at this line
  // and column.
  std::uint32_t probed_key_line_ = kNoLine;
  std::uint32_t probed_key_column_ = 0;
  bool probed_key_taken_ = false;
  // scan_some's limit while it runs: growth stays near it.
  std::size_t batch_limit_ = SIZE_MAX;

  // Where grow_tokens measures tokens per byte from.
  std::size_t predict_from_pos_ = 0;
  std::size_t predict_from_token_ = 0;

  bool simple_key_allowed_ = true;
  bool directive_allowed_ = true;
  bool stream_ended_ = false;
  bool depth_stopped_ = false;
  bool at_boundary_ = false;  // the last token appended ends a document
  bool tab_before_token_ = false;
  bool document_start_on_line_ = false;
  bool after_block_value_ = false;
  bool after_block_entry_ = false;
  bool indent_closed_ = false;
  bool flow_entry_has_content_ = false;
  bool flow_node_done_ = false;
  bool flow_explicit_key_ = false;
  bool adjacent_value_allowed_ = false;

  std::uint32_t last_flow_node_line_ = 0;
  std::uint32_t flow_start_line_ = 0;
  std::uint32_t key_value_line_ = kNoLine;
  std::uint32_t property_line_ = kNoLine;
  std::int64_t flow_block_indent_ = -1;

  // Scratch for owned scalar texts; reused so that building one allocates
  // nothing once it has grown.
  std::string buf_;
  std::string pending_;
};

}  // namespace ostrevane::scanner_detail
