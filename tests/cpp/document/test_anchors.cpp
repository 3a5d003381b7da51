// The anchor index (which definition each alias means) and the modified test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "roundtrip/anchors.hpp"
#include "small_stack.hpp"

namespace ostrevane {
namespace {

YamlNode anchored(YamlNode node, std::string name) {
  node.set_anchor(std::move(name));
  return node;
}

YamlNode pairs(std::vector<std::pair<std::string, YamlNode>> entries) {
  NodeList children;
  for (auto& [key, value] : entries) {
    children.push_back(YamlNode::scalar(key));
    children.push_back(std::move(value));
  }
  return YamlNode::mapping(std::move(children));
}

YamlNode items(std::vector<YamlNode> list) {
  NodeList children;
  for (YamlNode& item : list) children.push_back(std::move(item));
  return YamlNode::sequence(std::move(children));
}

std::vector<YamlNode> of(YamlNode a) {
  std::vector<YamlNode> v;
  v.push_back(std::move(a));
  return v;
}

// a: &x 1, b: &x 2, c: *x: the alias means the latest definition before it.
TEST(AnchorIndex, RedefinedNameMeansTheNearestEarlierDefinition) {
  std::vector<std::pair<std::string, YamlNode>> entries;
  entries.emplace_back("a", anchored(YamlNode::scalar("1"), "x"));
  entries.emplace_back("b", YamlNode::alias("x"));
  entries.emplace_back("c", anchored(YamlNode::scalar("2"), "x"));
  entries.emplace_back("d", YamlNode::alias("x"));
  const YamlNode root = pairs(std::move(entries));
  const AnchorIndex index(root);
  EXPECT_EQ(index.size(), 2u);
  EXPECT_EQ(index.target(root.value(1)), &root.value(0));
  EXPECT_EQ(index.target(root.value(3)), &root.value(2));
}

// a: &x 1, b: &x [*x]: inside the second definition the name still means the
// first, whose node is complete.
TEST(AnchorIndex, DefinitionCountsOnceItsNodeIsComplete) {
  std::vector<std::pair<std::string, YamlNode>> entries;
  entries.emplace_back("a", anchored(YamlNode::scalar("1"), "x"));
  entries.emplace_back("b", anchored(items(of(YamlNode::alias("x"))), "x"));
  entries.emplace_back("c", YamlNode::alias("x"));
  const YamlNode root = pairs(std::move(entries));
  const AnchorIndex index(root);
  EXPECT_EQ(index.target(root.value(1).items()[0]), &root.value(0));
  EXPECT_EQ(index.target(root.value(2)), &root.value(1));
}

TEST(AnchorIndex, UnknownAliasAndTreesWithoutAliases) {
  const YamlNode lone = YamlNode::alias("nowhere");
  EXPECT_EQ(AnchorIndex(lone).target(lone), nullptr);
  const YamlNode plain = items(of(anchored(YamlNode::scalar("v"), "x")));
  EXPECT_EQ(AnchorIndex(plain).size(), 0u);
  // A key node can be a definition too.
  NodeList children;
  children.push_back(anchored(YamlNode::scalar("k"), "key"));
  children.push_back(YamlNode::alias("key"));
  const YamlNode mapping = YamlNode::mapping(std::move(children));
  EXPECT_EQ(AnchorIndex(mapping).target(mapping.value(0)), &mapping.key(0));
}

// Nine levels of ten aliases to the level before (a billion laughs): one
// entry per alias, nothing expanded.
TEST(AnchorIndex, AliasBombCostsOneEntryPerAlias) {
  std::vector<std::pair<std::string, YamlNode>> entries;
  entries.emplace_back("l0", anchored(YamlNode::scalar("lol"), "l0"));
  for (int level = 1; level < 10; ++level) {
    std::vector<YamlNode> refs;
    for (int i = 0; i < 10; ++i) refs.push_back(YamlNode::alias("l" + std::to_string(level - 1)));
    entries.emplace_back("l" + std::to_string(level),
                         anchored(items(std::move(refs)), "l" + std::to_string(level)));
  }
  const YamlNode root = pairs(std::move(entries));
  const AnchorIndex index(root);
  EXPECT_EQ(index.size(), 90u);
  EXPECT_EQ(index.target(root.value(9).items()[3]), &root.value(8));
}

YamlNode deep_sequence(std::uint64_t depth) {
  YamlNode node = YamlNode::alias("x");
  for (std::uint64_t i = 0; i < depth; ++i) node = items(of(std::move(node)));
  return anchored(std::move(node), "x");
}

TEST(AnchorIndex, DeepTreesNeedNoNativeStack) {
  testing::run_on_small_stack([] {
    const YamlNode root = deep_sequence(100'000);
    EXPECT_EQ(AnchorIndex(root).size(), 0u);  // the alias is inside its own anchor
    EXPECT_FALSE(tree_is_modified(root));
  });
}

TEST(TreeIsModified, FindsAnyChangedNode) {
  std::vector<std::pair<std::string, YamlNode>> entries;
  entries.emplace_back("a", items(of(YamlNode::scalar("1"))));
  entries.emplace_back("b", pairs({}));
  YamlNode root = pairs(std::move(entries));
  EXPECT_FALSE(tree_is_modified(root));
  root.value(0).items()[0].comments.modified = true;
  EXPECT_TRUE(tree_is_modified(root));
  root.value(0).items()[0].comments.modified = false;
  root.key(1).comments.modified = true;
  EXPECT_TRUE(tree_is_modified(root));
}

}  // namespace
}  // namespace ostrevane
