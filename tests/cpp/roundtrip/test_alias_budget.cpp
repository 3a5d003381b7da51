// Alias expansion measured on composed trees by the decoder's rule: the
// same text is refused at the same alias as the plain decoder refuses it,
// and each node is charged what the decoder charges for it.
#include <gtest/gtest.h>

#include <string>

#include "decode/decoder.hpp"
#include "roundtrip/alias_budget.hpp"
#include "roundtrip/composer/compose.hpp"
#include "util/alias_budget.hpp"
#include "util/limits.hpp"

namespace ostrevane {
namespace {

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

// The plain decoder's refusal of `text` and the composed trees' one.
struct Refusals {
  std::optional<DecodeError> decoded;
  std::optional<DecodeError> composed;
};

Refusals refusals(std::string_view text, LoadedTags tags = LoadedTags::Kept) {
  Refusals r;
  auto decoded = decode_stream(text, ResolverMode::Yaml12, false, false, false, false, false,
                               DecodedTexts::Owned, tags);
  if (!decoded) r.decoded = decoded.error();
  auto roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value()) << roots.error().message;
  if (roots) {
    auto checked = check_text_alias_budget(*roots, tags);
    if (!checked) r.composed = checked.error();
  }
  return r;
}

void expect_same_refusal(std::string_view text, LoadedTags tags = LoadedTags::Kept) {
  const Refusals r = refusals(text, tags);
  ASSERT_TRUE(r.decoded.has_value());
  ASSERT_TRUE(r.composed.has_value());
  EXPECT_EQ(r.decoded->message, kAliasBombMessage);
  EXPECT_EQ(r.composed->message, kAliasBombMessage);
  EXPECT_EQ(r.composed->span, r.decoded->span);
}

// Anchored values of every kind that the decoder charges apart: tags
// (custom ones as written, standard ones not at all), empty values, flow
// pairs, merge keys, integers beyond 64 bits, timestamps, nested aliases.
// Used as often as the budget allows and once more, the refusal falls on
// the same alias only when each use charges exactly the same.
class SameRefusal : public ::testing::TestWithParam<const char*> {};

TEST_P(SameRefusal, AtTheSameAlias) {
  const std::string head = GetParam();
  // Ten uses of *a in one anchored list, then enough uses of that list to
  // pass the node budget.
  const std::string ten = "- &b [" + repeat("*a, ", 10) + "]\n";
  const std::string uses = "- [" + repeat("*b, ", 200'000) + "]\n";
  expect_same_refusal(head + ten + uses);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SameRefusal,
    ::testing::Values(
        "- &z [q]\n- &a !t\n  k: [1, 2, ~, p: v, : w]\n  j: !!str x\n  e:\n  n: {}\n"
        "  g: !g\n  l:\n  - a\n  -\n  i: *z\n",
        "- &b {x: 1}\n- &a {<<: *b, y: 2, '<<': 3, z: <<}\n",
        "- &a [123456789012345678901234567890, 0x1F, 2001-12-14, 1.5, true, null, ~]\n",
        "- &a [!long-custom-tag-text 'quoted text', !<tag:example.com:x> v, !!binary AA]\n",
        "- &a !big [\"escaped \\t text\", 'it''s', |\n    block\n    text\n, >\n    folded\n]\n"));

TEST(SameRefusal, LongTextsFillTheByteBudget) {
  const std::string head = "- &a [" + repeat("x", 1000) + ", !t " + repeat("y", 1000) + "]\n";
  expect_same_refusal(head + "- [" + repeat("*a, ", 200'000) + "]\n");
}

TEST(SameRefusal, ChainsOfTenFold) {
  std::string text = "- &a0 [0,0,0,0,0,0,0,0,0,0]\n";
  for (int k = 1; k <= 6; ++k) {
    text +=
        "- &a" + std::to_string(k) + " [" + repeat("*a" + std::to_string(k - 1) + ",", 10) + "]\n";
  }
  expect_same_refusal(text);
}

TEST(SameRefusal, MergeChains) {
  std::string text = "m0: &m0 {k0: 0}\n";
  for (int i = 1; i < 3000; ++i) {
    text += "m" + std::to_string(i) + ": &m" + std::to_string(i) + " {<<: *m" +
            std::to_string(i - 1) + ", k" + std::to_string(i) + ": " + std::to_string(i) + "}\n";
  }
  expect_same_refusal(text);
}

// Where the tags reach Python (LoadedTags::Called), each use of a tag that
// a %TAG prefix makes longer counts what the expansion adds, and an alias of
// a tagged node the tag as it reads: refused at the same node on both
// roads, whatever the node's shape; where the tags are kept or dropped the
// same text loads.
class SameTagRefusal : public ::testing::TestWithParam<const char*> {};

TEST_P(SameTagRefusal, AtTheSameNode) {
  const std::string prefix = "tag:" + repeat("p", 100'000) + ":";
  const std::string text = "%TAG !e! " + prefix + "\n%TAG ! " + prefix + "\n%TAG !! " + prefix +
                           "\n---\n" + repeat(GetParam(), 3000);
  expect_same_refusal(text, LoadedTags::Called);
  for (const LoadedTags tags : {LoadedTags::Kept, LoadedTags::Dropped}) {
    const Refusals r = refusals(text, tags);
    EXPECT_FALSE(r.decoded.has_value());
    EXPECT_FALSE(r.composed.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SameTagRefusal,
                         ::testing::Values("- !e!x v\n", "- !e!x\n", "- !e!x [a]\n",
                                           "- !e!x\n  k: v\n", "- {!e!x k: v}\n",
                                           "- [!e!x , !e!x ]\n", "- !x v\n", "- !!x v\n",
                                           "- &a !e!x v\n- *a\n- [*a, *a]\n",
                                           "- &a !e!x\n  k: !e!y\n- *a\n"));

TEST(TextAliasBudget, IsSharedByAllDocuments) {
  const std::string doc = "--- [&a [" + repeat("0,", 999) + "], [" + repeat("*a,", 5000) + "]]\n";
  auto two = compose_documents(doc + doc);
  ASSERT_TRUE(two.has_value());
  EXPECT_TRUE(check_text_alias_budget(*two).has_value());
  expect_same_refusal(doc + doc + doc);
}

TEST(TextAliasBudget, WithinTheBudgetNothingIsRefused) {
  const Refusals r = refusals("- &a [x, y]\n- [" + repeat("*a, ", 1000) + "]\n");
  EXPECT_FALSE(r.decoded.has_value());
  EXPECT_FALSE(r.composed.has_value());
}

TEST(AliasBudgetCounter, NamesTheLimitPassed) {
  AliasBudget budget(10, 100);
  EXPECT_TRUE(budget.charge({10, 100}));
  EXPECT_EQ(budget.passed(), AliasBudget::Limit::None);
  EXPECT_EQ(budget.nodes_left(), 0u);
  EXPECT_FALSE(budget.charge({0, 1}));
  EXPECT_EQ(budget.passed(), AliasBudget::Limit::Bytes);
  EXPECT_EQ(budget.limit_text(), "100 bytes of scalar and tag text");
  // Once past, every later charge fails, however small.
  EXPECT_FALSE(budget.charge({0, 0}));
  EXPECT_FALSE(budget.charge({1, 0}));
  EXPECT_EQ(budget.passed(), AliasBudget::Limit::Nodes);
  EXPECT_EQ(budget.limit_text(), "10 nodes");
  EXPECT_EQ(AliasBudget::for_node_trees().limit_text(), "1000000 nodes");
  AliasBudget bytes = AliasBudget::for_text();
  EXPECT_FALSE(bytes.charge({1, limits::kAliasByteBudget + 1}));
  EXPECT_EQ(bytes.limit_text(), "268435456 bytes of scalar and tag text");
}

}  // namespace
}  // namespace ostrevane
