// Node comments by path: which node owns the lines above a node, and the
// placements where a comment text is refused because it would not be
// written back as the same comment.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "roundtrip/composer/compose.hpp"
#include "roundtrip/document/node_comments.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

using S = PathSegment;
using Sel = CommentSelection;

NodeList compose(std::string_view text) {
  auto roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value()) << text;
  return roots ? std::move(*roots) : NodeList{};
}

constexpr const char* kDashComment = "- 0\n# above\n- # item\n  # below\n  a: 1\n  b: 2\n";
constexpr const char* kTwoKeys = "# top\na: 1\n# bee\nb: 2\n";

struct OwnerCase {
  const char* text;
  std::vector<PathSegment> path;
  std::vector<PathSegment> owner;  // the owner's own path
  Sel selection;
  std::optional<std::string> read;  // what comment_before reads
};

TEST(HeadCommentOwner, FollowsThePathsLastStep) {
  const OwnerCase cases[] = {
      {kTwoKeys, {}, {}, Sel::All, "top"},
      // The first key's lines are the mapping's.
      {kTwoKeys, {S::key("a")}, {}, Sel::All, "top"},
      {kTwoKeys, {S::key("b")}, {S::key_node("b")}, Sel::All, "bee"},
      {kTwoKeys, {S::key_node("b")}, {S::key_node("b")}, Sel::All, "bee"},
      {kTwoKeys, {S::key_node("a")}, {S::key_node("a")}, Sel::All, std::nullopt},
      // A comment on the dash line: the item reads above it, the first key
      // below it, a later key its own.
      {kDashComment, {S::index(1)}, {S::index(1)}, Sel::AboveIntroducer, "above"},
      {kDashComment, {S::index(1), S::key("a")}, {S::index(1)}, Sel::BelowIntroducer, "below"},
      {kDashComment,
       {S::index(1), S::key("b")},
       {S::index(1), S::key_node("b")},
       Sel::All,
       std::nullopt},
      // Without one, item and first key share every line.
      {"- 0\n# c\n- a: 1\n", {S::index(1)}, {S::index(1)}, Sel::All, "c"},
      {"- 0\n# c\n- a: 1\n", {S::index(1), S::key("a")}, {S::index(1)}, Sel::All, "c"},
      // A mapping value's first key: the value mapping, not below a dash.
      {"x:\n  # c\n  y: 1\n", {S::key("x"), S::key("y")}, {S::key("x")}, Sel::All, "c"},
      // The pair the step's occurrence names.
      {"a: 1\n# b\nb: 2\n# last\na: 3\n", {S::key("a")}, {S::key_node("a")}, Sel::All, "last"},
      {"# first\na: 1\nb: 2\na: 3\n", {S::key("a", 1)}, {}, Sel::All, "first"},
      // An item that is no mapping keeps its lines below the dash to itself.
      {"- # d\n  # below\n  - a\n",
       {S::index(0)},
       {S::index(0)},
       Sel::AboveIntroducer,
       std::nullopt},
  };
  for (const OwnerCase& c : cases) {
    const NodeList roots = compose(c.text);
    const NodePath path(c.path);
    const std::optional<HeadCommentOwner> owner = head_comment_owner(roots, 0, path);
    ASSERT_TRUE(owner.has_value()) << c.text;
    EXPECT_EQ(owner->owner, resolve_node_path(roots, 0, NodePath(c.owner))) << c.text;
    EXPECT_EQ(owner->selection, c.selection) << c.text;
    EXPECT_EQ(read_head_comment(roots, 0, path).value(), c.read) << c.text;
  }
}

