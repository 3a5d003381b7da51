// Tables for the input layer: byte decoding, %YAML sniffing, the schema
// reference comment, and the text form of include errors.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "directives/include_error.hpp"
#include "scanner/input_decode.hpp"
#include "scanner/yaml_directive.hpp"
#include "schema/modeline.hpp"

namespace ostrevane {
namespace {

using namespace std::string_literals;

struct DecodeCase {
  std::string input;
  std::string expected;  // UTF-8 text, or the error message when `fails`
  bool fails = false;
};

class DecodeInput : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeInput, MatchesTable) {
  const DecodeCase& c = GetParam();
  auto result = decode_input_bytes(std::string_view(c.input));
  if (c.fails) {
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, c.expected);
  } else {
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(*result, c.expected);
  }
  // The moving overload agrees with the viewing one.
  auto moved = decode_input_bytes(std::string(c.input));
  ASSERT_EQ(moved.has_value(), result.has_value());
  if (moved) {
    EXPECT_EQ(*moved, *result);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeInput,
    ::testing::Values(
        DecodeCase{"", ""}, DecodeCase{"a", "a"}, DecodeCase{"abc", "abc"},
        DecodeCase{"a: 1\n", "a: 1\n"},
        // A byte-order mark is decoded, not removed.
        DecodeCase{"\xEF\xBB\xBF" "a", "\xEF\xBB\xBF" "a"},
        DecodeCase{"\xFE\xFF\x00\x61"s, "\xEF\xBB\xBF" "a"},
        DecodeCase{"\xFF\xFE\x61\x00"s, "\xEF\xBB\xBF" "a"},
        DecodeCase{"\x00\x00\xFE\xFF\x00\x00\x00\x61"s, "\xEF\xBB\xBF" "a"},
        DecodeCase{"\xFF\xFE\x00\x00\x61\x00\x00\x00"s, "\xEF\xBB\xBF" "a"},
        // Without a mark, the NUL pattern decides.
        DecodeCase{"\x61\x00"s, "a"}, DecodeCase{"\x00\x61"s, "a"},
        DecodeCase{"\x61\x00\x00\x00"s, "a"}, DecodeCase{"\x00\x00\x00\x61"s, "a"},
        DecodeCase{"\x61\x00\x62\x00"s, "ab"}, DecodeCase{"\x00\x00\x61\x00"s, "\x00\xE6\x84\x80"s},
        DecodeCase{"\x00\x61\x00\x62"s, "ab"},
        // Surrogate pairs and characters beyond the BMP.
        DecodeCase{"\xFF\xFE\x3D\xD8\x00\xDE"s, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        DecodeCase{"\x00\x00\xFE\xFF\x00\x01\xF6\x00"s, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
        DecodeCase{"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        // Failures.
        DecodeCase{"\x00\x61\x62"s, "invalid UTF-16: byte count is not a multiple of 2", true},
        DecodeCase{"\xFF\xFE\x61\x00\x00\xD8"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"\xFF\xFE\x00\xDC\x61\x00"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"\xFF\xFE\x00\xD8\x61\x00"s, "invalid UTF-16: unpaired surrogate", true},
        DecodeCase{"\x00\x00\xFE\xFF\x00\x11\x00\x00"s,
                   "invalid UTF-32: not a Unicode scalar value", true},
        DecodeCase{"\x00\x00\xFE\xFF\x00\x00\xD8\x00"s,
                   "invalid UTF-32: not a Unicode scalar value", true},
        DecodeCase{"\x00\x00\xFE\xFF\x00"s, "invalid UTF-32: byte count is not a multiple of 4",
                   true},
        DecodeCase{"\xC3\x28", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0",
                   true},
        DecodeCase{"ab\xE2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 2",
                   true},
        DecodeCase{"abcdefghij\xE2\x28\xA1",
                   "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 10", true},
        DecodeCase{"a\xE2\x82\x28", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 1",
                   true},
        DecodeCase{"a\xF0\x9F\x98\x28",
                   "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 1", true},
        DecodeCase{"ab\xED\xA0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2",
                   true},
        DecodeCase{"ab\xC0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 2",
                   true},
        DecodeCase{"abc\xF4\x90\x80\x80",
                   "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 3", true},
        DecodeCase{"abcdefgh\xF0\x9F\x98",
                   "invalid UTF-8: incomplete utf-8 byte sequence from index 8", true}));

TEST(DecodeInput, LargeUtf16BigEndianRoundTrips) {
  std::string utf16 = "\xFE\xFF"s;
  std::string expected = "\xEF\xBB\xBF";
  for (int i = 0; i < 10000; ++i) {
    utf16 += "\x00\x61\x00\xE9\x4E\x2D"s;  // "a", "é", "中"
    expected += "a\xC3\xA9\xE4\xB8\xAD";
  }
  auto result = decode_input_bytes(std::string_view(utf16));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, expected);
}

struct DirectiveCase {
  std::string text;
  std::optional<YamlVersion> expected;
};

class DetectDirective : public ::testing::TestWithParam<DirectiveCase> {};

TEST_P(DetectDirective, MatchesTable) {
  EXPECT_EQ(detect_yaml_directive(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DetectDirective,
    ::testing::Values(
        DirectiveCase{"%YAML 1.1", YamlVersion{1, 1}},
        DirectiveCase{"%YAML 1.2 # comment\n---\na: 1\n", YamlVersion{1, 2}},
        DirectiveCase{"%YAML 2.0\n", YamlVersion{2, 0}},
        DirectiveCase{"\xEF\xBB\xBF%YAML 1.1\n", YamlVersion{1, 1}},
        DirectiveCase{"\n# head\n\n   \t\n%YAML 1.1\n", YamlVersion{1, 1}},
        DirectiveCase{"%TAG ! tag:x:\n%YAML 1.1\n", YamlVersion{1, 1}},
        DirectiveCase{"%\n%YAML 1.1\n", YamlVersion{1, 1}},
        DirectiveCase{"%YAML 1.1\r\n---\r\n", YamlVersion{1, 1}},
        DirectiveCase{"  %YAML 1.1", YamlVersion{1, 1}},
        DirectiveCase{"\xE3\x80\x80\xC2\xA0%YAML\xE2\x80\x83" "1.1", YamlVersion{1, 1}},
        DirectiveCase{"%YAML 01.001", YamlVersion{1, 1}},
        DirectiveCase{"%YAML 4294967295.0", YamlVersion{4294967295u, 0}},
        DirectiveCase{"---\n%YAML 1.1\n", std::nullopt},
        DirectiveCase{"a: 1\n%YAML 1.1\n", std::nullopt},
        DirectiveCase{"%YAML", std::nullopt}, DirectiveCase{"%YAML 1", std::nullopt},
        DirectiveCase{"%YAML 1.", std::nullopt}, DirectiveCase{"%YAML .1", std::nullopt},
        DirectiveCase{"%YAML 1.2.3", std::nullopt}, DirectiveCase{"%YAML +1.2", std::nullopt},
        DirectiveCase{"%YAML 1.x", std::nullopt},
        DirectiveCase{"%YAML #1.1", std::nullopt},
        DirectiveCase{"%YAML 4294967296.0", std::nullopt},
        DirectiveCase{"# c\r%YAML 1.1", std::nullopt}, DirectiveCase{"", std::nullopt},
        DirectiveCase{"%yaml 1.1", std::nullopt}));

struct ModelineCase {
  std::string text;
  std::optional<std::string> expected;
};

class FindModeline : public ::testing::TestWithParam<ModelineCase> {};

TEST_P(FindModeline, MatchesTable) {
  EXPECT_EQ(find_schema_modeline(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindModeline,
    ::testing::Values(
        ModelineCase{"# yaml-language-server: $schema=./s.json\na: 1\n", "./s.json"},
        ModelineCase{"# one\n# two\n\n# yaml-language-server: $schema=x\n", "x"},
        ModelineCase{"#yaml-language-server:$schema=x", "x"},
        ModelineCase{"  #\t yaml-language-server: \t $schema=  x y \t\n", "x y"},
        ModelineCase{"# yaml-language-server: $schema=x\r\n", "x"},
        ModelineCase{"# yaml-language-server: other=1 $schema=x\n# yaml-language-server: "
                     "$schema=y\n",
                     "y"},
        ModelineCase{"# yaml-language-server: $schema=   \n# yaml-language-server: $schema=z\n",
                     "z"},
        ModelineCase{"\xEF\xBB\xBF# yaml-language-server: $schema=b\n", "b"},
        ModelineCase{"a: 1\n# yaml-language-server: $schema=x\n", std::nullopt},
        ModelineCase{"%YAML 1.2\n# yaml-language-server: $schema=x\n", std::nullopt},
        ModelineCase{"---\n# yaml-language-server: $schema=x\n", std::nullopt},
        ModelineCase{"# YAML-Language-Server: $schema=x\n", std::nullopt},
        ModelineCase{"key: value # yaml-language-server: $schema=x\n", std::nullopt},
        ModelineCase{"# yaml-language-server: $schema=\n", std::nullopt},
        ModelineCase{"", std::nullopt}));

TEST(IncludeErrorText, FramesCountLinesFromOne) {
  IncludeError error;
  error.message = "file not found";
  error.file = "conf/b.yaml";
  EXPECT_EQ(fmt_include_stack(error), "file not found in conf/b.yaml");
  error.include_chain = {{"conf/a.yaml", 0}, {"conf/c.yaml", 41}};
  EXPECT_EQ(fmt_include_stack(error),
            "file not found in conf/b.yaml\n  included from conf/a.yaml, line 1"
            "\n  included from conf/c.yaml, line 42");
}

}  // namespace
}  // namespace ostrevane
