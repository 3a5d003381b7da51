// Node trees: ownership, deep copies, child listing and destruction of trees
// of any depth.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "roundtrip/node.hpp"
#include "small_stack.hpp"
#include "tree_builders.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

using testing::run_on_small_stack;

YamlNode scalar_at(std::string text, std::uint32_t line, std::uint32_t column) {
  YamlNode node = YamlNode::scalar(std::move(text));
  node.span = Span{line * 10u + column, 0, line, column};
  node.end_offset = node.span.offset + node.text().size();
  node.end_line = line;
  node.end_column = column + static_cast<std::uint32_t>(node.text().size());
  return node;
}

// A chain of `depth` single-item sequences around a scalar, built bottom up.
YamlNode deep_sequence(std::uint64_t depth) {
  YamlNode node = YamlNode::scalar("leaf");
  for (std::uint64_t i = 0; i < depth; ++i) {
    NodeList items;
    items.push_back(std::move(node));
    node = YamlNode::sequence(std::move(items));
  }
  return node;
}

// Counts nodes and the greatest depth with an explicit stack.
std::pair<std::uint64_t, std::uint64_t> count_iteratively(const YamlNode& root) {
  std::vector<std::pair<const YamlNode*, std::uint64_t>> work{{&root, 1}};
  std::vector<const YamlNode*> children;
  std::uint64_t nodes = 0, depth = 0;
  while (!work.empty()) {
    auto [node, level] = work.back();
    work.pop_back();
    ++nodes;
    depth = std::max(depth, level);
    children.clear();
    push_children(*node, children);
    for (const YamlNode* child : children) work.emplace_back(child, level + 1);
  }
  return {nodes, depth};
}

// The same count as a recursive walk: later walks over edited trees look
// like this, and must survive any depth through the guard.
std::uint64_t count_recursively(const YamlNode& node) {
  std::uint64_t total = 1;
  for (const YamlNode& child : node.children()) {
    total += with_stack_guard([&] { return count_recursively(child); });
  }
  return total;
}

TEST(YamlNode, MakersSetKindAndPayload) {
  EXPECT_EQ(YamlNode().kind(), NodeKind::Null);
  const YamlNode s = YamlNode::scalar("a b", ScalarStyle::DoubleQuoted);
  EXPECT_EQ(s.kind(), NodeKind::Scalar);
  EXPECT_EQ(s.text(), "a b");
  EXPECT_EQ(s.scalar_style(), ScalarStyle::DoubleQuoted);
  const YamlNode a = YamlNode::alias("x");
  EXPECT_EQ(a.kind(), NodeKind::Alias);
  EXPECT_EQ(a.text(), "x");
  EXPECT_EQ(node_kind_name(NodeKind::Mapping), "Mapping");
  EXPECT_EQ(collection_style_name(CollectionStyle::Flow), "Flow");
  EXPECT_EQ(collection_style_name(CollectionStyle::Block), "Block");
}

TEST(YamlNode, ExtrasAndCommentTextsAllocateOnlyWhenPresent) {
  YamlNode node = YamlNode::scalar("v");
  EXPECT_EQ(node.extras(), nullptr);
  EXPECT_EQ(node.comments.texts(), nullptr);
  EXPECT_FALSE(node.anchor());
  EXPECT_TRUE(node.directives().empty());
  EXPECT_TRUE(node.comments.head().empty());
  EXPECT_FALSE(node.comments.inline_comment());
  node.set_tag(std::nullopt);
  EXPECT_EQ(node.extras(), nullptr);
  node.set_anchor("a");
  node.set_tag("!!str");
  EXPECT_TRUE(node.has_anchor_or_tag());
  EXPECT_EQ(*node.anchor(), "a");
  EXPECT_EQ(*node.tag(), "!!str");
  node.comments.edit_head().push_back({"above", false});
  node.comments.edit_inline_comment() = "";
  ASSERT_NE(node.comments.texts(), nullptr);
  EXPECT_EQ(node.comments.head().size(), 1u);
  EXPECT_EQ(*node.comments.inline_comment(), "");
}

TEST(YamlNode, DebugText) {
  YamlNode node = YamlNode::scalar("a", ScalarStyle::SingleQuoted);
  node.span = Span{4, 2, 1, 3};
  node.end_offset = 7;
  node.end_line = 1;
  node.end_column = 6;
  node.set_tag("!t");
  node.explicit_key = true;
  EXPECT_EQ(node_debug_text(node),
            "YamlNode { kind: Scalar(\"a\", SingleQuoted), span: 4:1:3+2, end: 7:1:6, "
            "tag: \"!t\", style: Block, explicit_key }");
  YamlNode map = YamlNode::mapping({}, CollectionStyle::Flow);
  map.append_pair(YamlNode::alias("x"), YamlNode());
  EXPECT_EQ(node_debug_text(map),
            "YamlNode { kind: Mapping(1 pairs), span: 0:0:0+0, end: 0:0:0, style: Flow }");
}

// Two equal keys stay two pairs, in source order.
TEST(YamlNode, MappingKeepsDuplicateKeysInOrder) {
  YamlNode map = YamlNode::mapping({});
  map.append_pair(scalar_at("k", 0, 0), scalar_at("1", 0, 3));
  map.append_pair(scalar_at("k", 1, 0), scalar_at("2", 1, 3));
  ASSERT_EQ(map.pair_count(), 2u);
  EXPECT_EQ(map.key(0).text(), "k");
  EXPECT_EQ(map.value(0).text(), "1");
  EXPECT_EQ(map.key(1).text(), "k");
  EXPECT_EQ(map.value(1).text(), "2");
  EXPECT_EQ(map.key(1).span.line, 1u);
}

