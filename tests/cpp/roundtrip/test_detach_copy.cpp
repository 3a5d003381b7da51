// The copy that replaces a detached alias: aliases expanded to the
// definition each one reads, anchors and kept block text dropped, and the
// depth and node limits refusing the whole copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "dump_node.hpp"
#include "roundtrip/detach_copy.hpp"
#include "small_stack.hpp"
#include "tree_builders.hpp"
#include "util/limits.hpp"

namespace ostrevane {
namespace {

using testing::compose_one;

// The value of the last pair of `mapping`: the alias the tables detach.
const YamlNode& last_value(const YamlNode& mapping) {
  return mapping.value(mapping.pair_count() - 1);
}

// The copy of what the root mapping's last value, an alias, reads.
Result<YamlNode, DetachLimit> detach_last(const YamlNode& root, AliasBudget& budget) {
  const AnchorIndex index(root);
  const YamlNode* target = index.target(last_value(root));
  EXPECT_NE(target, nullptr);
  return clone_for_detach_guarded(*target, index, 0, budget);
}

struct CopyCase {
  const char* text;
  const char* dump;  // with comments and kept block text
};

class DetachCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(DetachCopy, ExpandsAliasesAndDropsAnchors) {
  const CopyCase& c = GetParam();
  const YamlNode root = compose_one(c.text);
  AliasBudget budget = AliasBudget::for_node_trees();
  const Result<YamlNode, DetachLimit> copy = detach_last(root, budget);
  ASSERT_TRUE(copy.has_value()) << c.text;
  EXPECT_EQ(testing::dump_node(*copy, true, true), c.dump) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetachCopy,
    ::testing::Values(CopyCase{"a: &x {k: 1}\nb: *x\n", "fmap{k:1(pad1)}"},
                      // an alias inside keeps its own place's pad and comments
                      CopyCase{"y: &y 2\na: &x {k: 1, m: *y}\nb: *x\n", "fmap{k:1(pad1),m:2(pad1)}"},
                      // the nearest definition before an alias is the one it reads
                      CopyCase{"a: &x 1\nb: &x 2\nc: *x\n", "2"},
                      CopyCase{"a: &x 1\nb: &x [*x, 3]\nc: *x\n", "fseq[1,3]"},
                      CopyCase{"a: &x [&y 1, *y, !t 'q']\nb: *x\n", "fseq[1,1,!t 'q']"},
                      CopyCase{"a: &x [1] # note\nb: *x\n", "fseq[1](i\"note\"/1)"},
                      // indented for its own place: written anew wherever the copy lands
                      CopyCase{"a: &x |\n  text\nb: *x\n", "|text\\n"},
                      CopyCase{"a: &x\n  k: >-\n    folded\nb: *x\n", "map{k:>folded(pad1)}"}));

TEST(DetachCopy, AnAliasWithoutDefinitionBecomesNullKeepingCommentsAndTag) {
  YamlNode root = compose_one("a: &x [1]\nb: *x\n");
  YamlNode dangling = YamlNode::alias("nowhere");
  dangling.set_tag("!t");
  dangling.comments.edit_inline_comment() = "c";
  root.value(0).append_item(std::move(dangling));
  AliasBudget budget = AliasBudget::for_node_trees();
  const Result<YamlNode, DetachLimit> copy = detach_last(root, budget);
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(testing::dump_node(*copy, true), "fseq[1,!t ~(i\"c\"/0)]");
}

TEST(DetachCopy, KeepsStartsAndEndsEachNodeThere) {
  const YamlNode root = compose_one("a: &x [10, 20]\nb: *x\n");
  AliasBudget budget = AliasBudget::for_node_trees();
  const Result<YamlNode, DetachLimit> copy = detach_last(root, budget);
  ASSERT_TRUE(copy.has_value());
  const YamlNode& second = copy->items()[1];
  EXPECT_EQ(second.span.offset, root.value(0).items()[1].span.offset);
  EXPECT_EQ(second.end_offset, second.span.offset);
  EXPECT_EQ(second.end_line, second.span.line);
  EXPECT_EQ(second.end_column, second.span.column);
  EXPECT_FALSE(copy->explicit_start || copy->synthetic || copy->explicit_key);
}

// a0: &a0 [0], a1: &a1 [*a0], ..., then an alias of the last one: copying
// a<n> expands n aliases nested along one branch.
std::string alias_chain(int n) {
  std::string text = "a0: &a0 [0]\n";
  for (int i = 1; i <= n; ++i) {
    text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) +
            "]\n";
  }
  return text + "b: *a" + std::to_string(n) + "\n";
}

struct LimitCase {
  std::string text;
  std::uint64_t budget;
  std::optional<DetachLimit> refused;
  std::uint64_t budget_left;  // when copied
};

class DetachCopyLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(DetachCopyLimits, RefuseTheWholeCopy) {
  const LimitCase& c = GetParam();
  const YamlNode root = compose_one(c.text);
  AliasBudget budget(c.budget);
  const Result<YamlNode, DetachLimit> copy = detach_last(root, budget);
  if (c.refused) {
    ASSERT_FALSE(copy.has_value());
    EXPECT_EQ(copy.error(), *c.refused);
  } else {
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(budget.nodes_left(), c.budget_left);
  }
}

// Ten levels of ten aliases each: 10^10 nodes once expanded.
std::string alias_bomb() {
  std::string text = "l0: &l0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < 10; ++i) {
    const std::string prev = "*l" + std::to_string(i - 1);
    text += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [";
    for (int j = 0; j < 10; ++j) text += (j ? ", " : "") + prev;
    text += "]\n";
  }
  return text + "b: *l9\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetachCopyLimits,
    ::testing::Values(
        // a sequence and its three items take four units
        LimitCase{"a: &x [1, 2, 3]\nb: *x\n", 4, std::nullopt, 0},
        LimitCase{"a: &x [1, 2, 3]\nb: *x\n", 3, DetachLimit::NodeBudget, 0},
        LimitCase{"a: &x [1, 2, 3]\nb: *x\n", 10, std::nullopt, 6},
        // an expanded alias takes a unit as well as what it reads
        LimitCase{"y: &y 1\na: &x [*y]\nb: *x\n", 3, std::nullopt, 0},
        LimitCase{alias_chain(100), limits::kNodeAliasBudget, std::nullopt,
                  limits::kNodeAliasBudget - 202},
        LimitCase{alias_chain(101), limits::kNodeAliasBudget, DetachLimit::AliasDepth, 0},
        LimitCase{alias_bomb(), limits::kNodeAliasBudget, DetachLimit::NodeBudget, 0},
        // text counts as well as nodes: 300 uses of 1 MiB pass 256 MiB
        LimitCase{"a: &t " + std::string(std::size_t{1} << 20, 'x') + "\nl: &l [" +
                      [] {
                        std::string uses;
                        for (int i = 0; i < 300; ++i) uses += "*t, ";
                        return uses;
                      }() +
                      "]\nb: *l\n",
                  limits::kNodeAliasBudget, DetachLimit::ByteBudget, 0}));

TEST(DetachCopyLimits, MessagesNameTheLimit) {
  EXPECT_EQ(detach_limit_message(DetachLimit::AliasDepth),
            "detach() expands aliases nested deeper than the limit of 100");
  EXPECT_EQ(detach_limit_message(DetachLimit::NodeBudget),
            "detach() expands aliases to more than the limit of 1000000 nodes");
  EXPECT_EQ(detach_limit_message(DetachLimit::ByteBudget),
            "detach() expands aliases to more than the limit of 268435456 bytes of scalar and tag "
            "text");
}

// Edits can stack trees far deeper than any load: 200,000 levels copied on
// a small stack.
TEST(DetachCopy, DeepTreesOnASmallStack) {
  testing::run_on_small_stack([] {
    const YamlNode root = testing::deep_anchored_mapping(200'000, YamlNode::alias("x"));
    AliasBudget budget = AliasBudget::for_node_trees();
    Result<YamlNode, DetachLimit> copy = detach_last(root, budget);
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(budget.nodes_left(), limits::kNodeAliasBudget - 200'001);
    EXPECT_FALSE(copy->anchor().has_value());
    drop_node_iterative(std::move(*copy));
  });
}

}  // namespace
}  // namespace ostrevane
