// Scalar scanners: plain, double-quoted, single-quoted and block scalars.
//
// Plain and quoted scalars decide themselves whether they are implicit keys
// (they look at the ':' after them), so the common "key: value" line never
// needs the saved-key machinery. Texts stay views into the input until a
// fold, an escape or a doubled quote forces a copy; copies are built in a
// reused scratch string and then stored once in the list's arena.
#include <charconv>
#include <cstring>
#include <limits>

#include "scanner/detail/scanner_impl.hpp"

namespace ostrevane::scanner_detail {

namespace {

// Where a run of ordinary plain-scalar text stops. The stop sets hold LF,
// CR, '#', ':' and every byte 0x80 and above (so the run's column advance is
// its byte length); flow context adds the flow indicators; once the text is
// owned, blanks stop the run too so they can be buffered as pending.
template <bool kFlow, bool kOwned>
const char* plain_run(const char* p, const char* end) noexcept {
  const auto stops = [](unsigned char c) {
    if (c >= 0x80 || c == '\n' || c == '\r' || c == '#' || c == ':') return true;
    if (kFlow && (c == ',' || c == '[' || c == ']' || c == '{' || c == '}')) return true;
    if (kOwned && (c == ' ' || c == '\t')) return true;
    return false;
  };
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('#')), _mm_cmpeq_epi8(v, _mm_set1_epi8(':'))));
    if constexpr (kFlow) {
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')),
                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('['))));
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(']')),
                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('{'))));
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8('}')));
    }
    if constexpr (kOwned) {
      hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))));
    }
    const int mask = _mm_movemask_epi8(_mm_or_si128(hit, v));  // v: the high bit
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
  while (p < end && !stops(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// First line break (LF or CR) or byte of `Stops` in [p, end): the end of an
// unquoted run inside a quoted scalar.
template <char... Stops>
const char* quoted_run(const char* p, const char* end) noexcept {
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                               _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Stops)))), ...);
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
  while (p < end && *p != '\n' && *p != '\r' && ((*p != Stops) && ...)) ++p;
  return p;
}

// First double quote, backslash, LF or CR in [p, end).
const char* double_quoted_run(const char* p, const char* end) noexcept {
  return quoted_run<'"', '\\'>(p, end);
}

// First single quote, LF or CR in [p, end).
const char* single_quoted_run(const char* p, const char* end) noexcept {
  return quoted_run<'\''>(p, end);
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string hex4(std::uint32_t cp) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, cp, 16).ptr;
  std::string out;
  for (auto n = end - digits; n < 4; ++n) out += '0';
  for (const char* p = digits; p != end; ++p) out += (*p >= 'a' && *p <= 'f') ? char(*p - 32) : *p;
  return out;
}

// Appends a run of quoted source text and moves `content_end` past its last
// non-blank character, so that a following line break can cut the blanks.
void push_scalar_text(std::string& text, std::size_t& content_end, const char* p, std::size_t n) {
  text.append(p, n);
  std::size_t trailing = 0;
  while (trailing < n && (p[n - 1 - trailing] == ' ' || p[n - 1 - trailing] == '\t')) ++trailing;
  if (trailing < n) content_end = text.size() - trailing;
}

}  // namespace

// ---------------------------------------------------------------------------
// Implicit keys found by the scalar scanners.

Status Scanner::push_implicit_key(std::string_view text, ScalarStyle style, Span start,
                                  std::uint64_t end_offset) {
  push(TokenKind::Key, start, false);
  push_text(TokenKind::Scalar, start, text, end_offset, style);
  if (!in_flow()) {
    key_value_line_ = r_.line;
    after_block_value_ = true;
  }
  const Span colon = r_.span();
  r_.advance_ascii();
  if (r_.peek() == ' ') r_.advance_ascii();
  push(TokenKind::Value, colon);
  flow_node_done_ = false;
  return {};
}

// ---------------------------------------------------------------------------
// Plain scalars.

Status Scanner::scan_plain_scalar() {
  return in_flow() ? scan_plain_scalar_in<true>() : scan_plain_scalar_in<false>();
}

