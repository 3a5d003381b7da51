#include "emit_util/scalar_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "emit_util/detail/float_text.hpp"
#include "emit_util/detail/swar.hpp"
#include "emit_util/detail/unprintable.hpp"
#include "util/limits.hpp"

namespace ostrevane {

using detail::may_start_unquotable;
using detail::unicode_break_at;
using detail::unprintable_at;
using detail::unquotable_at;

namespace {

inline unsigned char byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<unsigned char>(text[i]);
}

constexpr char kHex[] = "0123456789abcdef";

std::size_t count_trailing_lfs(std::string_view text) noexcept {
  std::size_t n = 0;
  while (n < text.size() && text[text.size() - 1 - n] == '\n') ++n;
  return n;
}

}  // namespace

std::string format_float(double value) {
  char buf[kFloatRoom];
  return std::string(buf, detail::format_float_into(buf, value));
}

void append_float(OutputBuffer& out, double value) {
  out.commit(detail::format_float_into(out.tail(kFloatRoom), value));
}

std::size_t put_float(char* room, double value) noexcept { return detail::format_float_into(room, value); }

std::size_t find_unprintable(std::string_view text) noexcept {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (may_start_unquotable(byte_at(text, i)) && unquotable_at(text, i) != 0) return i;
  }
  return std::string_view::npos;
}

bool is_single_line_printable(std::string_view text) noexcept {
  return find_unprintable(text) == std::string_view::npos;
}

bool suits_literal_block(std::string_view text) noexcept {
  return text.find('\n') != std::string_view::npos && reads_back_from_block(text);
}

bool reads_back_from_block(std::string_view text) noexcept {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Words of printable ASCII, the bulk of block text, are passed whole.
    while (i + 8 <= text.size()) {
      const std::uint64_t w = detail::load_word(b + i);
      if (detail::has_byte_below(w, 0x20) || detail::has_byte(w, 0x7F) || (w & detail::kHighs)) {
        break;
      }
      i += 8;
    }
    if (i >= text.size()) break;
    const unsigned char c = byte_at(text, i);
    if (c == '\t' || c == '\n') continue;
    if (may_start_unquotable(c) && unquotable_at(text, i) != 0) return false;
  }
  const std::size_t first = text.find_first_not_of('\n');
  return first == std::string_view::npos || (text[first] != ' ' && text[first] != '\t');
}

void append_escaped_double_quoted(OutputBuffer& out, std::string_view text) {
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte_at(text, i);
    const bool special =
        c < 0x20 || c == '"' || c == '\\' || c == 0x7F || c == 0xC2 || c == 0xE2 || c == 0xEF;
    if (!special) {
      ++i;
      continue;
    }
    char esc[6];
    std::size_t esc_len = 0;
    std::size_t consumed = 1;
    switch (c) {
      case 0x00:
        esc[0] = '\\', esc[1] = '0', esc_len = 2;
        break;
      case '\t':
        esc[0] = '\\', esc[1] = 't', esc_len = 2;
        break;
      case '\n':
        esc[0] = '\\', esc[1] = 'n', esc_len = 2;
        break;
      case '\r':
        esc[0] = '\\', esc[1] = 'r', esc_len = 2;
        break;
      case '"':
        esc[0] = '\\', esc[1] = '"', esc_len = 2;
        break;
      case '\\':
        esc[0] = '\\', esc[1] = '\\', esc_len = 2;
        break;
      default: {
        // NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR: their own escapes, which
        // every reader takes back as the character.
        if (const std::size_t brk = unicode_break_at(text, i); brk != 0) {
          esc[0] = '\\';
          esc[1] = brk == 2 ? 'N' : byte_at(text, i + 2) == 0xA8 ? 'L' : 'P';
          esc_len = 2;
          consumed = brk;
          break;
        }
        const std::size_t len = unprintable_at(text, i);
        if (len == 0) break;  // a printable character that starts with C2, E2 or EF
        consumed = len;
        if (len == 3) {
          // U+FFFE, U+FFFF
          esc[0] = '\\', esc[1] = 'u', esc[2] = 'f', esc[3] = 'f', esc[4] = 'f';
          esc[5] = (byte_at(text, i + 2) == 0xBE) ? 'e' : 'f';
          esc_len = 6;
        } else {
          const unsigned code = len == 1 ? c : byte_at(text, i + 1);
          esc[0] = '\\', esc[1] = 'x', esc[2] = kHex[code >> 4], esc[3] = kHex[code & 15];
          esc_len = 4;
        }
      }
    }
    if (esc_len == 0) {
      ++i;
      continue;
    }
    out.append(text.data() + run, i - run);
    out.append(esc, esc_len);
    i += consumed;
    run = i;
  }
  out.append(text.data() + run, text.size() - run);
}

