// The scanner's structure: the driver, white space and comments, dispatch,
// block indentation and implicit keys, flow collections, node properties and
// directives. The scalar scanners live in scalar.cpp.
#include "scanner/scanner.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "scanner/detail/scanner_impl.hpp"
#include "util/limits.hpp"

namespace ostrevane {

namespace scanner_detail {

std::string depth_exceeded_message() {
  return "maximum nesting depth (" + std::to_string(limits::kMaxDepth) + ") exceeded";
}

namespace {

std::string hex_code_point(std::uint32_t cp) {
  char digits[16];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, cp, 16);
  (void)ec;
  std::string out = "U+";
  for (auto n = end - digits; n < 4; ++n) out += '0';
  for (char* p = digits; p != end; ++p) out += (*p >= 'a' && *p <= 'f') ? char(*p - 32) : *p;
  return out;
}

// Stop bytes of anchor and alias names.
constexpr ByteSet kNameStop(std::string_view("\t\n\r ,[]{}"));

// Stop bytes of tag shorthands: '[' and '{' do not end a tag.
constexpr ByteSet kTagStop(std::string_view("\t\n\r ,]}"));

// Trailing Unicode White_Space removed from collected comments.
std::string_view trim_trailing_white_space(std::string_view s) {
  for (;;) {
    const std::size_t n = s.size();
    if (n == 0) return s;
    const auto b = [&](std::size_t back) { return static_cast<unsigned char>(s[n - back]); };
    const unsigned char last = b(1);
    if (last == ' ' || (last >= 0x09 && last <= 0x0D)) {
      s.remove_suffix(1);
      continue;
    }
    if (n >= 2 && b(2) == 0xC2 && (last == 0x85 || last == 0xA0)) {
      s.remove_suffix(2);
      continue;
    }
    if (n >= 3) {
      const unsigned char a = b(3), m = b(2);
      const bool space = (a == 0xE1 && m == 0x9A && last == 0x80) ||  // U+1680
                         (a == 0xE2 && m == 0x80 &&
                          (last <= 0x8A || last == 0xA8 ||            // U+2000-200A,
                           last == 0xA9 || last == 0xAF)) ||          // 2028, 2029, 202F
                         (a == 0xE2 && m == 0x81 && last == 0x9F) ||  // U+205F
                         (a == 0xE3 && m == 0x80 && last == 0x80);    // U+3000
      if (space) {
        s.remove_suffix(3);
        continue;
      }
    }
    return s;
  }
}

// A large token vector is written once from end to end; backing it with
// huge pages saves most of the page faults that otherwise cost as much as a
// third of a scan. Only whole 2 MiB blocks inside the buffer are advised.
void advise_huge_pages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (bytes < 2 * kHuge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace

Scanner::Scanner(std::string_view text, const ScanOptions& options, TokenList& out)
    : list_(out), out_(out.tokens), collect_comments_(options.collect_comments) {
  r_.input = text.data();
  r_.len = text.size();
  r_.file_id = options.file_id;
  if (text.size() > 2 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
    r_.pos = r_.start = 3;
    r_.leading_bom = true;
  }
  out.leading_bom = r_.leading_bom;
}

Status Scanner::run() {
  OSV_TRY(start());
  while (!stream_ended_) OSV_TRY(scan_to_boundary());
  return {};
}

Status Scanner::start() {
  // A large text takes the whole buffer its thread kept from an earlier
  // scan, so that growing rarely needs a fresh one.
  std::size_t reserve = token_reserve_count(r_.len);
  if (reserve * sizeof(Token) >= detail::kTokenBufferCacheMin)
    reserve = std::max(reserve, detail::token_buffer_cached_bytes() / sizeof(Token));
  out_.reserve(reserve);
  OSV_TRY(check_characters());
  push(TokenKind::StreamStart, r_.span());
  return {};
}

Status Scanner::scan_some(std::size_t limit) {
  at_boundary_ = false;
  batch_limit_ = limit;
  while (!at_boundary_) {
    if (out_.size() >= limit && cut_safe()) [[unlikely]]
      return {};
    Status status = fetch_next_token();
    if (!status) [[unlikely]] {
      if (depth_stopped_) return status;
      // A property error held back is earlier in the text than whatever
      // failed since; report it first.
      if (held_property_error_) return std::unexpected(std::move(*held_property_error_));
      return status;
    }
  }
  return {};
}

bool Scanner::cut_safe() {
  if (held_property_error_) return false;
  if (simple_key_.state == SimpleKey::State::None) return true;
  // A key saved on an earlier line is never taken: fetch_value inserts one
  // only on its own line.
  if (simple_key_.line != r_.line) return true;
  // A pending key in flow context is the outermost collection's. It is
  // taken only by a ':' that follows that collection's closer, past nothing
  // but blanks, on this same line: with no ']' or '}' so followed ahead on
  // the line, no token held can be inserted before. Searching for those
  // alone (not for any ':') lets one-line JSON be cut as often as the same
  // text broken into lines.
  if (!in_flow()) return false;
  if (closer_line_ != r_.line) {
    closer_line_ = r_.line;
    closer_search_from_ = r_.pos;
    closer_line_end_ = static_cast<std::size_t>(find_break(r_.input + r_.pos, r_.input + r_.len) -
                                                r_.input);
    find_key_closer();
  } else if (key_closer_ != kNoCloser && key_closer_ < r_.pos) {
    find_key_closer();  // that one was passed inside the collection: not its closer
  }
  if (key_closer_ == kNoCloser) return true;
  // One is ahead, but it may close an inner collection or lie inside a
  // quoted scalar ("[::1]:80"): only scanning on tells, once per key.
  if (probed_key_line_ != simple_key_.line || probed_key_column_ != simple_key_.column) {
    probed_key_line_ = simple_key_.line;
    probed_key_column_ = simple_key_.column;
    probed_key_taken_ = flow_key_taken();
  }
  return !probed_key_taken_;
}

// Whether the pending key of the outermost flow collection will be taken: a
// copy of the scanner scans on to that collection's closer and looks for
// the ':' after it, or stops once past the last ']' or '}' followed by ':'
// on the line. The copy shares the token vector and the arena, and what it
// adds to them is dropped as it goes, so that a long collection costs a
// second scan of it at most, but no memory.
bool Scanner::flow_key_taken() {
  const char* in = r_.input;
  std::size_t last = key_closer_;
  for (std::size_t end = closer_line_end_; end > key_closer_ + 1;) {
    const void* hit = memrchr(in + key_closer_ + 1, ':', end - key_closer_ - 1);
    if (hit == nullptr) break;
    std::size_t p = static_cast<std::size_t>(static_cast<const char*>(hit) - in);
    end = p;
    while (p > key_closer_ + 1 && (in[p - 1] == ' ' || in[p - 1] == '\t')) --p;
    if (in[p - 1] == ']' || in[p - 1] == '}') {
      last = p - 1;
      break;
    }
  }
  const std::size_t held = out_.size();
  const TextArena::Mark mark = list_.storage.mark();
  Scanner probe(*this);
  probe.collect_comments_ = false;
  // A line break ends the key's chances; an error ends the scan before it.
  bool failed = false;
  while (probe.in_flow() && probe.r_.line == simple_key_.line && probe.r_.pos <= last &&
         !failed) {
    failed = !probe.fetch_next_token();
    out_.erase(out_.begin() + static_cast<std::ptrdiff_t>(held), out_.end());
    list_.storage.rewind(mark);
  }
  return !failed && !probe.in_flow() && probe.r_.line == simple_key_.line &&
         probe.r_.peek_nonblank().first == ':';
}

// The next ']' or '}' at or after the reader that blanks and a ':' follow on
// the current line, from where the last search stopped; each byte of the
// line is looked at a bounded number of times, however often this is asked.
void Scanner::find_key_closer() noexcept {
  key_closer_ = kNoCloser;
  const char* in = r_.input;
  while (closer_search_from_ < closer_line_end_) {
    const void* hit = std::memchr(in + closer_search_from_, ':',
                                  closer_line_end_ - closer_search_from_);
    if (hit == nullptr) {
      closer_search_from_ = closer_line_end_;
      return;
    }
    const auto colon = static_cast<std::size_t>(static_cast<const char*>(hit) - in);
    closer_search_from_ = colon + 1;
    std::size_t p = colon;
    while (p > r_.pos && (in[p - 1] == ' ' || in[p - 1] == '\t')) --p;
    if (p > r_.pos && (in[p - 1] == ']' || in[p - 1] == '}')) {
      key_closer_ = p - 1;
      return;
    }
  }
}

void Scanner::drop_front(std::size_t count) noexcept {
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(count));
  // A pending key whose first token is gone can no longer be inserted
  // before (cut_safe allowed the cut because it never will be).
  simple_key_.token_index = simple_key_.token_index > count ? simple_key_.token_index - count : 0;
  predict_from_token_ = predict_from_token_ > count ? predict_from_token_ - count : 0;
}

// One pass over the bytes before any token, also learning whether the text
// is all ASCII (then columns are byte counts).
Status Scanner::check_characters() {
  const auto* s = reinterpret_cast<const unsigned char*>(r_.input);
  const std::size_t n = r_.len;
  bool high = false;

  // The code point of a disallowed character starting at p, or 0.
  const auto disallowed = [&](std::size_t p) -> std::uint32_t {
    const unsigned char b = s[p];
    if (b < 0x20) return (b == 0x09 || b == 0x0A || b == 0x0D) ? 0 : (b == 0 ? 0x110000 : b);
    if (b == 0x7F) return 0x7F;
    if (b == 0xC2 && p + 1 < n && s[p + 1] >= 0x80 && s[p + 1] <= 0x9F && s[p + 1] != 0x85)
      return s[p + 1];
    if (b == 0xEF && p + 2 < n && s[p + 1] == 0xBF && (s[p + 2] == 0xBE || s[p + 2] == 0xBF))
      return s[p + 2] == 0xBE ? 0xFFFEu : 0xFFFFu;
    return 0;
  };
  std::size_t bad = n;
  std::uint32_t code = 0;
  std::size_t i = r_.start;
  const __m128i ctrl_max = _mm_set1_epi8(0x1F);
  // Bytes that need a closer look: controls other than TAB, LF and CR, DEL,
  // and the lead bytes C2 and EF of the refused C1 controls and nonchars.
  const auto suspicious = [&](__m128i v) {
    const __m128i ctrl = _mm_cmpeq_epi8(_mm_max_epu8(v, ctrl_max), ctrl_max);
    const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x09)),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0A))),
                                         _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D)));
    const __m128i other =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2)))),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xEF))));
    return _mm_or_si128(_mm_andnot_si128(allowed, ctrl), other);
  };
  // Inspects the 16 bytes at i, recording the first disallowed character.
  const auto inspect16 = [&](__m128i v) {
    int mask = _mm_movemask_epi8(suspicious(v));
    while (mask != 0) {
      const std::size_t p = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (const std::uint32_t cp = disallowed(p); cp != 0) {
        bad = p;
        code = cp;
        return;
      }
      mask &= mask - 1;
    }
  };
  while (i + 64 <= n && bad == n) {
    const auto* block = reinterpret_cast<const __m128i*>(s + i);
    const __m128i v[4] = {_mm_loadu_si128(block), _mm_loadu_si128(block + 1),
                          _mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)};
    high |=
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(v[0], v[1]), _mm_or_si128(v[2], v[3]))) != 0;
    const __m128i any = _mm_or_si128(_mm_or_si128(suspicious(v[0]), suspicious(v[1])),
                                     _mm_or_si128(suspicious(v[2]), suspicious(v[3])));
    if (_mm_movemask_epi8(any) == 0) {
      i += 64;
      continue;
    }
    for (int k = 0; k < 4 && bad == n; ++k, i += 16) inspect16(v[k]);
  }
  while (i + 16 <= n && bad == n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    high |= _mm_movemask_epi8(v) != 0;
    inspect16(v);
    i += 16;
  }
  for (; i < n && bad == n; ++i) {
    high |= s[i] >= 0x80;
    if (const std::uint32_t cp = disallowed(i); cp != 0) {
      bad = i;
      code = cp;
    }
  }
  if (bad == n) {
    if (!high) r_.next_non_ascii = n;  // no search needed later
    return {};
  }
  if (code == 0x110000) code = 0;  // NUL, kept apart from "no fault" above
  // Recount the position once, as the reader would have.
  std::uint32_t line = 0, column = 0;
  for (std::size_t p = r_.start; p < bad; ++p) {
    if (s[p] == '\n') {
      ++line;
      column = 0;
    } else if (s[p] == '\r') {
      if (p + 1 < bad && s[p + 1] == '\n') ++p;
      ++line;
      column = 0;
    } else if ((s[p] & 0xC0) != 0x80) {
      ++column;
    }
  }
  return scan_error("disallowed control character " + hex_code_point(code),
                    Span{bad, r_.file_id, line, column});
}

