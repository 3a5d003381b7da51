// Text -> tokens, with and without comment collection.
// Invariants of a successful scan: StreamStart first, StreamEnd last and
// nowhere else; every flow bracket closed by its own kind and every block
// collection by a BlockEnd; offsets within the text and never going back;
// each line and column agree with the offset; token texts are UTF-8, and the
// names of anchors, aliases, tags and directives are views into the text.
// Collecting comments changes nothing else, and each comment starts at a '#'.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "scanner/input_decode.hpp"
#include "scanner/scanner.hpp"

using namespace ostrevane;

namespace {

std::string describe(const Token& t) {
  return token_debug_text(t) + " at offset " + std::to_string(t.span().offset) + " line " +
         std::to_string(t.span().line) + " column " + std::to_string(t.span().column);
}

// Line and column of every character boundary, counted the way spans are:
// LF, CR and CR LF end a line; columns count code points; a leading
// byte-order mark counts in offsets only.
class Positions {
 public:
  explicit Positions(std::string_view text)
      : text_(text), offset_(text.starts_with("\xEF\xBB\xBF") ? 3 : 0) {}

  // Advances to `offset` (never backwards) and checks the span there.
  bool agrees(const Span& span) {
    if (span.offset < offset_)
      return span.offset == 0 && offset_ == 3 && line_ == 0 && column_ == 0;
    while (offset_ < span.offset) {
      const unsigned char c = static_cast<unsigned char>(text_[offset_]);
      ++offset_;
      if (c == '\n' || (c == '\r' && (offset_ == text_.size() || text_[offset_] != '\n'))) {
        ++line_;
        column_ = 0;
      } else if ((c & 0xC0) != 0x80 && c != '\r') {
        ++column_;
      }
    }
    return span.line == line_ && span.column == column_;
  }

 private:
  std::string_view text_;
  std::uint64_t offset_;
  std::uint32_t line_ = 0;
  std::uint32_t column_ = 0;
};

void check_stream(std::string_view text, const TokenList& list) {
  const TokenVector& toks = list.tokens;
  FUZZ_REQUIRE(toks.size() >= 2, "fewer than two tokens");
  FUZZ_REQUIRE(toks.front().kind == TokenKind::StreamStart, describe(toks.front()));
  FUZZ_REQUIRE(toks.back().kind == TokenKind::StreamEnd, describe(toks.back()));

  const char* const begin = text.data();
  const char* const end = text.data() + text.size();
  // Open collections: the kind and whether it is a flow one.
  std::vector<const Token*> open;
  std::uint64_t last_offset = 0;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    FUZZ_REQUIRE(t.span().offset <= text.size(), describe(t));
    FUZZ_REQUIRE(t.end_offset <= text.size(), describe(t));
    FUZZ_REQUIRE(t.end_offset >= t.span().offset, describe(t));
    FUZZ_REQUIRE(t.span().offset >= last_offset, "offset went back: " + describe(t));
    last_offset = t.span().offset;
    if (t.kind != TokenKind::Scalar) {
      FUZZ_REQUIRE(t.end_offset == t.span().offset, describe(t));
    }
    if (i > 0 && i + 1 < toks.size()) {
      FUZZ_REQUIRE(t.kind != TokenKind::StreamStart && t.kind != TokenKind::StreamEnd, describe(t));
    }
    switch (t.kind) {
      case TokenKind::MappingStart:
      case TokenKind::SequenceStart:
        open.push_back(&t);
        break;
      case TokenKind::MappingEnd:
      case TokenKind::SequenceEnd: {
        const TokenKind start =
            t.kind == TokenKind::MappingEnd ? TokenKind::MappingStart : TokenKind::SequenceStart;
        FUZZ_REQUIRE(!open.empty() && open.back()->kind == start && open.back()->flow(),
                     "unmatched " + describe(t));
        open.pop_back();
        break;
      }
      case TokenKind::BlockEnd:
        FUZZ_REQUIRE(!open.empty() && !open.back()->flow(), "unmatched " + describe(t));
        open.pop_back();
        break;
      case TokenKind::Anchor:
      case TokenKind::Alias:
      case TokenKind::Tag:
      case TokenKind::Directive:
        FUZZ_REQUIRE(t.text_data >= begin && t.text_data + t.text_size <= end,
                     "name not in the text: " + describe(t));
        break;
      default:
        break;
    }
    if (t.text_size != 0) {
      FUZZ_REQUIRE(validate_utf8(t.text()).has_value(), "text not UTF-8: " + describe(t));
      for (char c : t.text()) sum += static_cast<unsigned char>(c);
    }
  }
  FUZZ_REQUIRE(open.empty(), "unclosed " + describe(*open.back()));
  (void)sum;

