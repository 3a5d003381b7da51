// Tree edits: the carry-over of a replaced node, pair and item removal, the
// alias check, and trees that edits stack deeper than any load allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "roundtrip/anchors.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/edit.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "small_stack.hpp"

namespace ostrevane {
namespace {

YamlNode compose_one(std::string_view text) {
  Result<NodeList, ScanError> docs = compose_documents(text);
  EXPECT_TRUE(docs.has_value());
  EXPECT_EQ(docs->size(), 1u);
  return std::move(docs->front());
}

std::string emitted(const YamlNode& root) {
  return std::string(emit_document_to_string(root, NullStyle::Default).view());
}

// The value node of the pair whose key has `text`.
YamlNode& value_of(YamlNode& mapping, std::string_view text) {
  for (std::size_t i = 0; i < mapping.pair_count(); ++i) {
    if (mapping.key(i).text() == text) return mapping.value(i);
  }
  ADD_FAILURE() << "no key " << text;
  return mapping;
}

TEST(ReplaceNode, CarriesCommentsAnchorAndTagOver) {
  YamlNode root = compose_one("# head\na: &x !t 1   # tail\nb: *x\n");
  YamlNode& a = value_of(root, "a");
  replace_node(a, YamlNode::scalar("2"));
  const YamlNode& fresh = value_of(root, "a");
  EXPECT_TRUE(fresh.comments.modified);
  EXPECT_EQ(fresh.anchor(), std::optional<std::string>("x"));
  EXPECT_EQ(fresh.tag(), std::optional<std::string>("!t"));
  EXPECT_EQ(fresh.comments.inline_comment(), std::optional<std::string>("tail"));
  EXPECT_EQ(fresh.comments.inline_spaces, 3u);
  EXPECT_EQ(fresh.span.line, 0u);
  EXPECT_EQ(emitted(root), "# head\na: !t &x 2   # tail\nb: *x\n");
}

TEST(ReplaceNode, NothingCarriedOverForAWholeDocument) {
  YamlNode root = compose_one("%YAML 1.2\n--- &r !t # c\n[1]\n");
  replace_node(root, YamlNode::scalar("new"), CarryOver::Nothing);
  EXPECT_FALSE(root.anchor() || root.tag() || root.explicit_start);
  EXPECT_TRUE(root.directives().empty());
  EXPECT_EQ(emitted(root), "new\n");
}

// A root's value replaced in place keeps what the document around it
// needs: a tag written with a %TAG handle stays defined.
TEST(ReplaceNode, RootKeepsItsDirectivesAndMarkers) {
  YamlNode root = compose_one("%TAG !e! tag:example.com,2000:\n--- !e!thing\na: 1\n");
  replace_node(root, YamlNode::scalar("new"), CarryOver::Root);
  EXPECT_EQ(root.tag(), std::optional<std::string>("!e!thing"));
  EXPECT_EQ(root.directives(), std::vector<std::string>{"TAG !e! tag:example.com,2000:"});
  EXPECT_TRUE(root.explicit_start);
  EXPECT_EQ(emitted(root), "%TAG !e! tag:example.com,2000:\n---\n!e!thing new\n");
  EXPECT_TRUE(compose_documents(emitted(root)).has_value());
}

TEST(ErasePairs, KeepsTheOrderOfTheRest) {
  YamlNode root = compose_one("a: 1\nb: 2\nc: 3\nd: 4\ne: 5\n");
  const std::vector<std::size_t> pairs{1, 3};
  erase_pairs(root, pairs);
  EXPECT_TRUE(root.comments.modified);
  EXPECT_EQ(emitted(root), "a: 1\nc: 3\ne: 5\n");
}

struct StrandCase {
  const char* text;
  const char* removed_key;  // the value (and, unless kept, the key) of this pair
  bool keeps_own_anchor;
  std::optional<std::string> stranded;
};

class StrandedAlias : public ::testing::TestWithParam<StrandCase> {};

TEST_P(StrandedAlias, DecidesBeforeAnythingChanges) {
  const StrandCase& c = GetParam();
  YamlNode root = compose_one(c.text);
  const YamlNode& value = value_of(root, c.removed_key);
  const Removal removal{&value, c.keeps_own_anchor};
  EXPECT_EQ(stranded_alias(root, std::span(&removal, 1)), c.stranded) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrandedAlias,
    ::testing::Values(StrandCase{"a: &x 1\nb: *x\n", "a", false, "x"},
                      StrandCase{"a: &x 1\nb: *x\n", "a", true, std::nullopt},
                      StrandCase{"a: &x [&y 1]\nb: *y\n", "a", true, "y"},
                      // "c" reads "b"; it would fall back to "a", another value
                      StrandCase{"a: &x 1\nb: &x 2\nc: *x\n", "b", false, "x"},
                      StrandCase{"a: &x 1\nb: &x 2\nc: *x\n", "a", false, std::nullopt},
                      StrandCase{"a: &x 1\nb: &x 2\nc: *x\n", "b", true, std::nullopt},
                      // the later definition does not count for an alias before it
                      StrandCase{"a: &x 1\nb: *x\nc: &x 2\n", "a", false, "x"},
                      StrandCase{"a: [&x 1, *x]\nb: 2\n", "a", false, std::nullopt},
                      StrandCase{"a: &x 1\nb: 2\n", "a", false, std::nullopt},
                      StrandCase{"a: &x 1\n*x : v\n", "a", false, "x"}));

// An alias reads a definition of its own file: the included file's
// definition of the same name is not the one the alias loses.
TEST(StrandedAlias, OnlyTheDefinitionOfTheAliasFileCounts) {
  YamlNode root = compose_one("a: &x 1\nb: &x 2\nc: *x\n");
  value_of(root, "b").span.file_id = 1;
  const Removal included{&value_of(root, "b"), false};
  EXPECT_EQ(stranded_alias(root, std::span(&included, 1)), std::nullopt);
  const Removal own{&value_of(root, "a"), false};
  EXPECT_EQ(stranded_alias(root, std::span(&own, 1)), std::optional<std::string>("x"));
}

// Edits may stack a tree far deeper than the composer's limit: 101
// replacements of 999 levels each at the bottom. Writing, the modified
// test, the anchor index, the alias check, a copy and the drop all keep to
// a small stack. The tree stands in a flow sequence, so the text is written
// in flow style and grows with the depth, not its square.
TEST(DeepEdits, TreesBeyondAHundredThousandLevels) {
  constexpr int kChunks = 101;
  constexpr int kChunk = 999;
  testing::run_on_small_stack([] {
    YamlNode root = compose_one("v: &a [0]\nw: *a\n");
    YamlNode* bottom = &value_of(root, "v").items()[0];
    for (int chunk = 0; chunk < kChunks; ++chunk) {
      YamlNode fresh = YamlNode::scalar("leaf");
      for (int i = 0; i < kChunk; ++i) {
        NodeList items;
        items.push_back(std::move(fresh));
        fresh = YamlNode::sequence(std::move(items));
      }
      replace_node(*bottom, std::move(fresh));
      for (int i = 0; i < kChunk; ++i) bottom = &bottom->items()[0];
    }
    EXPECT_TRUE(tree_is_modified(root));
    const std::string text = emitted(root);
    EXPECT_EQ(static_cast<long>(std::count(text.begin(), text.end(), '[')),
              static_cast<long>(kChunks) * kChunk + 1);
    const AnchorIndex index(root);
    EXPECT_EQ(index.size(), 1u);
    const Removal removal{&value_of(root, "v"), false};
    EXPECT_EQ(stranded_alias(root, std::span(&removal, 1)), std::optional<std::string>("a"));
    YamlNode copy = root.clone();
    drop_node_iterative(std::move(copy));
    drop_node_iterative(std::move(root));
  });
}

}  // namespace
}  // namespace ostrevane
