// The scanner's output types: tokens, positions, comments and scan errors.
//
// Every consumer of the scanner (plain decoder, composers, loads_all) builds
// on these types alone; the scanner's working state stays in scanner.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/limits.hpp"
#include "util/result.hpp"

namespace ostrevane {

// A source position. Lines and columns count from 0; columns count
// characters (code points), not bytes. The offset counts bytes of the text as
// given, a leading byte-order mark included. Messages print line + 1 and
// column + 1.
struct Span {
  std::uint64_t offset = 0;
  std::uint32_t file_id = 0;  // 0 for the main text, else an included file
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  friend bool operator==(const Span&, const Span&) = default;
};

// The numbering is part of the contract (consumers switch on it).
enum class TokenKind : std::uint8_t {
  StreamStart = 0,
  StreamEnd = 1,
  DocumentStart = 2,
  DocumentEnd = 3,
  MappingStart = 4,  // flow()
  MappingEnd = 5,
  SequenceStart = 6,  // flow()
  SequenceEnd = 7,
  BlockEnd = 8,  // closes a block mapping or a block sequence
  Key = 9,       // explicit()
  Value = 10,
  SequenceEntry = 11,
  FlowEntry = 12,
  Scalar = 13,     // text(), style()
  Anchor = 14,     // text(): the name without '&'
  Alias = 15,      // text(): the name without '*'
  Tag = 16,        // text(): as written, from its first '!' on
  Directive = 17,  // text(): everything after '%' up to the line break
};

enum class ScalarStyle : std::uint8_t {
  Plain = 0,
  SingleQuoted = 1,
  DoubleQuoted = 2,
  Literal = 3,
  Folded = 4,
};

// One token, 32 bytes: a large text makes millions of them. span() is where
// the token starts; `end_offset` is where a Scalar's source text ends and
// equals the start offset for every other kind. Offsets fit 32 bits because
// texts longer than limits::kMaxScanInput are refused, and file ids 16 bits
// because no scan sees more than limits::kMaxIncludedFiles files.
//
// The text of Scalar, Anchor, Alias, Tag and Directive tokens is a view:
// either into the scanned text (one-line plain scalars, quoted scalars with
// no escape, doubled quote or line break, and the names of anchors, aliases,
// tags and directives, which are cut out unchanged) or into the TokenList's
// own storage. Either way it stays valid while both the scanned text and
// the TokenList live.
struct Token {
  std::uint32_t offset = 0;
  std::uint32_t end_offset = 0;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  const char* text_data = nullptr;
  std::uint32_t text_size = 0;
  std::uint16_t file_id = 0;
  TokenKind kind : 5 = TokenKind::StreamStart;
  ScalarStyle style : 3 = ScalarStyle::Plain;  // Scalar only
  bool flag : 1 = false;                       // MappingStart/SequenceStart: flow; Key: explicit

  Token() = default;
  Token(TokenKind k, const Span& at, std::uint64_t end, std::string_view text = {},
        ScalarStyle s = ScalarStyle::Plain, bool f = false) noexcept
      : offset(static_cast<std::uint32_t>(at.offset)),
        end_offset(static_cast<std::uint32_t>(end)),
        line(at.line),
        column(at.column),
        text_data(text.data()),
        text_size(static_cast<std::uint32_t>(text.size())),
        file_id(static_cast<std::uint16_t>(at.file_id)),
        kind(k),
        style(s),
        flag(f) {}