  Positions positions(text);
  for (const Token& t : toks) {
    FUZZ_REQUIRE(positions.agrees(t.span()), "line or column wrong: " + describe(t));
  }
  FUZZ_REQUIRE(list.leading_bom == text.starts_with("\xEF\xBB\xBF"), "leading_bom flag");
}

void check_comments(std::string_view text, const TokenList& list) {
  Positions positions(text);
  for (const ScannedComment& c : list.comments) {
    const std::string where = "comment at " + std::to_string(c.span.offset);
    FUZZ_REQUIRE(c.span.offset < text.size() && text[c.span.offset] == '#', where);
    FUZZ_REQUIRE(positions.agrees(c.span), where + ": line or column wrong");
    FUZZ_REQUIRE(validate_utf8(c.text).has_value(), where + ": text not UTF-8");
    FUZZ_REQUIRE(text.find(c.text, c.span.offset) != std::string_view::npos, where);
  }
}

bool same_tokens(const Token& a, const Token& b) {
  return a.kind == b.kind && a.span().offset == b.span().offset && a.span().line == b.span().line &&
         a.span().column == b.span().column && a.end_offset == b.end_offset && a.style == b.style &&
         a.flag == b.flag && a.text() == b.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The scanner takes valid UTF-8 only: the input layer sees to that.
  auto decoded = decode_input_bytes(fuzz::as_text(data, size));
  if (!decoded) return 0;
  const std::string& text = *decoded;

  auto plain = scan_all_tokens(text);
  auto with_comments = scan_all_tokens(text, ScanOptions{.file_id = 7, .collect_comments = true});
  FUZZ_REQUIRE(plain.has_value() == with_comments.has_value(),
               "collecting comments changed success");
  if (!plain) {
    const ScanError& e = plain.error();
    FUZZ_REQUIRE(!e.message.empty(), "empty scan error");
    FUZZ_REQUIRE(e.span.offset <= text.size(), e.message);
    FUZZ_REQUIRE(Positions(text).agrees(e.span), e.message + ": line or column wrong");
    FUZZ_REQUIRE(e.message == with_comments.error().message, with_comments.error().message);
    FUZZ_REQUIRE(e.span.offset == with_comments.error().span.offset, e.message);
    return 0;
  }
  check_stream(text, *plain);
  FUZZ_REQUIRE(plain->comments.empty(), "comments collected unasked");
  const TokenVector& a = plain->tokens;
  const TokenVector& b = with_comments->tokens;
  FUZZ_REQUIRE(a.size() == b.size(), "collecting comments changed the tokens");
  for (std::size_t i = 0; i < a.size(); ++i) {
    FUZZ_REQUIRE(same_tokens(a[i], b[i]) && b[i].span().file_id == 7,
                 "collecting comments changed " + describe(a[i]));
  }
  check_comments(text, *with_comments);

  // Views must survive a move of the list.
  TokenList moved = std::move(*plain);
  for (const Token& t : moved.tokens) {
    if (t.text_size != 0) FUZZ_REQUIRE(validate_utf8(t.text()).has_value(), describe(t));
  }
  return 0;
}