Status Scanner::fetch_next_token() {
  const std::uint32_t line_before = r_.line;
  tab_before_token_ = false;
  OSV_TRY(skip_to_next_token());
  if (r_.at_end()) {
    if (in_flow()) return scan_error("unclosed flow collection at end of input", r_.span());
    return fetch_stream_end();
  }
  const int c = r_.peek();
  if (in_flow()) {
    if (r_.line != line_before && static_cast<std::int64_t>(r_.column) <= flow_block_indent_)
      return scan_error("flow content must be indented more than its block context", r_.span());
    return dispatch_flow(c);
  }
  indent_closed_ = false;
  unroll_indent(r_.column);
  close_sequence_at_column(c);
  return dispatch_block(c);
}

Status Scanner::skip_to_next_token() {
  const char* in = r_.input;
  for (;;) {
    if (r_.pos >= r_.len) return {};
    switch (in[r_.pos]) {
      case '\t':
        if (in_flow()) {
          if (r_.column == 0) OSV_TRY(check_flow_tab_at_column0());
        } else {
          tab_before_token_ = true;
        }
        r_.advance_ascii();
        break;
      case '\n':
      case '\r':
        r_.skip_break();
        document_start_on_line_ = false;
        tab_before_token_ = false;
        if (simple_key_.state != SimpleKey::State::None && simple_key_.line != r_.line)
          OSV_TRY(drop_simple_key());
        if (!in_flow()) simple_key_allowed_ = true;
        break;
      case ' ':
        r_.skip_spaces();
        break;
      case '#':
        if (!comment_may_start()) return {};
        scan_comment();
        break;
      default:
        return {};
    }
  }
}