template <bool flow>
Status Scanner::scan_plain_scalar_in() {
  const Span start = r_.span();
  const bool key_allowed_at_start = simple_key_allowed_;
  const bool tab_at_start = tab_before_token_;
  const char* in = r_.input;
  const char* end = in + r_.len;

  bool owned = false;
  bool after_blank = false;
  std::size_t content_end = start.offset;

  // One character judged to be content although it is a stop byte: a '#'
  // or ':' inside the text, or a non-ASCII character.
  const auto take_one = [&] {
    const std::size_t from = r_.pos;
    r_.advance_char();
    if (owned) {
      buf_ += pending_;
      pending_.clear();
      buf_.append(in + from, r_.pos - from);
    }
    content_end = r_.pos;
    after_blank = false;
  };

  // A line break inside the scalar: true when the scalar goes on.
  const auto fold = [&]() -> bool {
    r_.skip_break();
    std::uint32_t breaks = 0;
    int c;
    for (;;) {
      r_.skip_blanks();
      if (r_.at_end()) return false;
      c = r_.peek();
      if (!is_break(c)) break;
      ++breaks;
      r_.skip_break();
    }
    if (!flow) {
      if (static_cast<std::int64_t>(r_.column) <= indent_) return false;
      if (r_.column == 0 && (r_.starts_with3("---") || r_.starts_with3("...")) &&
          is_blankz(r_.peek_at3()))
        return false;
    }
    if (c == '#') return false;
    if ((c == ':' || c == '?') && is_blankz(r_.peek_next())) return false;
    if (flow && (c == '[' || c == '{')) return false;
    if (!owned) {
      owned = true;
      buf_.assign(in + start.offset, content_end - start.offset);
    }
    if (breaks == 0)
      pending_.assign(1, ' ');
    else
      pending_.assign(breaks, '\n');
    return true;
  };

  pending_.clear();
  while (r_.pos < r_.len) {
    const unsigned char c = static_cast<unsigned char>(in[r_.pos]);
    if (c == '#') {
      const bool ends = owned ? (!pending_.empty() && is_blank(pending_.back()))
                              : (content_end > start.offset && after_blank);
      if (ends) break;
      take_one();
      continue;
    }
    if (c == ':') {
      const int next = r_.peek_next();
      if (is_blankz(next) || (flow && is_flow_indicator(next))) break;
      take_one();
      continue;
    }
    if (flow && is_flow_indicator(c)) break;
    if (c == ' ' || c == '\t') {
      if (owned) pending_ += static_cast<char>(c);
      r_.advance_ascii();
      after_blank = true;
      continue;
    }
    if (c == '\n' || c == '\r') {
      if (!fold()) break;
      continue;
    }
    const char* from = in + r_.pos;
    const char* stop = owned ? plain_run<flow, true>(from, end) : plain_run<flow, false>(from, end);
    if (stop == from) {
      take_one();
      continue;
    }
    const auto n = static_cast<std::size_t>(stop - from);
    r_.pos += n;
    r_.column += static_cast<std::uint32_t>(n);  // the run is ASCII
    if (owned) {
      buf_ += pending_;
      pending_.clear();
      buf_.append(from, n);
      content_end = r_.pos;
      after_blank = false;
    } else {
      const char* last = stop;
      while (last[-1] == ' ' || last[-1] == '\t') --last;  // the run began non-blank
      content_end = static_cast<std::size_t>(last - in);
      after_blank = last != stop;
    }
  }

  const std::string_view text =
      owned ? keep(buf_) : std::string_view(in + start.offset, content_end - start.offset);
  const bool multi_line = r_.line > start.line;
  simple_key_allowed_ = multi_line && !flow;
  if (!flow && simple_key_.state != SimpleKey::State::None && simple_key_.line != r_.line)
    OSV_TRY(drop_simple_key());

  const int at = r_.peek();
  const int next = at == ':' ? r_.peek_next() : kNone;
  if (key_allowed_at_start && !(flow && flow_explicit_key_) && at == ':') {
    bool key = true;
    if (multi_line && !flow && r_.column < start.column)
      key = false;
    else if (!is_blankz(next) && !(flow && is_flow_indicator(next)))
      key = false;
    if (key) {
      if (!flow) {
        if (multi_line)
          return scan_error("an implicit mapping key cannot span multiple lines", start);
        if (tab_at_start) return scan_error("a tab cannot be used for indentation", start);
        OSV_TRY(roll_indent(start.column, start, TokenKind::MappingStart));
      } else if (multi_line && !flow_stack_.back()) {
        return scan_error("the implicit key of a flow sequence pair must be on one line", start);
      }
      return push_implicit_key(text, ScalarStyle::Plain, start, content_end);
    }
  }
  // On the "---" line a scalar followed by ': ' would open a block mapping,
  // which fetch_value refuses at the ':'; the error belongs where the
  // mapping would start, as for "--- - a".
  if (!flow && !multi_line && document_start_on_line_ && at == ':' && is_blankz(next))
    return document_start_collection_error(start);
  if (flow && multi_line && !flow_explicit_key_ && at == ':' &&
      (is_blankz(next) || is_flow_indicator(next)))
    return scan_error("missing ',' between flow collection entries", start);
  push_text(TokenKind::Scalar, start, text, content_end, ScalarStyle::Plain);
  if (flow) {
    flow_node_done_ = true;
    last_flow_node_line_ = start.line;
  }
  return {};
}

