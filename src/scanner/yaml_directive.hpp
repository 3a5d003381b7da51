// Leading %YAML directive sniffing.
//
// Input: a UTF-8 text. Output: the (major, minor) version of a %YAML directive
// found before the first content line, or nothing. Only the head of the text
// is read; nothing is scanned and nothing fails: malformed directives yield
// nothing. The look-up is looser than the scanner (it accepts indentation
// before '%'), because its only job is to pick the resolution rules early.
//
// The white-space helpers treat as blank every character with the Unicode
// White_Space property; the schema reference finder shares them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrevane {

struct YamlVersion {
  std::uint32_t major;
  std::uint32_t minor;
  friend bool operator==(const YamlVersion&, const YamlVersion&) = default;
};

[[nodiscard]] std::optional<YamlVersion> detect_yaml_directive(std::string_view text) noexcept;

// Whether a directive's text (the rest of its line after '%') is a %YAML
// directive, as detect_yaml_directive tells one from other directives.
[[nodiscard]] bool is_yaml_directive(std::string_view directive) noexcept;

// Byte length of the Unicode white-space character at the start of `s`, or 0.
[[nodiscard]] std::size_t white_space_length(std::string_view s) noexcept;

// `s` without its leading / trailing Unicode white space.
[[nodiscard]] std::string_view trim_white_space_front(std::string_view s) noexcept;
[[nodiscard]] std::string_view trim_white_space_back(std::string_view s) noexcept;

// The head of a text, one line at a time, as the directive and schema
// reference look-ups read it: a leading byte-order mark is skipped, and each
// line comes without its line break ("\n" or "\r\n") and without its leading
// Unicode white space. The lines are views into the text.
class HeadLines {
 public:
  explicit HeadLines(std::string_view text) noexcept;

  // The next line, or nothing once the text is used up.
  [[nodiscard]] std::optional<std::string_view> next() noexcept;

 private:
  std::string_view rest_;
};

}  // namespace ostrevane