bool Scanner::comment_may_start() const noexcept {
  if (r_.pos == r_.start) return true;
  const char before = r_.input[r_.pos - 1];
  return before == ' ' || before == '\t' || before == '\n' || before == '\r';
}

void Scanner::scan_comment() {
  const Span hash = r_.span();
  r_.advance_ascii();
  if (r_.peek() == ' ') r_.advance_ascii();
  const char* from = r_.input + r_.pos;
  const char* end = find_break(from, r_.input + r_.len);
  r_.advance_bytes(static_cast<std::size_t>(end - from));
  if (collect_comments_) {
    const std::string_view text =
        trim_trailing_white_space(std::string_view(from, static_cast<std::size_t>(end - from)));
    list_.comments.push_back(ScannedComment{std::string(text), hash});
  }
}

Status Scanner::fetch_stream_end() {
  OSV_TRY(drop_simple_key());
  unroll_indent(-1);
  stream_ended_ = true;
  at_boundary_ = true;
  push(TokenKind::StreamEnd, r_.span());
  return {};
}

Status Scanner::dispatch_flow(int c) {
  if (r_.column == 0 && (r_.starts_with3("---") || r_.starts_with3("...")) &&
      is_blankz(r_.at(r_.pos + 3)))
    return scan_error("a document marker is not allowed inside a flow collection", r_.span());
  const bool adjacent = adjacent_value_allowed_;
  adjacent_value_allowed_ = false;
  const int next = r_.peek_next();
  const bool next_ends = is_blankz(next) || is_flow_indicator(next);
  if (flow_node_done_) {
    const bool separator = c == '#' || c == ',' || c == ':' || c == ']' || c == '}' ||
                           ((c == '-' || c == '?') && next_ends);
    if (!separator) return scan_error("missing ',' between flow collection entries", r_.span());
  }
  if (c == ':' && flow_node_done_ && !flow_explicit_key_ && !flow_stack_.back() &&
      last_flow_node_line_ != r_.line)
    return scan_error("the implicit key of a flow sequence pair must be on one line", r_.span());

  switch (c) {
    case ',':
      return fetch_flow_entry();
    case ':':
      if (adjacent || next_ends) return fetch_value();
      break;
    case '?':
      if (next_ends) return fetch_explicit_key();
      break;
    case '-':
      if (next_ends) return scan_error("a plain scalar cannot be a bare '-' here", r_.span());
      break;
    case '!':
      OSV_TRY(fetch_tag());
      flow_entry_has_content_ = true;
      return {};
    case '&':
    case '*':
      OSV_TRY(scan_anchor(c == '*'));
      flow_entry_has_content_ = true;
      return {};
    case '[':
    case '{':
      return fetch_flow_collection_start(c == '{');
    case ']':
    case '}':
      return fetch_flow_collection_end(c == '}');
    case '"':
      OSV_TRY(scan_double_quoted());
      flow_entry_has_content_ = true;
      return {};
    case '\'':
      OSV_TRY(scan_single_quoted());
      flow_entry_has_content_ = true;
      return {};
    case '#':
    case '@':
    case '`':
      return reject_node_start(c);
    default:
      break;
  }
  OSV_TRY(scan_plain_scalar());
  flow_entry_has_content_ = true;
  return {};
}

