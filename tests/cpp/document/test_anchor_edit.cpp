// The checks of anchor and alias edits: anchor names, the place of a new
// alias, and the stranded-alias check for an anchor removed on its own.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "roundtrip/document/anchor_edit.hpp"
#include "roundtrip/document/path.hpp"
#include "roundtrip/edit.hpp"
#include "small_stack.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::compose_one;

struct NameCase {
  std::string name;
  std::optional<AnchorNameFault> fault;
  std::string character;
};

class AnchorName : public ::testing::TestWithParam<NameCase> {};

TEST_P(AnchorName, FirstRefusedCharacterDecides) {
  const NameCase& c = GetParam();
  const Result<void, AnchorNameError> checked = validate_anchor_name(c.name);
  if (!c.fault) {
    EXPECT_TRUE(checked.has_value()) << c.name;
    return;
  }
  ASSERT_FALSE(checked.has_value()) << c.name;
  EXPECT_EQ(checked.error().fault, *c.fault) << c.name;
  EXPECT_EQ(checked.error().character, c.character) << c.name;
}

using F = AnchorNameFault;
INSTANTIATE_TEST_SUITE_P(
    Cases, AnchorName,
    ::testing::Values(
        NameCase{"x", std::nullopt, ""}, NameCase{"é-名*:&!", std::nullopt, ""},
        // NEL and the Unicode separators do not end a name
        NameCase{"a\u0085b\u2028c\u00a0", std::nullopt, ""}, NameCase{"", F::Empty, ""},
        NameCase{"a b", F::Separator, " "}, NameCase{"a\tb", F::Separator, "\t"},
        NameCase{std::string("a\0b", 3), F::Separator, std::string(1, '\0')},
        NameCase{"x}", F::Separator, "}"}, NameCase{"a\x01", F::ControlCharacter, "\x01"},
        NameCase{"a\x7f", F::ControlCharacter, "\x7f"},
        NameCase{"a\u0080", F::ControlCharacter, "\u0080"},
        NameCase{"\u009f", F::ControlCharacter, "\u009f"},
        NameCase{"a\uFFFEb", F::ControlCharacter, "\uFFFE"},
        NameCase{"\uFFFF", F::ControlCharacter, "\uFFFF"},
        // in order: the first refused character wins
        NameCase{"a\x1b b", F::ControlCharacter, "\x1b"}, NameCase{"a [\x1b", F::Separator, " "}));

struct PlaceCase {
  const char* text;
  std::vector<PathSegment> place;
  const char* name;
  std::optional<AliasPlaceFault> fault;
};

class AliasPlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(AliasPlace, NeedsADefinitionBeforeThePlace) {
  const PlaceCase& c = GetParam();
  const YamlNode root = compose_one(c.text);
  const YamlNode* place = resolve_node_path(std::span(&root, 1), 0, NodePath(c.place));
  ASSERT_NE(place, nullptr) << c.text;
  EXPECT_EQ(alias_place_fault(root, place, c.name), c.fault) << c.text;
}