TEST(YamlNode, PushChildrenListsKeysThenValues) {
  YamlNode map = YamlNode::mapping({});
  map.append_pair(YamlNode::scalar("k1"), YamlNode::scalar("v1"));
  map.append_pair(YamlNode::scalar("k2"), YamlNode::scalar("v2"));
  std::vector<const YamlNode*> out;
  push_children(map, out);
  std::vector<std::string_view> texts;
  for (const YamlNode* n : out) texts.push_back(n->text());
  EXPECT_EQ(texts, (std::vector<std::string_view>{"k1", "v1", "k2", "v2"}));
  out.clear();
  push_children(YamlNode::scalar("s"), out);
  EXPECT_TRUE(out.empty());
}

// A copy keeps positions, flags and `modified`; editing it leaves the first
// tree as it was.
TEST(YamlNode, CloneIsDeepAndKeepsEveryField) {
  YamlNode map = YamlNode::mapping({}, CollectionStyle::Flow);
  YamlNode key = scalar_at("k", 2, 4);
  key.explicit_key = true;
  YamlNode value = scalar_at("v", 2, 7);
  value.comments.modified = true;
  value.comments.inline_spaces = 2;
  value.comments.edit_inline_comment() = "note";
  value.set_anchor("a");
  value.set_source(source_of("!include", "x.yaml", 3));
  map.append_pair(std::move(key), std::move(value));
  map.explicit_start = true;
  map.leading_bom = true;
  map.edit_extras().directives.push_back("YAML 1.2");

  YamlNode copy = map.clone();
  EXPECT_EQ(copy.style, CollectionStyle::Flow);
  EXPECT_TRUE(copy.explicit_start);
  EXPECT_TRUE(copy.leading_bom);
  EXPECT_EQ(copy.directives(), std::vector<std::string>{"YAML 1.2"});
  EXPECT_TRUE(copy.key(0).explicit_key);
  EXPECT_EQ(copy.key(0).span, (Span{24, 0, 2, 4}));
  EXPECT_EQ(copy.value(0).end_column, 8u);
  EXPECT_TRUE(copy.value(0).comments.modified);
  EXPECT_TRUE(copy.value(0).comments == map.value(0).comments);
  EXPECT_EQ(*copy.value(0).source(), source_of("!include", "x.yaml", 3));

  copy.value(0).edit_text() = "changed";
  copy.value(0).comments.edit_inline_comment() = "other";
  copy.value(0).set_anchor("b");
  EXPECT_EQ(map.value(0).text(), "v");
  EXPECT_EQ(*map.value(0).comments.inline_comment(), "note");
  EXPECT_EQ(*map.value(0).anchor(), "a");
}

// Moving a descendant over its own ancestor keeps the descendant's subtree.
TEST(YamlNode, MoveAssignFromOwnDescendant) {
  YamlNode inner = YamlNode::sequence({});
  inner.append_item(YamlNode::scalar("x"));
  YamlNode outer = YamlNode::sequence({});
  outer.append_item(std::move(inner));
  outer.append_item(YamlNode::scalar("y"));
  outer = std::move(outer.items()[0]);
  ASSERT_EQ(outer.kind(), NodeKind::Sequence);
  ASSERT_EQ(outer.item_count(), 1u);
  EXPECT_EQ(outer.items()[0].text(), "x");
}

// Edits can stack trees far deeper than the composer's limit: a tree a
// million levels deep is cloned, walked and dropped on a 256 KiB stack.
TEST(YamlNode, MillionLevelsOnSmallThreadStack) {
  constexpr std::uint64_t kDeep = 1'000'000;
  std::uint64_t nodes = 0, depth = 0, copied_nodes = 0, recursive_nodes = 0;
  run_on_small_stack([&] {
    YamlNode tree = deep_sequence(kDeep);
    YamlNode copy = tree.clone();
    std::tie(nodes, depth) = count_iteratively(tree);
    copied_nodes = count_iteratively(copy).first;
    recursive_nodes = count_recursively(copy);
    drop_node_iterative(std::move(tree));
    // `copy` goes with the scope: ~YamlNode itself never recurses.
  });
  EXPECT_EQ(nodes, kDeep + 1);
  EXPECT_EQ(depth, kDeep + 1);
  EXPECT_EQ(copied_nodes, kDeep + 1);
  EXPECT_EQ(recursive_nodes, kDeep + 1);
}

// A deep tree inside a mapping value, replaced and turned into a scalar:
// set_* and assignment drop the old subtree without recursion too.
TEST(YamlNode, ReplacingDeepSubtreesOnSmallThreadStack) {
  bool done = false;
  run_on_small_stack([&] {
    YamlNode map = YamlNode::mapping({});
    map.append_pair(YamlNode::scalar("k"), deep_sequence(200'000));
    map.value(0) = deep_sequence(200'000);
    map.value(0).set_scalar("flat", ScalarStyle::Plain);
    map.append_pair(YamlNode::scalar("k2"), deep_sequence(200'000));
    map.set_null();
    done = true;
  });
  EXPECT_TRUE(done);
}

}  // namespace
}  // namespace ostrevane