Status Scanner::dispatch_block(int c) {
  if (c != '!' && c != '&') after_block_value_ = false;
  const bool after_entry = after_block_entry_;
  after_block_entry_ = false;
  if (r_.column == 0) {
    if (c == '.' && r_.starts_with3("...") && is_blankz(r_.at(r_.pos + 3)))
      return fetch_document_end();
    if (c == '%') return fetch_directive();
  }
  directive_allowed_ = false;
  const int next = r_.peek_next();
  switch (c) {
    case '-':
      if (is_blankz(next)) return fetch_block_entry(after_entry);
      if (r_.column == 0 && r_.starts_with3("---") && is_blankz(r_.at(r_.pos + 3))) {
        fetch_document_start();
        return {};
      }
      break;
    case ':':
      if (is_blankz(next)) return fetch_value();
      break;
    case '?':
      if (is_blankz(next)) return fetch_explicit_key();
      break;
    case '!':
      return fetch_tag();
    case '&':
    case '*':
      return scan_anchor(c == '*');
    case '[':
    case '{':
      return fetch_flow_collection_start(c == '{');
    case ']':
    case '}':
      return fetch_flow_collection_end(c == '}');
    case '"':
      return scan_double_quoted();
    case '\'':
      return scan_single_quoted();
    case '|':
    case '>':
      return scan_block_scalar(c == '|');
    case ',':
      return scan_error("a plain scalar cannot start with ','", r_.span());
    case '#':
    case '@':
    case '`':
      return reject_node_start(c);
    default:
      break;
  }
  return scan_plain_scalar();
}

