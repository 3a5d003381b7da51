// Node paths: walks by key text with occurrences, by index, and back from a
// node to its path; and nested nodes copied as documents of their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roundtrip/composer/compose.hpp"
#include "roundtrip/document/path.hpp"
#include "roundtrip/document/subtree.hpp"

namespace ostrevane {
namespace {

NodeList compose(std::string_view text) {
  auto roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value()) << text;
  return roots ? std::move(*roots) : NodeList{};
}

// What a path reaches: a scalar's text, "<kind>" for other nodes, "stale".
std::string reached(const NodeList& roots, std::size_t root, const NodePath& path) {
  const YamlNode* node = resolve_node_path(roots, root, path);
  if (node == nullptr) return "stale";
  if (node->kind() == NodeKind::Scalar) return std::string(node->text());
  return "<" + std::string(node_kind_name(node->kind())) + ">";
}

NodePath path_of(std::vector<PathSegment> steps) { return NodePath(std::move(steps)); }

struct WalkCase {
  const char* text;
  std::vector<PathSegment> path;
  std::size_t root;
  const char* expected;
};

TEST(NodePath, Walks) {
  using S = PathSegment;
  const WalkCase cases[] = {
      {"a: 1\na: 2\n", {S::key("a")}, 0, "2"},
      {"a: 1\na: 2\n", {S::key("a", 1)}, 0, "1"},
      {"a: 1\na: 2\n", {S::key("a", 2)}, 0, "stale"},
      {"'1': a\n1: b\n", {S::key("1")}, 0, "b"},
      {"'1': a\n1: b\n", {S::key("1", 1)}, 0, "a"},
      {"k: v\n", {S::key_node("k")}, 0, "k"},
      {"[x, y]\n", {S::index(1)}, 0, "y"},
      {"[x, y]\n", {S::index(2)}, 0, "stale"},
      {"[x, y]\n", {S::key("0")}, 0, "stale"},
      {"a: [x]\n", {S::index(0)}, 0, "stale"},
      {"a: &x {b: 1}\nc: *x\n", {S::key("c"), S::key("b")}, 0, "stale"},
      {"a: &x {b: 1}\nc: *x\n", {S::key("c")}, 0, "<Alias>"},
      {"? [1]\n: v\n", {S::key("[1]")}, 0, "stale"},
      {"a: 1\n--- {a: 2}\n", {S::key("a")}, 1, "2"},
      {"a: 1\n--- {a: 2}\n", {}, 2, "stale"},
      {"", {}, 0, "stale"},
  };
  for (const WalkCase& c : cases) {
    const NodeList roots = compose(c.text);
    EXPECT_EQ(reached(roots, c.root, path_of(c.path)), c.expected) << c.text;
  }
}

TEST(NodePath, PairStepNamesThePairAmongEqualTexts) {
  const NodeList roots = compose("a: 1\n'a': 2\nb: 3\na: 4\n");
  const YamlNode& map = roots[0];
  EXPECT_EQ(pair_step(map, 0), PathSegment::key("a", 2));
  EXPECT_EQ(pair_step(map, 1), PathSegment::key("a", 1));
  EXPECT_EQ(pair_step(map, 2), PathSegment::key("b", 0));
  EXPECT_EQ(pair_step(map, 3), PathSegment::key("a", 0));
}

// Every node a path can reach is found again by address, and the path
// found leads back to it.
TEST(NodePath, FindNodePathInvertsTheWalk) {
  const char* texts[] = {
      "a: {b: [1, {c: d}], b2: x}\na: dup\n'a': q\n",
      "- [1, 2]\n- {k: &x v}\n- *x\n",
      "&k key: value\n",
  };
  for (const char* text : texts) {
    const NodeList roots = compose(text);
    std::vector<const YamlNode*> stack{&roots[0]};
    std::size_t seen = 0;
    while (!stack.empty()) {
      const YamlNode* node = stack.back();
      stack.pop_back();
      push_children(*node, stack);
      const std::optional<NodePath> path = find_node_path(roots[0], *node);
      ASSERT_TRUE(path.has_value()) << text;
      EXPECT_EQ(resolve_node_path(roots, 0, *path), node) << text;
      ++seen;
    }
    EXPECT_GE(seen, 3u);
  }
}

TEST(NodePath, NodesUnderComplexKeysHaveNoPath) {
  const NodeList roots = compose("? [a, {b: c}]\n: v\nk: w\n");
  const YamlNode& map = roots[0];
  EXPECT_FALSE(find_node_path(map, map.key(0)).has_value());
  EXPECT_FALSE(find_node_path(map, map.key(0).items()[1]).has_value());
  EXPECT_FALSE(find_node_path(map, map.value(0)).has_value());
  const std::optional<NodePath> w = find_node_path(map, map.value(1));
  ASSERT_TRUE(w.has_value());
  EXPECT_EQ(*w, path_of({PathSegment::key("k")}));
  const YamlNode other = YamlNode::scalar("elsewhere");
  EXPECT_FALSE(find_node_path(map, other).has_value());
}

// A path designates whatever stands at its place when it is walked.
TEST(NodePath, PathsFollowEdits) {
  NodeList roots = compose("a: {b: 1}\nl: [x, y, z]\n");
  const NodePath b = path_of({PathSegment::key("a"), PathSegment::key("b")});
  const NodePath item = path_of({PathSegment::key("l"), PathSegment::index(2)});
  NodeList& pairs = roots[0].edit_children();
  NodeList removed;
  removed.push_back(std::move(pairs[0]));
  removed.push_back(std::move(pairs[1]));
  pairs.erase(pairs.begin(), pairs.begin() + 2);
  EXPECT_EQ(reached(roots, 0, b), "stale");
  roots[0].append_pair(std::move(removed[0]), std::move(removed[1]));
  EXPECT_EQ(reached(roots, 0, b), "1");
  YamlNode* list = resolve_node_path_for_edit(roots, 0, path_of({PathSegment::key("l")}));
  ASSERT_NE(list, nullptr);
  list->edit_children().erase(list->edit_children().begin());
  EXPECT_EQ(reached(roots, 0, item), "stale");
  EXPECT_EQ(reached(roots, 0, path_of({PathSegment::key("l"), PathSegment::index(1)})), "z");
}

TEST(NodePath, MappingHasTextKey) {
  const NodeList roots = compose("1: a\n'b': c\n? [d]\n: e\n");
  EXPECT_TRUE(mapping_has_text_key(roots[0], "1"));
  EXPECT_TRUE(mapping_has_text_key(roots[0], "b"));
  EXPECT_FALSE(mapping_has_text_key(roots[0], "d"));
  EXPECT_FALSE(mapping_has_text_key(roots[0].value(0), "a"));
}

// ---------------------------------------------------------------------------
// Nested nodes as documents.

struct SubtreeCase {
  const char* text;
  std::vector<PathSegment> path;
  // The copy's aliases and anchors, and its directives, in one line.
  const char* expected;
};

std::string describe(const YamlNode& node) {
  std::string out;
  for (const std::string& d : node.directives()) out += "%" + d + " ";
  std::vector<const YamlNode*> stack{&node};
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    if (n->anchor()) out += "&" + *n->anchor() + " ";
    if (n->kind() == NodeKind::Alias) out += "*" + std::string(n->text()) + " ";
    if (n->kind() == NodeKind::Scalar) out += std::string(n->text()) + " ";
    if (n->kind() == NodeKind::Null) out += "~ ";
    const auto children = n->children();
    for (std::size_t i = children.size(); i-- > 0;) stack.push_back(&children[i]);
  }
  return out;
}

