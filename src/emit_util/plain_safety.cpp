#include "emit_util/plain_safety.hpp"

#include <cstdint>
#include <cstring>

#include "emit_util/detail/swar.hpp"
#include "emit_util/detail/unprintable.hpp"
#include "emit_util/scalar_text.hpp"
#include "scanner/yaml_directive.hpp"

namespace ostrevane {

namespace {

// Whole-text comparison with a word of the same length N; the fixed size
// lets the compiler turn memcmp into one or two integer compares.
template <std::size_t N, std::size_t M>
bool is_one_of(const char* text, const char (&words)[M][N + 1]) noexcept {
  for (const auto& w : words) {
    if (std::memcmp(text, w, N) == 0) return true;
  }
  return false;
}

// First bytes of the words below: most texts are ruled out by one lookup.
struct KeywordStartTable {
  bool at[256] = {};
  constexpr KeywordStartTable() {
    for (unsigned char c : std::string_view("~yYnNoO<.tTfF-+=")) at[c] = true;
  }
};
constexpr KeywordStartTable kKeywordStart;

// Words that some reader (YAML 1.1 or 1.2) takes for null, a boolean, a
// special float, a merge key or a document end; under YAML 1.1 also "=",
// the value key, which YAML 1.1 readers refuse to load as a string.
bool is_keyword(std::string_view text, ResolverMode mode) noexcept {
  static constexpr char kTwo[][3] = {"no", "No", "NO", "on", "On", "ON", "<<"};
  static constexpr char kThree[][4] = {"yes", "Yes", "YES", "off", "Off", "OFF", "..."};
  static constexpr char kFour[][5] = {"null", "Null", "NULL", "true", "True", "TRUE",
                                      ".inf", ".Inf", ".INF", ".nan", ".NaN", ".NAN"};
  static constexpr char kFive[][6] = {"false", "False", "FALSE", "-.inf", "-.Inf",
                                      "-.INF", "+.inf", "+.Inf", "+.INF"};
  const char* t = text.data();
  if (!kKeywordStart.at[static_cast<unsigned char>(t[0])]) return false;
  switch (text.size()) {
    case 1: {
      const char c = t[0];
      if (c == '~') return true;
      if (c == '=') return mode != ResolverMode::Yaml12;
      return mode == ResolverMode::Yaml11 && (c == 'y' || c == 'Y' || c == 'n' || c == 'N');
    }
    case 2:
      return is_one_of<2>(t, kTwo);
    case 3:
      return is_one_of<3>(t, kThree);
    case 4:
      return is_one_of<4>(t, kFour);
    case 5:
      return is_one_of<5>(t, kFive);
    default:
      return false;
  }
}

// First bytes that make the scanner read something other than a plain scalar.
struct IndicatorTable {
  bool at[256] = {};
  constexpr IndicatorTable() {
    for (unsigned char c : std::string_view("\t !\"#%&'*,-:>?@[]`{|}")) at[c] = true;
  }
};
constexpr IndicatorTable kIndicatorStart;

// Per byte: what the one scan of the text must look at.
enum ByteClass : unsigned char { kOrdinary, kHash, kColon, kControl, kMaybeUnprintable };
struct ByteClassTable {
  unsigned char at[256] = {};
  constexpr ByteClassTable() {
    for (int c = 0; c < 0x20; ++c) at[c] = kControl;
    at[0x7F] = kControl;
    at[static_cast<unsigned char>('#')] = kHash;
    at[static_cast<unsigned char>(':')] = kColon;
    at[0xC2] = kMaybeUnprintable;
    at[0xE2] = kMaybeUnprintable;
    at[0xEF] = kMaybeUnprintable;
  }
};
constexpr ByteClassTable kByteClass;

// A byte of the word needs a closer look (controls, DEL, '#', ':', and the
// lead bytes of C1 controls, NEL, U+2028, U+2029, U+FFFE and U+FFFF).
inline bool word_needs_look(std::uint64_t w) noexcept {
  return (detail::has_byte_below(w, 0x20) | detail::has_byte(w, 0x7F) | detail::has_byte(w, '#') |
          detail::has_byte(w, ':') | detail::has_byte(w, 0xC2) | detail::has_byte(w, 0xE2) |
          detail::has_byte(w, 0xEF)) != 0;
}

// False when no byte of the text needs a closer look.
bool may_have_marker_or_unprintable(const unsigned char* b, std::size_t n) noexcept {
  return detail::any_byte_may_match<word_needs_look>(b, n, kByteClass.at);
}

// One pass for the scanner's markers, the unprintable characters and the
// Unicode line breaks: " #" starts a comment, ": " or a final ':' ends a key.
bool has_marker_or_unprintable(std::string_view text) noexcept {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  if (!may_have_marker_or_unprintable(b, n)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    switch (kByteClass.at[b[i]]) {
      case kOrdinary:
        break;
      case kHash:
        if (i >= 1 && b[i - 1] == ' ') return true;
        break;
      case kColon:
        if (i >= 1 && (i + 1 == n || b[i + 1] == ' ')) return true;
        break;
      case kControl:
        return true;
      default:
        if (detail::unquotable_at(text, i) != 0) return true;
        break;
    }
  }
  return false;
}

bool is_number_kind(ResolvedScalar::Kind k) noexcept {
  return k == ResolvedScalar::Kind::Int || k == ResolvedScalar::Kind::BigInt ||
         k == ResolvedScalar::Kind::Float;
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

template <class Pred>
bool all_bytes(std::string_view s, Pred pred) noexcept {
  for (const char c : s) {
    if (!pred(c)) return false;
  }
  return true;
}

// The pattern by which YAML 1.1 readers tag a plain scalar as an int, before
// they convert it:
//   [-+]?0b[0-1_]+ | [-+]?0[0-7_]+ | [-+]?(0|[1-9][0-9_]*)
//   | [-+]?0x[0-9a-fA-F_]+ | [-+]?[1-9][0-9_]*(:[0-5]?[0-9])+
// A text it matches is an int to them, or an error when the conversion finds
// no digit ("0b_", "+0x__"), whether or not our own reader holds a number
// there (it reads a base-60 int past 64 bits, twelve parts and more, and the
// digitless forms as strings).
bool matches_int_pattern_11(std::string_view s) noexcept {
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
  if (s.empty()) return false;
  const auto digit_or_mark = [](char c) { return is_digit(c) || c == '_'; };
  if (s[0] == '0') {
    if (s.size() >= 2 && s[1] == 'b') {
      return s.size() > 2 && all_bytes(s.substr(2), [](char c) {
        return c == '0' || c == '1' || c == '_';
      });
    }
    if (s.size() >= 2 && s[1] == 'x') {
      return s.size() > 2 && all_bytes(s.substr(2), [](char c) {
        return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '_';
      });
    }
    return all_bytes(s.substr(1), [](char c) { return (c >= '0' && c <= '7') || c == '_'; });
  }
  if (!is_digit(s[0])) return false;
  std::size_t i = 1;
  const std::size_t n = s.size();
  while (i < n && digit_or_mark(s[i])) ++i;
  // Base-60 parts: one digit, or two when the first is at most 5. Taking
  // two whenever possible decides it: a third digit can follow neither.
  while (i < n) {
    if (s[i] != ':' || i + 1 == n || !is_digit(s[i + 1])) return false;
    i += (i + 2 < n && s[i + 1] <= '5' && is_digit(s[i + 2])) ? 3 : 2;
  }
  return true;
}

}  // namespace

bool resolves_as_number_11(std::string_view text, ResolverMode mode) noexcept {
  const bool compat = mode != ResolverMode::Yaml11 && mode != ResolverMode::Yaml12;
  return is_number_kind(resolve_scalar_yaml11(compat, text, true, std::nullopt).kind);
}

bool looks_like_timestamp(std::string_view text) noexcept {
  const std::size_t n = text.size();
  if (n < 5 || !is_digit(text[0]) || !is_digit(text[1]) || !is_digit(text[2]) ||
      !is_digit(text[3]) || text[4] != '-') {
    return false;
  }
  if (n == 10 && is_digit(text[5]) && is_digit(text[6]) && text[7] == '-' && is_digit(text[8]) &&
      is_digit(text[9])) {
    return true;
  }
  DigitSkip d = skip_one_or_two_digits(text, 5);
  if (!d.ok || d.pos >= n || text[d.pos] != '-') return false;
  d = skip_one_or_two_digits(text, d.pos + 1);
  if (!d.ok || d.pos >= n) return false;
  std::size_t i = d.pos;
  if (text[i] == 'T' || text[i] == 't') {
    ++i;
  } else if (text[i] == ' ' || text[i] == '\t') {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  } else {
    return false;
  }
  d = skip_one_or_two_digits(text, i);
  if (!d.ok || d.pos >= n || text[d.pos] != ':' || !has_two_digits(text, d.pos + 1)) return false;
  i = d.pos + 3;
  if (i >= n || text[i] != ':' || !has_two_digits(text, i + 1)) return false;
  i += 3;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && is_digit(text[i])) ++i;
  }
  if (i == n) return true;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == n) return true;
  // The timestamp reader takes a lowercase 'z' as UTC too.
  if (text[i] == 'Z' || text[i] == 'z') return i + 1 == n;
  if (text[i] != '+' && text[i] != '-') return false;
  d = skip_one_or_two_digits(text, i + 1);
  if (!d.ok) return false;
  if (d.pos == n) return true;
  return text[d.pos] == ':' && has_two_digits(text, d.pos + 1) && d.pos + 3 == n;
}