// A '#' glued to the text before it, or a reserved indicator, where a node
// would start.
Status Scanner::reject_node_start(int c) {
  if (c == '#') return scan_error("a comment must be preceded by whitespace", r_.span());
  return scan_error(
      std::string("'") + char(c) + "' is a reserved indicator and cannot start a plain scalar",
      r_.span());
}

// ---------------------------------------------------------------------------
// Block structure.

Status Scanner::document_start_collection_error(Span span) {
  return scan_error("a block collection cannot start on the same line as ---", span);
}

Status Scanner::open_block_collection(std::uint32_t column, Span span, TokenKind kind) {
  if (document_start_on_line_) return document_start_collection_error(span);
  if (static_cast<std::int64_t>(column) > indent_) {
    indents_.push_back(IndentLevel{indent_, indent_is_sequence_});
    indent_ = column;
    indent_is_sequence_ = kind == TokenKind::SequenceStart;
    push(kind, span, false);
    if (indents_.size() > limits::kMaxDepth) [[unlikely]]
      return stop_at_depth(span);
  }
  return {};
}

// Block collections open one per indentation step, so a deep text such as
// "- - - ... a" would otherwise hold every level and its tokens before the
// decoder rejects it. The tokens handed out end with this start token: the
// decoder meets its own depth limit at or before it, with the position it
// always reported.
Status Scanner::stop_at_depth(Span span) {
  depth_stopped_ = true;
  return scan_error(depth_exceeded_message(), span);
}

void Scanner::grow_tokens() {
  const std::size_t have = out_.size();
  const std::size_t scanned = std::max<std::size_t>(r_.pos - predict_from_pos_, 1);
  // Tokens per byte so far, applied to the whole text (or the rest of it,
  // when earlier documents' tokens are gone), with an eighth more for
  // variation; never less than doubling's worth of progress.
  const double per_byte =
      static_cast<double>(have - predict_from_token_) / static_cast<double>(scanned);
  const auto predicted =
      predict_from_token_ +
      static_cast<std::size_t>(per_byte * static_cast<double>(r_.len - predict_from_pos_) * 1.125);
  std::size_t want = predicted + 64;
  // A scan cut in batches needs room for a batch, not for the whole text.
  if (batch_limit_ != SIZE_MAX) want = std::min(want, batch_limit_ + batch_limit_ / 4 + 64);
  out_.reserve(std::max(want, have + have / 2 + 64));
  advise_huge_pages(out_.data(), out_.capacity() * sizeof(Token));
}

void Scanner::pop_indent() {
  if (indents_.empty()) {
    indent_ = -1;
    indent_is_sequence_ = false;
    return;
  }
  indent_ = indents_.back().indent;
  indent_is_sequence_ = indents_.back().is_sequence;
  indents_.pop_back();
}

void Scanner::unroll_indent(std::int64_t column) {
  if (in_flow()) return;
  while (indent_ > column) {
    push(TokenKind::BlockEnd, r_.span());
    pop_indent();
    indent_closed_ = true;
  }
}

// A sequence whose entries stand at its parent mapping's column ends at the
// first token there that is not another entry.
void Scanner::close_sequence_at_column(int c) {
  if (!indent_is_sequence_ || static_cast<std::int64_t>(r_.column) != indent_) return;
  if (c == '-' && is_blankz(r_.peek_next())) return;
  push(TokenKind::BlockEnd, r_.span());
  pop_indent();
}

