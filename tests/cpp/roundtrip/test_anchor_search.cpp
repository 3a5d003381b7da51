// The anchor and alias searches that cursors use: where a definition
// stands, which definition an alias reads, which aliases read a definition,
// and every anchored node; all answered as paths.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/composer/compose.hpp"
#include "roundtrip/document/anchor_search.hpp"
#include "small_stack.hpp"

namespace ostrevane {
namespace {

YamlNode compose_root(std::string_view text) {
  auto roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value() && !roots->empty()) << text;
  if (!roots || roots->empty()) return YamlNode();
  return std::move(roots->front());
}

// A path as text: "a" for Key a, "&a" for KeyNode a, "0" for Index 0, an
// occurrence after "~"; steps joined by "/"; "" for the root.
std::string show(const NodePath& path) {
  std::string text;
  for (const PathSegment& step : path.segments()) {
    if (!text.empty()) text += '/';
    if (step.kind == PathSegment::Kind::Index) {
      text += std::to_string(step.number);
      continue;
    }
    if (step.kind == PathSegment::Kind::KeyNode) text += '&';
    text += step.text;
    if (step.number != 0) text += "~" + std::to_string(step.number);
  }
  return text;
}

std::string show(const std::optional<NodePath>& path) { return path ? show(*path) : "none"; }

std::string show(const std::vector<NodePath>& paths) {
  std::string text;
  for (const NodePath& path : paths) text += "[" + show(path) + "]";
  return text;
}

const YamlNode& at(const YamlNode& root, std::vector<PathSegment> steps) {
  const YamlNode* node = resolve_node_path(std::span(&root, 1), 0, NodePath(std::move(steps)));
  EXPECT_NE(node, nullptr);
  return node != nullptr ? *node : root;
}

struct FirstCase {
  const char* text;
  const char* name;
  const char* expected;
};

TEST(AnchorSearch, FirstDefinitionInDocumentOrder) {
  const FirstCase cases[] = {
      {"a: &x 1\nb: *x\n", "x", "a"},
      {"&k key: v\n", "k", "&key"},
      {"? [1, 2]\n: &x v\nb: 1\n", "x", "none"},
      {"a: &x 1\nb: &x 2\n", "x", "a"},
      {"a: 1\na: &x 2\n", "x", "a"},
      {"a: &x 1\na: 2\n", "x", "a~1"},
      {"- a\n- [b, &x c]\n", "x", "1/1"},
      {"&x [1]\n", "x", ""},
      {"a: &x 1\n", "y", "none"},
      {"a: {b: &x [1, &y 2]}\n", "y", "a/b/1"},
  };
  for (const FirstCase& c : cases) {
    EXPECT_EQ(show(find_anchor_path(compose_root(c.text), c.name)), c.expected) << c.text;
  }
}

struct ReaderCase {
  const char* text;
  std::vector<PathSegment> reader;
  const char* name;
  const char* expected;
};

TEST(AnchorSearch, DefinitionAReaderReads) {
  using S = PathSegment;
  const ReaderCase cases[] = {
      // The nearest complete definition before the reader.
      {"a: &x 1\nb: &x 2\nc: *x\n", {S::key("c")}, "x", "b"},
      {"a: &x 1\nb: *x\nc: &x 2\n", {S::key("b")}, "x", "a"},
      // Inside a second definition the first one still counts.
      {"a: &x 1\nb: &x [*x]\n", {S::key("b"), S::index(0)}, "x", "a"},
      {"a: &x {k: &x 1}\nb: *x\n", {S::key("b")}, "x", "a"},
      // A place that may become an alias: its own anchor and its contents
      // are not before it.
      {"a: &x 1\nb: &x 2\n", {S::key("b")}, "x", "a"},
      {"a: &x 1\nb: [&x 2]\n", {S::key("b")}, "x", "a"},
      {"a: 1\nb: &x 2\n", {S::key("a")}, "x", "none"},
      {"a: &x 1\n", {}, "x", "none"},
      // A definition under a collection key has no path, and it is the one
      // read.
      {"a: &x 1\n? [&x 2]\n: 3\nb: *x\n", {S::key("b")}, "x", "none"},
      // Repeated keys: the step names the pair met.
      {"a: &x 1\na: 2\nb: *x\n", {S::key("b")}, "x", "a~1"},
      {"&k key: v\nb: *k\n", {S::key("b")}, "k", "&key"},
  };
  for (const ReaderCase& c : cases) {
    const YamlNode root = compose_root(c.text);
    const YamlNode& reader = at(root, c.reader);
    EXPECT_EQ(show(find_anchor_path(root, c.name, reader)), c.expected) << c.text;
  }
}

// Definitions count only within the reader's file: an included file's
// anchors never capture its includer's aliases.
TEST(AnchorSearch, ReaderReadsOnlyItsOwnFile) {
  YamlNode root = compose_root("a: &x 1\nb: &x 2\nc: *x\n");
  root.value(1).span.file_id = 1;
  EXPECT_EQ(show(find_anchor_path(root, "x", root.value(2))), "a");
  root.value(2).span.file_id = 1;
  EXPECT_EQ(show(find_anchor_path(root, "x", root.value(2))), "b");
}

struct AliasCase {
  const char* text;
  std::vector<PathSegment> definition;
  const char* expected;
};

TEST(AnchorSearch, AliasesThatReadADefinition) {
  using S = PathSegment;
  const AliasCase cases[] = {
      {"a: &x 1\nb: *x\nc: [*x]\n", {S::key("a")}, "[b][c/0]"},
      {"a: &x 1\nb: *x\nc: &x 2\nd: *x\n", {S::key("a")}, "[b]"},
      {"a: &x 1\nb: *x\nc: &x 2\nd: *x\n", {S::key("c")}, "[d]"},
      // An alias standing as a key is not reported.
      {"a: &x 1\n*x : 2\nb: *x\n", {S::key("a")}, "[b]"},
      {"a: 1\nb: 2\n", {S::key("a")}, ""},
      {"a: &x 1\nb: &y 2\nc: *y\n", {S::key("a")}, ""},
      {"a: &x [1, 2]\nb: {c: *x, d: *x}\n", {S::key("a")}, "[b/c][b/d]"},
  };
  for (const AliasCase& c : cases) {
    const YamlNode root = compose_root(c.text);
    EXPECT_EQ(show(collect_alias_paths(root, at(root, c.definition))), c.expected) << c.text;
  }
}

struct AnchorsCase {
  const char* text;
  const char* expected;
};

TEST(AnchorSearch, EveryAnchoredNode) {
  const AnchorsCase cases[] = {
      {"a: &x 1\nb: &x 2\n", "x=a x=b"},
      {"&r {&k k: &v v}\n", "r= k=&k v=k"},
      {"- &a [&b 1]\n- &c 2\n", "a=0 b=0/0 c=1"},
      {"? [&x 1]\n: &y 2\nz: &z 3\n", "z=z"},
      {"a: 1\n", ""},
  };
  for (const AnchorsCase& c : cases) {
    std::string text;
    for (const AnchorEntry& entry : collect_anchors(compose_root(c.text))) {
      if (!text.empty()) text += ' ';
      text += entry.name + "=" + show(entry.path);
    }
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

// Many anchored values under repeated keys: each path names its own pair.
TEST(AnchorSearch, OccurrencesUnderRepeatedKeys) {
  std::string text;
  for (int i = 0; i < 200; ++i)
    text += (i % 2 ? "b" : "a") + std::string(": &n") + std::to_string(i) + " " +
            std::to_string(i) + "\n";
  const YamlNode root = compose_root(text);
  const std::vector<AnchorEntry> entries = collect_anchors(root);
  ASSERT_EQ(entries.size(), 200u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const YamlNode* node = resolve_node_path(std::span(&root, 1), 0, entries[i].path);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(), std::to_string(i));
  }
}

// The walks keep their own stack: a tree far deeper than the composer
// allows (edits can build one) is searched on a small native stack.
TEST(AnchorSearch, DeepTreesOnASmallStack) {
  constexpr int kDepth = 100000;
  YamlNode node = YamlNode::alias("x");
  for (int i = 0; i < kDepth; ++i) {
    NodeList items;
    items.push_back(std::move(node));
    node = YamlNode::sequence(std::move(items));
  }
  NodeList top;
  YamlNode defined = YamlNode::scalar("1");
  defined.set_anchor("x");
  top.push_back(std::move(defined));
  top.push_back(std::move(node));
  const YamlNode root = YamlNode::sequence(std::move(top));
  testing::run_on_small_stack([&] {
    EXPECT_EQ(show(find_anchor_path(root, "x")), "0");
    EXPECT_EQ(collect_alias_paths(root, root.items()[0]).size(), 1u);
    EXPECT_EQ(collect_anchors(root).size(), 1u);
    const YamlNode* alias = &root.items()[1];
    while (alias->kind() == NodeKind::Sequence) alias = &alias->items()[0];
    EXPECT_EQ(show(find_anchor_path(root, "x", *alias)), "0");
  });
}

}  // namespace
}  // namespace ostrevane
