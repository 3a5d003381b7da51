// Comment texts from Python: the line-break and control-character rules,
// splitting into lines and joining stored lines back.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "roundtrip/comment_rules.hpp"

namespace ostrevane {
namespace {

struct SplitCase {
  std::string text;
  std::vector<std::string> lines;
};

TEST(CommentRules, SplitsAtEveryBreak) {
  const SplitCase cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\n", {"a", ""}},
      {"a\rb", {"a", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\ta b", {"\ta b"}},
  };
  for (const SplitCase& c : cases) {
    auto lines = split_comment_lines(c.text);
    ASSERT_TRUE(lines.has_value()) << c.text;
    EXPECT_EQ(*lines, c.lines) << c.text;
  }
  EXPECT_TRUE(split_comment_lines(std::nullopt)->empty());
}

struct RefusedCase {
  std::string text;
  bool inline_comment;
  CommentFault fault;
  std::string character;
};

TEST(CommentRules, RefusesBreaksAndControls) {
  const RefusedCase cases[] = {
      {"a\nb", true, CommentFault::InlineLineBreak, ""},
      {"a\rb", true, CommentFault::InlineLineBreak, ""},
      {"a\u2028b", true, CommentFault::InlineLineBreak, ""},
      {"a\u0085b", true, CommentFault::InlineLineBreak, ""},
      {"a\x01"
       "b",
       true, CommentFault::ControlCharacter, "\x01"},
      {"a\u2029b", false, CommentFault::UnicodeLineBreak, ""},
      {"a\u0085b", false, CommentFault::UnicodeLineBreak, ""},
      {"a\x7f", false, CommentFault::ControlCharacter, "\x7f"},
      {"x\u0086", false, CommentFault::ControlCharacter, "\u0086"},
      {"x\uffff", false, CommentFault::ControlCharacter, "\uffff"},
      {"x\n\x1b", false, CommentFault::ControlCharacter, "\x1b"},
  };
  for (const RefusedCase& c : cases) {
    CommentError error = c.inline_comment ? validate_inline_comment(c.text).error()
                                          : split_comment_lines(c.text).error();
    EXPECT_EQ(error.fault, c.fault) << c.text;
    EXPECT_EQ(error.character, c.character) << c.text;
  }
}

TEST(CommentRules, InlineKeepsText) {
  for (const std::string text : {"", "\t lead", "tail "}) {
    EXPECT_EQ(validate_inline_comment(text).value(), text);
  }
  EXPECT_FALSE(validate_inline_comment(std::nullopt).value().has_value());
}

TEST(CommentRules, JoinsBySelection) {
  const std::vector<HeadComment> lines = {{"a", false}, {"b", true}, {"c", false}};
  EXPECT_EQ(join_comment_lines(lines, CommentSelection::All), "a\nb\nc");
  EXPECT_EQ(join_comment_lines(lines, CommentSelection::AboveIntroducer), "a\nc");
  EXPECT_EQ(join_comment_lines(lines, CommentSelection::BelowIntroducer), "b");
  EXPECT_FALSE(join_comment_lines({}, CommentSelection::All).has_value());
  EXPECT_FALSE(join_comment_lines({{"x", true}}, CommentSelection::AboveIntroducer).has_value());
  EXPECT_EQ(join_comment_lines({{"", false}}, CommentSelection::All), "");
}

}  // namespace
}  // namespace ostrevane