void Scanner::save_simple_key() {
  if (!simple_key_allowed_ || simple_key_.state != SimpleKey::State::None) return;
  simple_key_.token_index = out_.size();
  simple_key_.column = r_.column;
  simple_key_.line = r_.line;
  simple_key_.state =
      tab_before_token_ ? SimpleKey::State::TabIndented : SimpleKey::State::Possible;
}

Status Scanner::drop_simple_key() {
  if (simple_key_.state == SimpleKey::State::None) return {};
  simple_key_.state = SimpleKey::State::None;
  // The property that saved this key did not start a key after all.
  if (held_property_error_) {
    ScanError error = std::move(*held_property_error_);
    held_property_error_.reset();
    return std::unexpected(std::move(error));
  }
  return {};
}

Status Scanner::fetch_value() {
  const Span colon = r_.span();
  if (!in_flow()) {
    const SimpleKey key = simple_key_;
    if (key.state != SimpleKey::State::None && key.line == r_.line) {
      simple_key_.state = SimpleKey::State::None;
      if (key.state == SimpleKey::State::TabIndented)
        return scan_error("a tab cannot be used for indentation", colon);
      held_property_error_.reset();  // the property did start this key
      const Span at = out_[key.token_index].span();
      const Token key_token(TokenKind::Key, at, at.offset);
      const auto where = out_.begin() + static_cast<std::ptrdiff_t>(key.token_index);
      if (static_cast<std::int64_t>(key.column) > indent_) {
        indents_.push_back(IndentLevel{indent_, indent_is_sequence_});
        indent_ = key.column;
        indent_is_sequence_ = false;
        const Token start(TokenKind::MappingStart, at, at.offset);
        const Token both[2] = {start, key_token};
        out_.insert(where, both, both + 2);
        if (indents_.size() > limits::kMaxDepth) [[unlikely]]
          return stop_at_depth(at);
      } else {
        out_.insert(where, key_token);
      }
    } else {
      OSV_TRY(drop_simple_key());
      OSV_TRY(roll_indent(colon.column, colon, TokenKind::MappingStart));
    }
  }
  r_.advance_ascii();
  if (r_.peek() == ' ') r_.advance_ascii();
  simple_key_allowed_ = true;
  flow_node_done_ = false;
  flow_explicit_key_ = false;
  if (!in_flow()) after_block_value_ = true;
  push(TokenKind::Value, colon);
  return {};
}

Status Scanner::fetch_explicit_key() {
  const Span at = r_.span();
  if (!in_flow()) {
    if (tab_before_token_) return scan_error("a tab cannot be used for indentation", at);
    OSV_TRY(roll_indent(at.column, at, TokenKind::MappingStart));
  }
  r_.advance_ascii();
  if (!in_flow() && r_.peek() == '\t')
    return scan_error("a tab cannot be used for indentation", r_.span());
  if (r_.peek() == ' ') r_.advance_ascii();
  simple_key_allowed_ = true;
  flow_node_done_ = false;
  if (in_flow()) flow_explicit_key_ = true;
  push(TokenKind::Key, at, true);
  return {};
}

Status Scanner::fetch_block_entry(bool after_entry) {
  const Span at = r_.span();
  if (tab_before_token_) return scan_error("a tab cannot be used for indentation", at);
  if (at.line == key_value_line_)
    return scan_error("a block sequence cannot start on the same line as its mapping key", at);
  if (at.line == property_line_)
    return scan_error("a block sequence entry cannot follow an anchor or tag on the same line", at);
  if (static_cast<std::int64_t>(at.column) > indent_ && indent_is_sequence_ && !after_entry &&
      indent_closed_)
    return scan_error("a sequence entry is indented past its sequence", at);
  OSV_TRY(roll_indent(at.column, at, TokenKind::SequenceStart));
  r_.advance_ascii();
  if (r_.peek() == ' ') r_.advance_ascii();
  simple_key_allowed_ = true;
  after_block_entry_ = true;
  push(TokenKind::SequenceEntry, at);
  return {};
}

void Scanner::fetch_document_start() {
  unroll_indent(-1);
  indent_ = -1;
  const Span at = r_.span();
  r_.skip3();
  simple_key_allowed_ = false;
  document_start_on_line_ = true;
  at_boundary_ = true;
  push(TokenKind::DocumentStart, at);
}