std::string escape_double_quoted(std::string_view text) {
  OutputBuffer out(text.size() + 16);
  append_escaped_double_quoted(out, text);
  return std::string(out.view());
}

void write_double_quoted(OutputBuffer& out, std::string_view text) {
  out.push_back('"');
  append_escaped_double_quoted(out, text);
  out.push_back('"');
}

void append_single_quote_doubled(OutputBuffer& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t q = text.find('\''); q != std::string_view::npos; q = text.find('\'', q + 1)) {
    out.append(text.data() + run, q + 1 - run);
    out.push_back('\'');
    run = q + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

void write_single_quoted(OutputBuffer& out, std::string_view text) {
  out.push_back('\'');
  append_single_quote_doubled(out, text);
  out.push_back('\'');
}

std::size_t current_column(const OutputBuffer& out) noexcept {
  if (out.size() == 0) return 0;  // data() may still be null
  const void* lf = memrchr(out.data(), '\n', out.size());
  if (lf == nullptr) return out.size();
  return out.size() - (static_cast<const char*>(lf) - out.data()) - 1;
}

void fold_text(OutputBuffer& out, std::string_view text, std::size_t indent, std::size_t width) {
  if (text.empty()) return;
  const std::size_t len = text.size();
  // Fold points: a single space with a non-space on both sides.
  auto next_fold_point = [&](std::size_t from) {
    for (std::size_t j = text.find(' ', from < 1 ? 1 : from);
         j != std::string_view::npos && j + 1 < len; j = text.find(' ', j + 1)) {
      if (text[j - 1] != ' ' && text[j + 1] != ' ') return j;
    }
    return len;
  };
  std::size_t col = current_column(out);
  std::size_t s = 0;
  for (std::size_t j = next_fold_point(1); j < len;) {
    out.append(text.data() + s, j - s);
    const std::size_t k = next_fold_point(j + 1);
    if (col + (k - s) > width) {
      out.push_back('\n');
      append_spaces(out, indent);
      col = indent;
    } else {
      out.push_back(' ');
      col += (j - s) + 1;
    }
    s = j + 1;
    j = k;
  }
  out.append(text.data() + s, len - s);
}

void write_folded_quoted(OutputBuffer& out, std::string_view text, bool single, std::size_t column,
                         std::size_t width) {
  const std::size_t indent = column == 0 ? 1 : column;
  if (single) {
    out.push_back('\'');
    if (text.find('\'') == std::string_view::npos) {
      fold_text(out, text, indent, width);
    } else {
      OutputBuffer doubled(text.size() + 8);
      append_single_quote_doubled(doubled, text);
      fold_text(out, doubled.view(), indent, width);
    }
    out.push_back('\'');
    return;
  }
  OutputBuffer escaped(text.size() + 16);
  append_escaped_double_quoted(escaped, text);
  out.push_back('"');
  fold_text(out, escaped.view(), indent, width);
  out.push_back('"');
}

bool block_header_keeps(std::string_view text) noexcept {
  const std::size_t n = count_trailing_lfs(text);
  return n != 0 && (n >= 2 || n == text.size());
}

bool fits_implicit_key(std::size_t written) noexcept {
  return written <= limits::kMaxImplicitKeyBytes;
}

void write_block_header(OutputBuffer& out, std::string_view text, char indicator) {
  out.push_back(indicator);
  if (count_trailing_lfs(text) == 0) {
    out.push_back('-');
  } else if (block_header_keeps(text)) {
    out.push_back('+');
  }
}

void write_literal_body(OutputBuffer& out, std::string_view text, std::size_t indent) {
  const std::size_t n = count_trailing_lfs(text);
  const std::string_view rest = text.substr(0, text.size() - n);
  out.push_back('\n');
  std::size_t start = 0;
  while (true) {
    const std::size_t lf = rest.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? rest.size() : lf;
    if (end > start) {
      append_spaces(out, indent);
      out.append(rest.data() + start, end - start);
    }
    out.push_back('\n');
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  if (n >= 2) out.append(n - 1, '\n');
}

bool has_two_digits(std::string_view text, std::size_t pos) noexcept {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return pos + 1 < text.size() && digit(text[pos]) && digit(text[pos + 1]);
}

DigitSkip skip_one_or_two_digits(std::string_view text, std::size_t pos) noexcept {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (pos >= text.size() || !digit(text[pos])) return {false, pos};
  ++pos;
  if (pos < text.size() && digit(text[pos])) ++pos;
  return {true, pos};
}

}  // namespace ostrevane