using S = PathSegment;
using P = AliasPlaceFault;
INSTANTIATE_TEST_SUITE_P(
    Cases, AliasPlace,
    ::testing::Values(
        PlaceCase{"a: &x 1\nb: 2\n", {S::key("b")}, "x", std::nullopt},
        PlaceCase{"a: &x 1\nb: 2\n", {S::key("b")}, "y", P::NoAnchor},
        PlaceCase{"a: &x 1\nb: 2\n", {S::key("a")}, "x", P::Cycle},
        PlaceCase{"a: 1\nb: &x 2\n", {S::key("a")}, "x", P::NotBefore},
        // the anchor lies inside the place
        PlaceCase{"a: 1\nb: [&x 2]\n", {S::key("b")}, "x", P::NotBefore},
        PlaceCase{"&x {a: 1}\n", {S::key("a")}, "x", P::Cycle},
        PlaceCase{"a: &x [1, [2]]\n", {S::key("a"), S::index(1), S::index(0)}, "x", P::Cycle},
        // an earlier definition is read even inside a later one
        PlaceCase{"a: &x 1\nb: &x [2]\n", {S::key("b"), S::index(0)}, "x", std::nullopt},
        PlaceCase{"[&x 1, 2]\n", {S::index(1)}, "x", std::nullopt},
        PlaceCase{"[1, &x 2]\n", {S::index(0)}, "x", P::NotBefore},
        // the pairs a key's occurrence reaches: the anchored `a` is the last
        PlaceCase{"a: 1\nb: 2\na: &x 3\n", {S::key("b")}, "x", P::NotBefore},
        PlaceCase{"a: &x 1\nb: 2\na: 3\n", {S::key("b")}, "x", std::nullopt},
        PlaceCase{"a: &x 1\nb: 2\na: 3\n", {S::key("a")}, "x", std::nullopt},
        PlaceCase{"a: &x 1\nb: 2\na: 3\n", {S::key("a", 1)}, "x", P::Cycle},
        // a key is complete before its value
        PlaceCase{"&k key: v\n", {S::key("key")}, "k", std::nullopt},
        PlaceCase{"&k key: v\n", {S::key_node("key")}, "k", P::Cycle},
        // a definition inside a complex key counts where it stands
        PlaceCase{"? [&x 1]\n: v\nb: 2\n", {S::key("b")}, "x", std::nullopt}));

TEST(AliasPlace, OnlyDefinitionsOfThePlacesFileCount) {
  YamlNode root = compose_one("a: &x 1\nb: 2\n");
  root.value(1).span.file_id = 1;
  EXPECT_EQ(alias_place_fault(root, &root.value(1), "x"), P::NotBefore);
}

TEST(AliasPlace, WithoutAPlaceOnlyExistenceIsDecided) {
  const YamlNode root = compose_one("a: 1\nb: [&x 2]\n");
  EXPECT_EQ(alias_place_fault(root, nullptr, "x"), std::nullopt);
  EXPECT_EQ(alias_place_fault(root, nullptr, "y"), P::NoAnchor);
}

TEST(AliasPlace, DeepTreesOnASmallStack) {
  testing::run_on_small_stack([] {
    const YamlNode root = testing::deep_anchored_mapping(200'000, YamlNode::scalar("2"));
    EXPECT_EQ(alias_place_fault(root, &root.value(1), "x"), std::nullopt);
    EXPECT_EQ(alias_place_fault(root, &root.value(0), "x"), P::Cycle);
  });
}

struct AnchorRemovalCase {
  const char* text;
  std::vector<PathSegment> node;  // the node whose own anchor goes
  std::optional<std::string> stranded;
};

class AnchorRemoval : public ::testing::TestWithParam<AnchorRemovalCase> {};

TEST_P(AnchorRemoval, StrandsOnlyAliasesWhoseDefinitionGoes) {
  const AnchorRemovalCase& c = GetParam();
  const YamlNode root = compose_one(c.text);
  const YamlNode* node = resolve_node_path(std::span(&root, 1), 0, NodePath(c.node));
  ASSERT_NE(node, nullptr);
  const Removal removal{node, false, true};
  EXPECT_EQ(stranded_alias(root, std::span(&removal, 1)), c.stranded) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnchorRemoval,
    ::testing::Values(AnchorRemovalCase{"a: &x 1\nb: *x\n", {S::key("a")}, "x"},
                      AnchorRemovalCase{"a: &x 1\nb: 2\n", {S::key("a")}, std::nullopt},
                      // the alias would fall back to the earlier definition, another value
                      AnchorRemovalCase{"a: &x 1\nb: &x 2\nc: *x\n", {S::key("b")}, "x"},
                      AnchorRemovalCase{"a: &x 1\nb: &x 2\nc: *x\n", {S::key("a")}, std::nullopt},
                      AnchorRemovalCase{"a: &x 1\nb: *x\nc: &x 2\n", {S::key("a")}, "x"},
                      // what the node holds stays: its inner definitions and aliases too
                      AnchorRemovalCase{"a: &x [&y 1, *y]\nb: *y\n", {S::key("a")}, std::nullopt},
                      AnchorRemovalCase{"a: &y 0\nb: &x [*y]\n", {S::key("a")}, "y"}));

}  // namespace
}  // namespace ostrevane