Status Scanner::fetch_document_end() {
  unroll_indent(-1);
  indent_ = -1;
  const Span at = r_.span();
  r_.skip3();
  const int c = r_.peek_nonblank().first;
  if (!(c == kNone || is_break(c) || c == '#'))
    return scan_error("unexpected content after document-end marker (...)", at);
  simple_key_allowed_ = false;
  directive_allowed_ = true;
  at_boundary_ = true;
  push(TokenKind::DocumentEnd, at);
  return {};
}

// ---------------------------------------------------------------------------
// Flow collections.

Status Scanner::fetch_flow_collection_start(bool mapping) {
  const Span at = r_.span();
  if (flow_level_ >= limits::kMaxDepth) return scan_error(depth_exceeded_message(), at);
  if (flow_level_ == 0) {
    flow_start_line_ = at.line;
    flow_block_indent_ = indent_;
    save_simple_key();
  }
  r_.advance_ascii();
  ++flow_level_;
  flow_stack_.push_back(mapping);
  simple_key_allowed_ = true;
  flow_entry_has_content_ = false;
  flow_node_done_ = false;
  flow_explicit_key_ = false;
  push(mapping ? TokenKind::MappingStart : TokenKind::SequenceStart, at, true);
  return {};
}

Status Scanner::fetch_flow_collection_end(bool mapping) {
  const Span at = r_.span();
  const char closer = mapping ? '}' : ']';
  if (flow_level_ == 0)
    return scan_error(std::string("unexpected '") + closer + "' with no open flow collection", at);
  r_.advance_ascii();
  --flow_level_;
  const bool opened_mapping = flow_stack_.back();
  flow_stack_.pop_back();
  if (opened_mapping != mapping)
    return scan_error(std::string("mismatched flow collection: '") + closer + "' cannot close a '" +
                          (mapping ? '[' : '{') + "'",
                      at);
  simple_key_allowed_ = false;
  flow_entry_has_content_ = true;
  flow_node_done_ = true;
  adjacent_value_allowed_ = true;
  last_flow_node_line_ = at.line;
  push(mapping ? TokenKind::MappingEnd : TokenKind::SequenceEnd, at);
  if (flow_level_ == 0) {
    // Adjacency only concerns the token right after the closer inside flow
    // context; it must not leak into the next top-level collection.
    adjacent_value_allowed_ = false;
    const int c = r_.peek_nonblank().first;
    if (c == kNone || is_break(c) || c == '#') return {};
    if (c == ':') {
      if (flow_start_line_ == at.line) return {};
      return scan_error("a multiline flow collection cannot be an implicit mapping key", at);
    }
    return scan_error("unexpected content after flow collection", r_.span());
  }
  return {};
}

Status Scanner::fetch_flow_entry() {
  const Span at = r_.span();
  if (!flow_entry_has_content_) return scan_error("empty flow entry (stray ',')", at);
  r_.advance_ascii();
  simple_key_allowed_ = true;
  flow_entry_has_content_ = false;
  flow_node_done_ = false;
  flow_explicit_key_ = false;
  push(TokenKind::FlowEntry, at);
  return {};
}

Status Scanner::check_flow_tab_at_column0() {
  const int c = r_.peek_nonblank().first;
  if (c == kNone || is_break(c) || is_flow_indicator(c)) return {};
  return scan_error("a tab cannot be used for indentation", r_.span());
}

// ---------------------------------------------------------------------------
// Node properties and directives.

Status Scanner::check_property_indent() {
  if (in_flow() || !after_block_value_ || static_cast<std::int64_t>(r_.column) > indent_) return {};
  ScanError error{"a node property must be indented past its mapping key", r_.span()};
  if (simple_key_allowed_ && simple_key_.state == SimpleKey::State::None) {
    // This property saves a key next; "a:\n&x b: 1" is fine when it does.
    held_property_error_ = std::move(error);
    return {};
  }
  if (held_property_error_) return {};
  return std::unexpected(std::move(error));
}

Status Scanner::scan_anchor(bool alias) {
  const Span at = r_.span();
  if (!alias) OSV_TRY(check_property_indent());
  if (!in_flow()) save_simple_key();
  r_.advance_ascii();
  const std::size_t from = r_.pos;
  const auto* s = reinterpret_cast<const unsigned char*>(r_.input);
  std::size_t p = from;
  while (p < r_.len && !kNameStop[s[p]]) ++p;
  r_.advance_bytes(p - from);
  if (r_.pos == from) return scan_error(alias ? "expected alias name" : "expected anchor name", at);
  simple_key_allowed_ = false;
  if (in_flow()) {
    if (alias) {
      flow_node_done_ = true;
      last_flow_node_line_ = at.line;
    }
  } else if (!alias) {
    property_line_ = r_.line;
  }
  push_text(alias ? TokenKind::Alias : TokenKind::Anchor, at,
            std::string_view(r_.input + from, r_.pos - from), at.offset);
  return {};
}