TEST(HeadCommentOwner, StaleWhereThePathOrItsPairIsGone) {
  const std::pair<const char*, std::vector<PathSegment>> cases[] = {
      {"", {}},
      {"a: 1\n", {S::key("z")}},
      {"a: 1\n", {S::key("a", 1)}},
      {"a: 1\n", {S::key("a"), S::key("b")}},
      {"- a\n", {S::key("a")}},
      {"- a\n", {S::index(1)}},
      {"[x]\n", {S::key_node("x")}},
  };
  for (const auto& [text, steps] : cases) {
    NodeList roots = compose(text);
    const NodePath path(steps);
    EXPECT_FALSE(head_comment_owner(roots, 0, path).has_value()) << text;
    EXPECT_FALSE(head_comment_owner_for_edit(roots, 0, path).has_value()) << text;
    EXPECT_EQ(read_head_comment(roots, 0, path).error().fault, NodeCommentFault::Stale);
    EXPECT_EQ(write_head_comment(roots, 0, path, "x").error().fault, NodeCommentFault::Stale);
    EXPECT_EQ(write_inline_comment(roots, 0, path, "x").error().fault, NodeCommentFault::Stale);
    EXPECT_EQ(write_foot_comment(roots, 0, path, "x").error().fault, NodeCommentFault::Stale);
  }
  // A later root is reached by its own number.
  const NodeList roots = compose("a: 1\n--- # two\nb: 2\n");
  EXPECT_EQ(read_head_comment(roots, 1, NodePath()).value(), "two");
  EXPECT_FALSE(head_comment_owner(roots, 2, NodePath()).has_value());
}

// Each side of a dash-line comment is replaced by its own reader's writer.
TEST(HeadCommentOwner, WritersKeepTheOtherSideOfTheDash) {
  NodeList roots = compose(kDashComment);
  const NodePath item({S::index(1)});
  const NodePath first_key({S::index(1), S::key("a")});
  ASSERT_TRUE(write_head_comment(roots, 0, item, "new\r\nx").has_value());
  EXPECT_EQ(roots[0].items()[1].comments.head(),
            (std::vector<HeadComment>{{"new", false}, {"x", false}, {"below", true}}));
  ASSERT_TRUE(write_head_comment(roots, 0, first_key, "k1\nk2").has_value());
  EXPECT_EQ(roots[0].items()[1].comments.head(),
            (std::vector<HeadComment>{{"new", false}, {"x", false}, {"k1", true}, {"k2", true}}));
  ASSERT_TRUE(write_head_comment(roots, 0, item, std::nullopt).has_value());
  EXPECT_EQ(read_head_comment(roots, 0, item).value(), std::nullopt);
  EXPECT_EQ(read_head_comment(roots, 0, first_key).value(), "k1\nk2");
  EXPECT_TRUE(roots[0].items()[1].comments.modified);
  EXPECT_FALSE(roots[0].comments.modified);
}

TEST(NodeComments, RefusedTextsChangeNothing) {
  NodeList roots = compose("# h\na: x # i\n");
  const NodePath a({S::key("a")});
  const NodeCommentError split = write_head_comment(roots, 0, a, "x\u2028y").error();
  EXPECT_EQ(split.fault, NodeCommentFault::Text);
  EXPECT_EQ(split.text.fault, CommentFault::UnicodeLineBreak);
  EXPECT_EQ(write_foot_comment(roots, 0, a, "x").error().fault, NodeCommentFault::FootNotPlaceable);
  EXPECT_EQ(write_foot_comment(roots, 0, NodePath(), "x\u0085").error().fault,
            NodeCommentFault::Text);
  EXPECT_EQ(read_head_comment(roots, 0, a).value(), "h");
  EXPECT_EQ(read_inline_comment(roots, 0, a).value(), "i");
  EXPECT_EQ(read_foot_comment(roots, 0, NodePath()).value(), std::nullopt);
  EXPECT_FALSE(roots[0].comments.modified);
}

struct InlinePlaceCase {
  const char* text;
  std::vector<PathSegment> path;
  bool writable;
};

