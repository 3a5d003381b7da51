#include "scanner/yaml_directive.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Reads a non-empty run of ASCII digits as an unsigned 32-bit number.
std::optional<std::uint32_t> parse_u32(std::string_view digits) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// Splits off the next white-space separated word of `rest`; empty at the end.
std::string_view next_word(std::string_view& rest) noexcept {
  rest = trim_white_space_front(rest);
  std::size_t end = 0;
  while (end < rest.size() && white_space_length(rest.substr(end)) == 0) ++end;
  const std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

std::optional<YamlVersion> parse_directive_line(std::string_view rest) noexcept {
  if (next_word(rest) != "YAML") return std::nullopt;
  const std::string_view version = next_word(rest);
  if (version.empty() || version.front() == '#') return std::nullopt;
  const std::size_t dot = version.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto major = parse_u32(version.substr(0, dot));
  const auto minor = parse_u32(version.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return YamlVersion{*major, *minor};
}

}  // namespace

std::size_t white_space_length(std::string_view s) noexcept {
  if (s.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  if (b0 < 0xC2) return 0;
  const auto at = [&](std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
  const unsigned char b1 = at(1);
  if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;  // NEL, NBSP
  const unsigned char b2 = at(2);
  if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;  // U+1680
  if (b0 == 0xE2) {
    if (b1 == 0x80) {
      // U+2000..U+200A, U+2028, U+2029, U+202F
      return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
    }
    return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
  }
  if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;  // U+3000
  return 0;
}

std::string_view trim_white_space_front(std::string_view s) noexcept {
  while (std::size_t n = white_space_length(s)) s.remove_prefix(n);
  return s;
}

std::string_view trim_white_space_back(std::string_view s) noexcept {
  // Every white-space character is 1 to 3 bytes long; try the longest first so
  // that a trailing continuation byte is not mistaken for a character.
  for (;;) {
    std::size_t cut = 0;
    for (std::size_t len = 3; len >= 1; --len) {
      if (s.size() >= len && white_space_length(s.substr(s.size() - len)) == len) {
        cut = len;
        break;
      }
    }
    if (cut == 0) return s;
    s.remove_suffix(cut);
  }
}

// A byte-order mark is not part of the first line: files saved with one (and
// every UTF-16 or UTF-32 input, which keeps its mark after decoding) must be
// read from their first line too.
HeadLines::HeadLines(std::string_view text) noexcept : rest_(text) {
  if (rest_.starts_with(kBom)) rest_.remove_prefix(kBom.size());
}

std::optional<std::string_view> HeadLines::next() noexcept {
  if (rest_.empty()) return std::nullopt;
  const std::size_t lf = rest_.find('\n');
  std::string_view line = rest_.substr(0, lf);
  rest_ = lf == std::string_view::npos ? std::string_view{} : rest_.substr(lf + 1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return trim_white_space_front(line);
}

std::optional<YamlVersion> detect_yaml_directive(std::string_view text) noexcept {
  HeadLines lines(text);
  while (const std::optional<std::string_view> next = lines.next()) {
    std::string_view line = *next;
    if (line.empty() || line.front() == '#') continue;
    if (line.front() != '%') return std::nullopt;
    line.remove_prefix(1);
    if (!is_yaml_directive(line)) continue;
    return parse_directive_line(line);
  }
  return std::nullopt;
}

bool is_yaml_directive(std::string_view directive) noexcept {
  return next_word(directive) == "YAML";
}

}  // namespace ostrevane