  Span span() const noexcept { return Span{offset, file_id, line, column}; }
  std::string_view text() const noexcept { return {text_data, text_size}; }
  bool flow() const noexcept { return flag; }
  bool explicit_key() const noexcept { return flag; }
};
static_assert(sizeof(Token) == 32);
static_assert(limits::kMaxIncludedFiles < 0x10000 && limits::kMaxScanInput <= 0xFFFF'FFFFu);

// Why a node whose first token (after its properties) is `first` cannot be
// a key of a block mapping that no Key token introduced, or empty when it
// can: a block collection, and a block scalar, which ends only where a
// later line does, so that no ':' can follow it on its own line. Both
// parsers of block mappings ask this one rule.
[[nodiscard]] constexpr std::string_view implicit_key_fault(const Token& first) noexcept {
  if (((first.kind == TokenKind::MappingStart || first.kind == TokenKind::SequenceStart) &&
       !first.flow()) ||
      first.kind == TokenKind::SequenceEntry) {
    return "a block collection cannot be a mapping key";
  }
  if (first.kind == TokenKind::Scalar &&
      (first.style == ScalarStyle::Literal || first.style == ScalarStyle::Folded)) {
    return "a block scalar cannot be a mapping key";
  }
  return {};
}

// A comment collected on request: the text after '#' and one optional space,
// trailing white space removed, and the position of its '#'.
struct ScannedComment {
  std::string text;
  Span span;
};

struct ScanError {
  std::string message;
  Span span;
};

// Owned scalar texts live in chunks that never move, so tokens can hold
// plain views of them and destroying a list frees a handful of blocks.
class TextArena {
 public:
  TextArena() = default;
  TextArena(TextArena&&) noexcept = default;
  TextArena& operator=(TextArena&&) noexcept = default;

  // Copies `text` into the arena and returns a view of the copy.
  std::string_view store(std::string_view text);

  // Texts this long are kept whole rather than copied: a large block
  // scalar is built once, then handed on (see release).
  static constexpr std::size_t kAdoptMin = std::size_t{64} << 10;

  // Keeps `text` (at least kAdoptMin bytes) without copying it and returns
  // a view of it, valid until reset() or release().
  std::string_view adopt(std::string&& text);

  // Hands over the kept text whose view starts at `data`, so that a
  // consumer can keep it past reset() without a copy; empty when `data` is
  // not the start of one (or it was already handed over). The views of it
  // stay valid as long as the returned string lives unchanged.
  std::string release(const char* data) noexcept;

  // Forgets every stored text, invalidating all views of them; the chunks
  // are kept and refilled in order before any new one is allocated.
  void reset() noexcept;

  // A point to come back to: rewind() forgets the texts stored since mark()
  // (not those adopted), as reset() forgets all of them.
  struct Mark {
    std::size_t next_chunk;
    char* cursor;
    std::size_t left;
  };
  Mark mark() const noexcept { return {next_chunk_, cursor_, left_}; }
  void rewind(const Mark& at) noexcept {
    next_chunk_ = at.next_chunk;
    cursor_ = at.cursor;
    left_ = at.left;
  }

 private:
  struct Chunk {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
  };
  std::vector<Chunk> chunks_;
  std::vector<std::string> adopted_;
  std::size_t next_chunk_ = 0;  // the first chunk not yet written since reset()
  char* cursor_ = nullptr;
  std::size_t left_ = 0;
};

namespace detail {
// Storage of token vectors. Blocks of kTokenBufferCacheMin bytes and more
// carry their size in a header, and the largest freed one stays with its
// thread (up to limits::kTokenBufferCache) for the next scan: a fresh block
// costs the kernel one zeroed page per 4 KiB written, a fifth of a scan.
inline constexpr std::size_t kTokenBufferCacheMin = std::size_t{1} << 20;
void* token_buffer_allocate(std::size_t bytes);
void token_buffer_free(void* p, std::size_t bytes) noexcept;
// Bytes of the block this thread keeps, 0 when none.
std::size_t token_buffer_cached_bytes() noexcept;
}  // namespace detail

template <class T>
struct TokenBufferAllocator {
  using value_type = T;
  TokenBufferAllocator() noexcept = default;
  template <class U>
  TokenBufferAllocator(const TokenBufferAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    return static_cast<T*>(detail::token_buffer_allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { detail::token_buffer_free(p, n * sizeof(T)); }
  template <class U>
  friend bool operator==(const TokenBufferAllocator&, const TokenBufferAllocator<U>&) noexcept {
    return true;
  }
};

// The token vector: a std::vector whose large buffers are reused per thread.
using TokenVector = std::vector<Token, TokenBufferAllocator<Token>>;

// The complete result of one scan. Movable; views in `tokens` survive moves.
struct TokenList {
  TokenVector tokens;  // StreamStart first, StreamEnd last
  // Collected only when ScanOptions::collect_comments is set, in source
  // order; callers move them out and own them.
  std::vector<ScannedComment> comments;
  bool leading_bom = false;  // the text began with EF BB BF (skipped)
  TextArena storage;
};

struct ScanOptions {
  std::uint32_t file_id = 0;      // copied into every Span
  bool collect_comments = false;  // fill TokenList::comments
};

// Scans one whole UTF-8 text (known to be valid UTF-8) to its StreamEnd, or
// returns the first error. The text must outlive the returned list.
[[nodiscard]] Result<TokenList, ScanError> scan_all_tokens(std::string_view text,
                                                           const ScanOptions& options = {});

// The name of a kind as listed above ("StreamStart", ...).
std::string_view token_kind_name(TokenKind kind) noexcept;

// Debug text of a token for internal-fault messages: "Key { explicit: true }",
// "MappingStart { flow: false }", "Scalar(text)", "BlockEnd".
std::string token_debug_text(const Token& token);

// The reservation rule for the token vector, exposed for its tests.
std::size_t token_reserve_count(std::size_t input_len) noexcept;

}  // namespace ostrevane