FoldSpace find_fold_space(std::string_view text) noexcept {
  const std::size_t n = text.size();
  for (std::size_t j = text.find(' ', 1); j != std::string_view::npos && j + 1 < n;
       j = text.find(' ', j + 1)) {
    if (text[j - 1] != ' ' && text[j + 1] != ' ') return {true, j};
  }
  return {false, 0};
}

bool plain_needs_quotes(std::string_view text, ResolverMode mode) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  const auto first = static_cast<unsigned char>(text[0]);
  if (n >= 3 && first == 0xEF && static_cast<unsigned char>(text[1]) == 0xBB &&
      static_cast<unsigned char>(text[2]) == 0xBF) {
    return true;
  }
  if (n <= 5 && is_keyword(text, mode)) return true;
  if (n >= 4 && text.starts_with("...") && (text[3] == ' ' || text[3] == '\t')) return true;
  if (kIndicatorStart.at[first]) return true;
  // Readers sniff a leading %YAML directive after any Unicode white space, so
  // a plain first line such as "\u3000%YAML 1.1 x" would switch the reader
  // to YAML 1.1 rules for the whole text.
  if (first >= 0x80 && trim_white_space_front(text).starts_with('%')) return true;
  const char last = text[n - 1];
  if (last == ' ' || last == '\t') return true;
  if (has_marker_or_unprintable(text)) return true;

  const bool yaml11 = mode != ResolverMode::Yaml12;
  if (!(is_digit(text[0]) || text[0] == '+' || text[0] == '.' || (text[0] == '_' && yaml11))) {
    return false;
  }
  if (is_number_kind(resolve_scalar_yaml12(text, true, std::nullopt).kind)) return true;
  if (yaml11) {
    return resolves_as_number_11(text, mode) || matches_int_pattern_11(text) ||
           looks_like_timestamp(text);
  }
  if (text.find(':') != std::string_view::npos) return false;
  return is_number_kind(resolve_scalar_yaml11(false, text, true, std::nullopt).kind) ||
         matches_int_pattern_11(text);
}

}  // namespace ostrevane