Status Scanner::fetch_tag() {
  const Span at = r_.span();
  OSV_TRY(check_property_indent());
  if (!in_flow()) {
    save_simple_key();
    property_line_ = r_.line;
  }
  r_.advance_ascii();
  const auto* s = reinterpret_cast<const unsigned char*>(r_.input);
  if (r_.peek() == '<') {
    r_.advance_ascii();
    const std::size_t from = r_.pos;
    while (r_.pos < r_.len) {
      const unsigned char c = s[r_.pos];
      if (c == '>' || c == ' ' || c == '\t' || c == '\n' || c == '\r') break;
      r_.advance_char();
    }
    if (r_.peek() != '>') return scan_error("unterminated verbatim tag: expected '>'", at);
    if (r_.pos == from) return scan_error("a verbatim tag must not be empty", at);
    r_.advance_ascii();
  } else {
    while (r_.pos < r_.len && !kTagStop[s[r_.pos]]) r_.advance_char();
  }
  simple_key_allowed_ = false;
  push_text(TokenKind::Tag, at, std::string_view(r_.input + at.offset, r_.pos - at.offset),
            at.offset);
  return {};
}

Status Scanner::fetch_directive() {
  const Span at = r_.span();
  if (!directive_allowed_)
    return scan_error("a directive must start the stream or follow a document-end marker (...)",
                      at);
  unroll_indent(-1);
  r_.advance_ascii();
  const char* from = r_.input + r_.pos;
  const char* end = find_break(from, r_.input + r_.len);
  r_.advance_bytes(static_cast<std::size_t>(end - from));
  simple_key_allowed_ = false;
  at_boundary_ = true;
  push_text(TokenKind::Directive, at, std::string_view(from, static_cast<std::size_t>(end - from)),
            at.offset);
  return {};
}

}  // namespace scanner_detail

namespace {

std::unexpected<ScanError> too_large(std::size_t size, std::uint32_t file_id) {
  return std::unexpected(ScanError{"input too large to scan: " + std::to_string(size) +
                                       " bytes (the limit is " +
                                       std::to_string(limits::kMaxScanInput) + ")",
                                   Span{0, file_id, 0, 0}});
}

}  // namespace

Result<TokenList, ScanError> scan_all_tokens(std::string_view text, const ScanOptions& options) {
  if (text.size() > limits::kMaxScanInput) return too_large(text.size(), options.file_id);
  TokenList list;
  scanner_detail::Scanner scanner(text, options, list);
  OSV_TRY(scanner.run());
  return list;
}

DocumentScanner::DocumentScanner(std::string_view text, const ScanOptions& options)
    : text_(text), file_id_(options.file_id) {
  if (text.size() <= limits::kMaxScanInput)
    scanner_ = std::make_unique<scanner_detail::Scanner>(text, options, list_);
}

DocumentScanner::~DocumentScanner() = default;

Result<void, ScanError> DocumentScanner::scan_next_document() { return scan(SIZE_MAX); }

Result<void, ScanError> DocumentScanner::scan_more(std::size_t consumed, std::size_t batch) {
  if (finished_) return {};
  if (started_ && consumed != 0) scanner_->drop_front(consumed);
  return scan(batch);
}

Result<void, ScanError> DocumentScanner::scan_batch(std::size_t consumed, std::size_t batch) {
  if (!at_boundary()) return scan_more(consumed, batch);
  discard_tokens();
  return scan_more(0, batch);
}

bool DocumentScanner::at_boundary() const noexcept {
  return finished_ || !scanner_ || scanner_->at_boundary();
}

Result<void, ScanError> DocumentScanner::scan(std::size_t batch) {
  if (finished_) return {};
  Result<void, ScanError> status;
  if (!started_) {
    started_ = true;
    if (!scanner_) {
      finished_ = true;
      return too_large(text_.size(), file_id_);
    }
    status = scanner_->start();
  }
  if (status) {
    scanner_->predict_from_here();
    const std::size_t held = list_.tokens.size();
    status = scanner_->scan_some(batch > SIZE_MAX - held ? SIZE_MAX : held + batch);
  }
  if (!status || scanner_->stream_ended()) finished_ = true;
  if (!status && scanner_->depth_stopped()) {
    depth_exceeded_ = std::move(status.error());
    return {};
  }
  return status;
}

void DocumentScanner::discard_tokens() noexcept {
  list_.tokens.clear();
  list_.comments.clear();
  list_.storage.reset();
}

}  // namespace ostrevane