TEST(SubtreeDocument, ExpandsOnlyWhatLiesOutside) {
  using S = PathSegment;
  const SubtreeCase cases[] = {
      {"b: &b {x: 1}\nu: {k: *b}\n", {S::key("u")}, "k x 1 "},
      {"u: {j: &i [1], l: *i}\n", {S::key("u")}, "j &i 1 l *i "},
      {"b: &b {x: &y 1}\nu: {k: *b, m: *y}\n", {S::key("u")}, "k x 1 m 1 "},
      {"b: &b [1]\nc: &c [*b, *b]\nu: {k: *c}\n", {S::key("u")}, "k 1 1 "},
      {"%TAG !e! tag:e,2000:\n%TAG !f! tag:f,2000:\n---\nu: {t: !f!t v}\n",
       {S::key("u")},
       "%TAG !f! tag:f,2000: t v "},
      {"%TAG !e! tag:e,2000:\n---\nu: {t: !!str v}\n", {S::key("u")}, "t v "},
  };
  for (const SubtreeCase& c : cases) {
    const NodeList roots = compose(c.text);
    const YamlNode* node = resolve_node_path(roots, 0, path_of(c.path));
    ASSERT_NE(node, nullptr) << c.text;
    auto copy = subtree_document(roots[0], *node);
    ASSERT_TRUE(copy.has_value()) << c.text;
    EXPECT_EQ(describe(*copy), c.expected) << c.text;
  }
}

TEST(SubtreeDocument, AnAliasWithoutDefinitionReadsAsNull) {
  NodeList roots = compose("u: {k: v}\n");
  roots[0].value(0).value(0).set_alias("gone");
  auto copy = subtree_document(roots[0], roots[0].value(0));
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(describe(*copy), "k ~ ");
}

}  // namespace
}  // namespace ostrevane