// ---------------------------------------------------------------------------
// Quoted scalars.

Status Scanner::fold_quoted_line_break(std::int64_t block_indent) {
  std::uint32_t breaks = 0;
  for (;;) {
    r_.skip_break();
    if (r_.at_end()) break;
    r_.skip_spaces();
    if (r_.at_end()) break;
    const int c = r_.peek();
    if (c == '\t') {
      if (!is_break(r_.peek_nonblank().first)) break;
      r_.skip_blanks();
      ++breaks;
      continue;
    }
    if (!is_break(c)) break;
    ++breaks;
  }
  if (!r_.at_end() && !is_break(r_.peek()) && static_cast<std::int64_t>(r_.column) <= block_indent)
    return scan_error("a multi-line quoted scalar must be indented past its block context",
                      r_.span());
  r_.skip_blanks();
  if (breaks == 0)
    buf_ += ' ';
  else
    buf_.append(breaks, '\n');
  return {};
}

namespace {

// The value of one hexadecimal digit, or -1.
int hex_digit(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Result<std::uint32_t, ScanError> Scanner::hex_escape(int digits, Span start) {
  std::uint32_t value = 0;
  for (int i = 0; i < digits; ++i) {
    if (r_.at_end()) return scan_error("incomplete unicode escape", start);
    const unsigned char c = static_cast<unsigned char>(r_.input[r_.pos]);
    const int digit = hex_digit(c);
    if (digit < 0)
      return scan_error("invalid hex digit in unicode escape: '" +
                            std::string(r_.input + r_.pos, utf8_length(c)) + "'",
                        r_.span());
    value = value * 16 + static_cast<std::uint32_t>(digit);
    r_.advance_ascii();
  }
  // JSON writes a character beyond U+FFFF as a "\u" escape of a high
  // surrogate followed at once by one of a low surrogate: such a pair is that
  // one character. Any other surrogate is no character at all.
  if (digits == 4 && value >= 0xD800 && value <= 0xDBFF) {
    if (const std::optional<std::uint32_t> low = low_surrogate_escape()) {
      for (int i = 0; i < 6; ++i) r_.advance_ascii();
      return 0x10000 + ((value - 0xD800) << 10) + (*low - 0xDC00);
    }
  }
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return scan_error("invalid unicode code point: U+" + hex4(value), start);
  return value;
}

// The low surrogate of a "\u" escape at the reader (not consumed), or
// nothing when the next six bytes are not one.
std::optional<std::uint32_t> Scanner::low_surrogate_escape() const noexcept {
  if (r_.len - r_.pos < 6) return std::nullopt;
  const char* p = r_.input + r_.pos;
  if (p[0] != '\\' || p[1] != 'u') return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 2; i < 6; ++i) {
    const int digit = hex_digit(static_cast<unsigned char>(p[i]));
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  if (value < 0xDC00 || value > 0xDFFF) return std::nullopt;
  return value;
}

Status Scanner::scan_double_quoted() {
  const Span start = r_.span();
  const bool key_allowed_at_start = simple_key_allowed_;
  const bool tab_at_start = tab_before_token_;
  const std::int64_t block_indent = in_flow() ? std::numeric_limits<std::int64_t>::min() : indent_;
  r_.advance_ascii();
  const char* in = r_.input;
  const char* end = in + r_.len;
  bool owned = false;
  std::size_t content_end = 0;
  std::size_t run_start = r_.pos;

  for (;;) {
    const char* from = in + r_.pos;
    const char* stop = double_quoted_run(from, end);
    r_.advance_bytes(static_cast<std::size_t>(stop - from));
    if (r_.at_end()) return scan_error("unterminated double-quoted scalar", start);
    const char c = *stop;
    if (c == '"') {
      std::string_view text;
      if (owned) {
        buf_.append(in + run_start, r_.pos - run_start);
        text = keep(buf_);
      } else {
        text = std::string_view(in + run_start, r_.pos - run_start);
      }
      r_.advance_ascii();
      return check_after_quoted_scalar(text, ScalarStyle::DoubleQuoted, start, key_allowed_at_start,
                                       tab_at_start);
    }
    if (!owned) {
      owned = true;
      buf_.clear();
      content_end = 0;
    }
    push_scalar_text(buf_, content_end, in + run_start, r_.pos - run_start);
    if (c == '\n' || c == '\r') {
      buf_.resize(content_end);
      OSV_TRY(fold_quoted_line_break(block_indent));
      if (r_.at_document_marker())
        return scan_error("a document marker cannot appear inside a quoted scalar", start);
      run_start = r_.pos;
      continue;
    }
    // A backslash escape.
    r_.advance_ascii();
    if (r_.at_end()) return scan_error("unterminated escape sequence", start);
    const unsigned char e = static_cast<unsigned char>(in[r_.pos]);
    char simple = 0;
    int digits = 0;
    switch (e) {
      case '0':
        simple = '\0';
        break;
      case 'a':
        simple = '\a';
        break;
      case 'b':
        simple = '\b';
        break;
      case 't':
      case '\t':
        simple = '\t';
        break;
      case 'n':
        simple = '\n';
        break;
      case 'v':
        simple = '\v';
        break;
      case 'f':
        simple = '\f';
        break;
      case 'r':
        simple = '\r';
        break;
      case 'e':
        simple = '\x1B';
        break;
      case ' ':
        simple = ' ';
        break;
      case '"':
        simple = '"';
        break;
      case '/':
        simple = '/';
        break;
      case '\\':
        simple = '\\';
        break;
      case 'x':
        digits = 2;
        break;
      case 'u':
        digits = 4;
        break;
      case 'U':
        digits = 8;
        break;
      case 'N':
      case '_':
      case 'L':
      case 'P':
      case '\n':
      case '\r':
        break;
      default:
        return scan_error(
            "unknown escape character: '\\" + std::string(in + r_.pos, utf8_length(e)) + "'",
            r_.span());
    }
    if (digits != 0) {
      r_.advance_ascii();
      const std::uint32_t cp = OSV_TRY(hex_escape(digits, start));
      append_utf8(buf_, cp);
    } else if (e == 'N' || e == '_' || e == 'L' || e == 'P') {
      r_.advance_ascii();
      append_utf8(buf_, e == 'N' ? 0x85 : e == '_' ? 0xA0 : e == 'L' ? 0x2028 : 0x2029);
    } else if (e == '\n' || e == '\r') {
      // An escaped line break joins the lines without a fold.
      r_.skip_break();
      r_.skip_spaces();
      while (is_break(r_.peek())) {
        buf_ += '\n';
        r_.skip_break();
        r_.skip_spaces();
      }
      if (r_.at_document_marker())
        return scan_error("a document marker cannot appear inside a quoted scalar", start);
    } else {
      r_.advance_ascii();
      buf_ += simple;
    }
    content_end = buf_.size();
    run_start = r_.pos;
  }
}

Status Scanner::scan_single_quoted() {
  const Span start = r_.span();
  const bool key_allowed_at_start = simple_key_allowed_;
  const bool tab_at_start = tab_before_token_;
  const std::int64_t block_indent = in_flow() ? std::numeric_limits<std::int64_t>::min() : indent_;
  r_.advance_ascii();
  const char* in = r_.input;
  const char* end = in + r_.len;
  bool owned = false;
  std::size_t run_start = r_.pos;

  for (;;) {
    const char* from = in + r_.pos;
    const char* stop = single_quoted_run(from, end);
    r_.advance_bytes(static_cast<std::size_t>(stop - from));
    if (r_.at_end()) return scan_error("unterminated single-quoted scalar", start);
    if (*stop == '\'') {
      const std::size_t run_end = r_.pos;
      r_.advance_ascii();
      if (r_.peek() == '\'') {
        if (!owned) {
          owned = true;
          buf_.clear();
        }
        buf_.append(in + run_start, run_end - run_start);
        buf_ += '\'';
        r_.advance_ascii();
        run_start = r_.pos;
        continue;
      }
      std::string_view text;
      if (owned) {
        buf_.append(in + run_start, run_end - run_start);
        text = keep(buf_);
      } else {
        text = std::string_view(in + run_start, run_end - run_start);
      }
      return check_after_quoted_scalar(text, ScalarStyle::SingleQuoted, start, key_allowed_at_start,
                                       tab_at_start);
    }
    if (!owned) {
      owned = true;
      buf_.clear();
    }
    buf_.append(in + run_start, r_.pos - run_start);
    while (!buf_.empty() && (buf_.back() == ' ' || buf_.back() == '\t')) buf_.pop_back();
    OSV_TRY(fold_quoted_line_break(block_indent));
    if (r_.at_document_marker())
      return scan_error("a document marker cannot appear inside a quoted scalar", start);
    run_start = r_.pos;
  }
}

Status Scanner::check_after_quoted_scalar(std::string_view text, ScalarStyle style, Span start,
                                          bool key_allowed_at_start, bool tab_at_start) {
  const std::uint64_t end_offset = r_.pos;
  const bool flow = in_flow();
  simple_key_allowed_ = false;
  if (key_allowed_at_start && !(flow && flow_explicit_key_)) {
    const std::size_t saved_pos = r_.pos;
    const std::uint32_t saved_column = r_.column;
    r_.skip_spaces();
    if (r_.peek() == ':') {
      const int next = r_.peek_next();
      if (is_blankz(next) || (flow && is_flow_indicator(next))) {
        if (!flow) {
          if (r_.line != start.line)
            return scan_error("an implicit mapping key cannot span multiple lines", start);
          if (tab_at_start) return scan_error("a tab cannot be used for indentation", start);
          OSV_TRY(roll_indent(start.column, start, TokenKind::MappingStart));
        }
        return push_implicit_key(text, style, start, end_offset);
      }
    }
    r_.pos = saved_pos;
    r_.column = saved_column;
  } else if (!flow && document_start_on_line_ && r_.line == start.line) {
    // As for plain scalars: a key on the "---" line fails at its start.
    const std::size_t saved_pos = r_.pos;
    const std::uint32_t saved_column = r_.column;
    r_.skip_spaces();
    if (r_.peek() == ':' && is_blankz(r_.peek_next()))
      return document_start_collection_error(start);
    r_.pos = saved_pos;
    r_.column = saved_column;
  }
  if (!flow) {
    const int c = r_.peek_nonblank().first;
    if (!(c == kNone || is_break(c) || c == '#' || c == ':'))
      return scan_error("unexpected content after quoted scalar", r_.span());
  }
  push_text(TokenKind::Scalar, start, text, end_offset, style);
  if (flow) {
    flow_node_done_ = true;
    adjacent_value_allowed_ = true;
    last_flow_node_line_ = start.line;
  }
  return {};
}

// ---------------------------------------------------------------------------
// Block scalars.

namespace {
// Texts this long reserve their whole extent (see block_scalar_extent).
constexpr std::size_t kLargeBlockScalar = std::size_t{1} << 20;
}  // namespace

// Bytes from `pos` up to the first line with content indented less than
// `indent`: a bound of what the block scalar's lines from `pos` on add to
// its text (each source byte adds at most one; indentation adds none).
std::size_t Scanner::block_scalar_extent(std::size_t pos, std::uint32_t indent) const noexcept {
  const char* in = r_.input;
  const std::size_t n = r_.len;
  std::size_t p = pos;
  while (p < n) {
    const std::size_t spaces = count_spaces(in + p, in + n);
    const std::size_t q = p + spaces;
    if (q < n && !is_break(static_cast<unsigned char>(in[q])) && spaces < indent) break;
    p = static_cast<std::size_t>(find_break(in + q, in + n) - in);
    if (p < n) p += (in[p] == '\r' && p + 1 < n && in[p + 1] == '\n') ? 2 : 1;
  }
  return p - pos;
}

Status Scanner::scan_block_scalar(bool literal) {
  const Span start = r_.span();
  const char* in = r_.input;
  r_.advance_ascii();

  enum class Chomping { Strip, Clip, Keep } chomping = Chomping::Clip;
  bool have_chomping = false;
  std::uint32_t indicator = 0;
  for (;;) {
    const int c = r_.peek();
    if (c == '+' || c == '-') {
      if (have_chomping) break;
      have_chomping = true;
      chomping = c == '+' ? Chomping::Keep : Chomping::Strip;
    } else if (c >= '1' && c <= '9') {
      if (indicator != 0) break;
      indicator = static_cast<std::uint32_t>(c - '0');
    } else {
      break;
    }
    r_.advance_ascii();
  }
  r_.skip_blanks();
  if (r_.peek() == '#') {
    const char before = in[r_.pos - 1];
    if (before != ' ' && before != '\t')
      return scan_error("a comment must be preceded by whitespace", r_.span());
    // Collected like every other comment: the round-trip tree keeps it.
    scan_comment();
  } else if (!r_.at_end() && !is_break(r_.peek())) {
    return scan_error("unexpected content after block scalar indicator", r_.span());
  }
  r_.skip_break();

  std::int64_t content_indent = 0;
  bool empty = false;
  if (indicator != 0) {
    content_indent = indent_ > 0 ? indicator + indent_ : indicator;
  } else {
    // Detect the indentation from the first line with content, without
    // consuming anything.
    std::size_t p = r_.pos;
    std::size_t widest_empty = 0;
    std::size_t first = 0;
    bool found = false;
    bool marker = false;
    while (p < r_.len) {
      std::size_t q = p;
      q += count_spaces(in + q, in + r_.len);
      if (q < r_.len && is_break(static_cast<unsigned char>(in[q]))) {
        widest_empty = std::max(widest_empty, q - p);
        p = q + ((in[q] == '\r' && q + 1 < r_.len && in[q + 1] == '\n') ? 2 : 1);
        continue;
      }
      if (q < r_.len) {
        found = true;
        first = q - p;
        marker = first == 0 && r_.len - q >= 3 &&
                 (std::memcmp(in + q, "---", 3) == 0 || std::memcmp(in + q, "...", 3) == 0) &&
                 is_blankz(r_.at(q + 3));
      }
      break;
    }
    if (indent_ < 0 && (!found || marker)) {
      // Only blank lines before the end of the text or the next document:
      // the scalar is empty however far those lines are indented.
      empty = true;
    } else if (static_cast<std::int64_t>(first) > indent_) {
      if (widest_empty > first)
        return scan_error(
            "a leading empty line in a block scalar is indented more than the content", start);
      content_indent = static_cast<std::int64_t>(first);
    } else {
      empty = true;
    }
  }

  std::string& text = buf_;
  text.clear();
  if (empty) {
    std::uint32_t blank_lines = 0;
    for (;;) {
      const std::size_t line_start = r_.pos;
      const std::uint32_t line_column = r_.column;
      r_.skip_spaces();
      const int c = r_.peek();
      if (c == '\t') return scan_error("a tab cannot be used for indentation", r_.span());
      if (is_break(c)) {
        r_.skip_break();
        ++blank_lines;
        continue;
      }
      if (c == kNone) {
        if (r_.pos > line_start) ++blank_lines;
        break;
      }
      r_.pos = line_start;
      r_.column = line_column;
      break;
    }
    if (chomping == Chomping::Keep) text.append(blank_lines, '\n');
  } else {
    const auto limit = static_cast<std::uint32_t>(content_indent);
    std::uint32_t breaks = r_.skip_indent_and_breaks(limit);
    std::uint32_t trailing = breaks;
    if (r_.column == limit && !r_.at_end()) {
      bool reserved = false;
      for (;;) {
        if (r_.at_document_marker()) break;
        if (!reserved && text.size() >= kLargeBlockScalar) [[unlikely]] {
          // A large scalar grows by doubling from here on, copying itself
          // and faulting in fresh pages each time: reserve what its lines
          // can add, once.
          reserved = true;
          text.reserve(text.size() + breaks + block_scalar_extent(r_.pos, limit) + 1);
        }
        text.append(breaks, '\n');
        const bool more_indented = is_blank(r_.peek());
        const char* from = in + r_.pos;
        const char* eol = find_break(from, in + r_.len);
        text.append(from, static_cast<std::size_t>(eol - from));
        r_.advance_bytes(static_cast<std::size_t>(eol - from));
        const bool had_break = !r_.at_end();
        r_.skip_break();
        breaks = r_.skip_indent_and_breaks(limit);
        if (r_.column == limit && !r_.at_end() && !r_.at_document_marker()) {
          if (literal || more_indented || is_blank(r_.peek()))
            text += '\n';
          else if (breaks == 0)
            text += ' ';
          continue;
        }
        trailing = breaks + (had_break ? 1 : 0);
        break;
      }
    }
    if (chomping == Chomping::Clip && !text.empty())
      text += '\n';
    else if (chomping == Chomping::Keep)
      text.append(trailing, '\n');
  }

  simple_key_allowed_ = true;
  OSV_TRY(drop_simple_key());
  const std::string_view kept =
      text.size() >= TextArena::kAdoptMin ? list_.storage.adopt(std::move(text)) : keep(text);
  push_text(TokenKind::Scalar, start, kept, r_.pos,
            literal ? ScalarStyle::Literal : ScalarStyle::Folded);
  return {};
}

}  // namespace ostrevane::scanner_detail
