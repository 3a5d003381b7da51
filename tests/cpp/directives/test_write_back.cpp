// Include write-back internals: the dirtiness tests at include boundaries,
// the path map's merging and conflicts, and walks over trees deeper than any
// native stack.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "directives/write_back.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

YamlNode included(YamlNode node, std::uint32_t file_id) {
  node.set_source(source_of("!include", "x.yaml", file_id));
  return node;
}

YamlNode modified(YamlNode node) {
  node.comments.modified = true;
  return node;
}

YamlNode pair_map(YamlNode key, YamlNode value) {
  NodeList kv;
  kv.push_back(std::move(key));
  kv.push_back(std::move(value));
  return YamlNode::mapping(std::move(kv));
}

TEST(WriteBackDirty, BoundariesStopTheTestsExceptAtAKey) {
  // A change below an include belongs to the included file.
  const YamlNode under_include =
      pair_map(YamlNode::scalar("k"), included(modified(YamlNode::scalar("v")), 1));
  EXPECT_FALSE(own_part_is_dirty(under_include));
  EXPECT_FALSE(node_is_dirty(under_include.value(0)));
  // A key's own source is not a boundary.
  const YamlNode key_with_source =
      pair_map(included(modified(YamlNode::scalar("k")), 1), YamlNode::scalar("v"));
  EXPECT_TRUE(pair_is_dirty(key_with_source.key(0), key_with_source.value(0)));
  // The include node itself is tested on its own part.
  const YamlNode include = included(pair_map(YamlNode::scalar("k"), modified(YamlNode::null())), 1);
  EXPECT_FALSE(node_is_dirty(include));
  EXPECT_TRUE(own_part_is_dirty(include));
}

YamlNode deep_include(bool leaf_modified) {
  YamlNode node = YamlNode::scalar("leaf");
  node.comments.modified = leaf_modified;
  for (int i = 0; i < 200000; ++i) {
    NodeList items;
    items.push_back(std::move(node));
    node = YamlNode::sequence(std::move(items), CollectionStyle::Flow);
  }
  return included(std::move(node), 0);
}

TEST(WriteBackDirty, DeepTreesAreWalkedWithoutRecursion) {
  EXPECT_TRUE(own_part_is_dirty(deep_include(true)));
  const YamlNode clean = deep_include(false);
  EXPECT_FALSE(own_part_is_dirty(clean));
  std::vector<IncludeText> texts;
  collect_include_texts(clean, {std::string("stored")}, {}, texts);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_FALSE(texts[0].dirty);
  EXPECT_EQ(texts[0].text, "stored");
  DocumentData data;
  data.file_paths = {"/r/<root>"};
  data.roots.push_back(deep_include(true));
  EXPECT_TRUE(main_file_is_dirty(data));
  EXPECT_TRUE(check_writable_edits(data));
}

TEST(WriteBackMapTest, MergesEqualTextsByPathAndRefusesOthers) {
  WriteBackMap map;
  ASSERT_TRUE(map.add("/r/a.yaml", "one", false));
  ASSERT_TRUE(map.add("/r//a.yaml/", "one", true));
  ASSERT_TRUE(map.add("/r/b.yaml", "two", false));
  ASSERT_EQ(map.entries().size(), 2u);
  EXPECT_EQ(map.entries()[0].path, "/r/a.yaml");
  EXPECT_TRUE(map.entries()[0].dirty);
  auto conflict = map.add("/r/b.yaml", "three", true);
  ASSERT_FALSE(conflict);
  EXPECT_EQ(conflict.error().message,
            "'/r/b.yaml' is included more than once with conflicting edits; write-back cannot "
            "store two different versions of one file");
  EXPECT_EQ(conflict.error().file, "/r/b.yaml");
  EXPECT_EQ(conflict.error().kind, IncludeErrorKind::Include);
  EXPECT_FALSE(conflict.error().span);
  EXPECT_TRUE(conflict.error().include_chain.empty());
}

TEST(WriteBackOutputs, FileIdsOutsideTheTableAreLeftOut) {
  DocumentData data;
  data.file_paths = {"/r/<root>", "/r/a.yaml"};
  data.file_texts = {std::string("main"), std::string("a: 1\n")};
  NodeList kv;
  kv.push_back(YamlNode::scalar("a"));
  kv.push_back(included(YamlNode::scalar("x"), 1));
  kv.push_back(YamlNode::scalar("b"));
  kv.push_back(included(YamlNode::scalar("y"), 7));
  data.roots.push_back(YamlNode::mapping(std::move(kv)));
  auto map = collect_include_outputs(data);
  ASSERT_TRUE(map);
  ASSERT_EQ(map->entries().size(), 1u);
  EXPECT_EQ(map->entries()[0].text, "a: 1\n");
  data.file_paths.clear();
  auto none = collect_include_outputs(data);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().failure, WriteBackFailure::NoFileTable);
}

}  // namespace
}  // namespace ostrevane