// Refused where the emitter has no line on which the comment reads back as
// the node's own: a key node, a block collection at the root.
TEST(NodeComments, InlineTextOnlyWhereItIsWrittenBack) {
  const InlinePlaceCase cases[] = {
      {"a: 1\n", {}, false},
      {"- a\n", {}, false},
      {"%YAML 1.2\n---\na: 1\n", {}, false},
      {"--- !!map\na: 1\n", {}, false},
      {"&r\na: 1\n", {}, false},
      {"{a: 1}\n", {}, true},
      {"[a]\n", {}, true},
      {"--- {}\n", {}, true},
      {"x\n", {}, true},
      {"", {}, false},  // no root: stale
      {"a: 1\n", {S::key_node("a")}, false},
      {"? a\n: 1\n", {S::key_node("a")}, false},
      {"{a: 1}\n", {S::key_node("a")}, false},
      {"a:\n  b: 1\n", {S::key("a")}, true},
      {"a: 1\n", {S::key("a")}, true},
      {"- - a\n", {S::index(0)}, true},
  };
  for (const InlinePlaceCase& c : cases) {
    NodeList roots = compose(c.text);
    const NodePath path(c.path);
    const auto written = write_inline_comment(roots, 0, path, "c");
    EXPECT_EQ(written.has_value(), c.writable) << c.text;
    if (!c.writable && !roots.empty()) {
      EXPECT_EQ(written.error().fault, NodeCommentFault::InlineNotWritable) << c.text;
      EXPECT_EQ(read_inline_comment(roots, 0, path).value(), std::nullopt) << c.text;
      // Clearing is always allowed.
      EXPECT_TRUE(write_inline_comment(roots, 0, path, std::nullopt).has_value()) << c.text;
    }
  }
}

// A root that a directive produced is written as the directive, with the
// comment after it on its line.
TEST(NodeComments, InlineTextOnADirectiveRoot) {
  NodeList roots = compose("a: 1\n");
  roots[0].set_source(source_of("!include", "a.yaml", 1));
  ASSERT_TRUE(write_inline_comment(roots, 0, NodePath(), "c").has_value());
  EXPECT_EQ(read_inline_comment(roots, 0, NodePath()).value(), "c");
  EXPECT_EQ(roots[0].comments.inline_spaces, 0u);
}

TEST(NodeComments, FootOnlyAfterABlockCollectionOrAtTheRoot) {
  const InlinePlaceCase cases[] = {
      {"a: 1\n", {}, true},
      {"x\n", {}, true},
      {"a:\n  b: 1\n", {S::key("a")}, true},
      {"a:\n- 1\n", {S::key("a")}, true},
      {"a: 1\n", {S::key("a")}, false},
      {"a: {b: 1}\n", {S::key("a")}, false},
      {"a: {}\n", {S::key("a")}, false},
      {"a: &x 1\nb: *x\n", {S::key("b")}, false},
  };
  for (const InlinePlaceCase& c : cases) {
    NodeList roots = compose(c.text);
    const NodePath path(c.path);
    EXPECT_EQ(write_foot_comment(roots, 0, path, "f\r\n").has_value(), c.writable) << c.text;
    EXPECT_TRUE(write_foot_comment(roots, 0, path, std::nullopt).has_value()) << c.text;
    EXPECT_EQ(read_foot_comment(roots, 0, path).value(), std::nullopt) << c.text;
  }
  NodeList roots = compose("a: 1\n# one\n\n# three\n");
  EXPECT_EQ(read_foot_comment(roots, 0, NodePath()).value(), "one\nthree");
  ASSERT_TRUE(write_foot_comment(roots, 0, NodePath(), "x\r\n\ny").has_value());
  EXPECT_EQ(roots[0].comments.foot(), (std::vector<std::string>{"x", "", "y"}));
  EXPECT_EQ(read_foot_comment(roots, 0, NodePath()).value(), "x\n\ny");
}

}  // namespace
}  // namespace ostrevane
