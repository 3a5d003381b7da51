#include "emit_util/scalar_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "emit_util/detail/shortest_digits.hpp"
#include "emit_util/detail/swar.hpp"
#include "emit_util/detail/unprintable.hpp"
#include "util/limits.hpp"

namespace ostrevane {

using detail::may_start_unquotable;
using detail::unicode_break_at;
using detail::unprintable_at;
using detail::unquotable_at;

namespace {

// Longest format_float result: sign, 17 digits, point, "e-", 3 exponent
// digits, plus the positional forms (at most 16 integer digits + ".0" or
// "0.000" + 17 digits). format_float_into may write further: up to 24
// bytes of digits after at most 17 (a sign, 16 digits, a point).
constexpr std::size_t kFloatBufferSize = kFloatRoom;
static_assert(1 + 16 + 1 + 24 <= kFloatBufferSize);

// "00" to "99".
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Decimal digits of f (at most 17, so below 10^17).
int digit_count(std::uint64_t f) noexcept {
  static constexpr std::uint64_t kPowers[] = {
      1ULL,
      10ULL,
      100ULL,
      1000ULL,
      10000ULL,
      100000ULL,
      1000000ULL,
      10000000ULL,
      100000000ULL,
      1000000000ULL,
      10000000000ULL,
      100000000000ULL,
      1000000000000ULL,
      10000000000000ULL,
      100000000000000ULL,
      1000000000000000ULL,
      10000000000000000ULL,
      100000000000000000ULL,
  };
  // log10 from the bit length (1233/4096 ~ log10 2), one step short at most.
  const int guess = (std::bit_width(f) * 1233) >> 12;
  return guess + (f >= kPowers[guess] ? 1 : 0);
}

// The eight digits of v (below 10^8, zeros in front) as ASCII in one word,
// the first digit in the lowest byte: each step divides every lane at once
// (two lanes of 4 digits by 100, four lanes of 2 digits by 10, by
// multiplying with a reciprocal that is exact in that range).
inline std::uint64_t eight_digits(std::uint32_t v) noexcept {
  const std::uint64_t merged = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t top = ((merged * 10486) >> 20) & 0x0000007F0000007FULL;
  const std::uint64_t bottom = merged - 100 * top;
  const std::uint64_t pairs = (bottom << 16) + top;
  std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000FULL;
  tens += (pairs - 10 * tens) << 8;
  return tens | 0x3030303030303030ULL;
}

// Room for the 17 digits of a significand at the end of 24 bytes, and for
// the fixed-size copies that read past them.
constexpr std::size_t kDigitBlock = 24;
constexpr std::size_t kDigitRoom = 48;

// The 17 digits of f (below 10^17, zeros in front) at digits[7..23].
inline void write_digit_block(char* digits, std::uint64_t f) noexcept {
  const std::uint64_t high = f / 100'000'000;
  const std::uint64_t words[3] = {
      eight_digits(static_cast<std::uint32_t>(high / 100'000'000)),
      eight_digits(static_cast<std::uint32_t>(high % 100'000'000)),
      eight_digits(static_cast<std::uint32_t>(f % 100'000'000))};
  std::memcpy(digits, words, sizeof words);
}

std::size_t format_float_into(char* buf, double value) noexcept {
  char* p = buf;
  if (std::isnan(value)) {
    std::memcpy(p, ".nan", 4);
    return 4;
  }
  if (std::isinf(value)) {
    if (value < 0) *p++ = '-';
    std::memcpy(p, ".inf", 4);
    return static_cast<std::size_t>(p - buf) + 4;
  }
  if (std::signbit(value)) *p++ = '-';
  if (value == 0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p - buf) + 3;
  }
  // The shortest digits, made once and copied to their final place:
  // positional for decimal exponents -4..15, else "d.ddde+XX". The copies
  // have fixed sizes (plain moves, no library calls); the buffer has room
  // for what they write past the text.
  const detail::ShortestDigits d = detail::shortest_digits(value);
  const int n = digit_count(d.significand);
  const int exp = d.exponent + n - 1;  // of the first digit
  char block[kDigitRoom];
  write_digit_block(block, d.significand);
  const char* digits = block + kDigitBlock - n;
  if (exp >= 0 && exp <= 15) {
    if (d.exponent >= 0) {
      // A whole number: its digits, the zeros, ".0".
      std::memcpy(p, digits, 16);
      p += n;
      std::memset(p, '0', 16);
      p += d.exponent;
      std::memcpy(p, ".0", 2);
      return static_cast<std::size_t>(p - buf) + 2;
    }
    // Digits on both sides of the point.
    const int whole = exp + 1;
    std::memcpy(p, digits, 16);
    p[whole] = '.';
    std::memcpy(p + whole + 1, digits + whole, kDigitBlock);
    return static_cast<std::size_t>(p - buf) + static_cast<std::size_t>(n) + 1;
  }
  if (exp < 0 && exp >= -4) {
    // "0.", the zeros after the point, the digits.
    std::memcpy(p, "0.000000", 8);
    p += 1 - exp;
    std::memcpy(p, digits, kDigitBlock);
    return static_cast<std::size_t>(p - buf) + static_cast<std::size_t>(n);
  }
  // The first digit, the point, the others (or "0"), the exponent.
  p[0] = digits[0];
  p[1] = '.';
  std::memcpy(p + 2, digits + 1, kDigitBlock);
  p += n + 1;
  if (n == 1) *p++ = '0';
  *p++ = 'e';
  *p++ = exp < 0 ? '-' : '+';
  const int mag = exp < 0 ? -exp : exp;
  if (mag >= 100) *p++ = static_cast<char>('0' + mag / 100);
  std::memcpy(p, kDigitPairs + 2 * (mag % 100), 2);
  return static_cast<std::size_t>(p - buf) + 2;
}

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
  char buf[kFloatBufferSize];
  return std::string(buf, format_float_into(buf, value));
}

void append_float(OutputBuffer& out, double value) {
  out.commit(format_float_into(out.tail(kFloatBufferSize), value));
}

std::size_t put_float(char* room, double value) noexcept { return format_float_into(room, value); }

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
