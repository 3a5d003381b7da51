// The plain decoder's limits: the alias budget in nodes and bytes, shared
// storage of aliased and anchored values, nesting depth and deep trees.
#include <gtest/gtest.h>

#include <string>

#include "decode/decoder.hpp"
#include "dump_value.hpp"
#include "util/limits.hpp"

namespace ostrevane {
namespace {

constexpr const char* kBomb = "document expands to too many nodes (possible alias bomb)";

Result<DecodedStream, DecodeError> decode(std::string_view text, bool dup_key_error = false) {
  return decode_stream(text, ResolverMode::Yaml12, dup_key_error, false, false, false, false);
}

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

// "- &aK [*aJ, ...]" lines: each level holds ten aliases of the one before.
std::string ten_fold_chain(std::string_view leaf, int levels, int aliases_in_last = 10) {
  std::string text = "- &a0 [" + repeat(std::string(leaf) + ",", 10) + "]\n";
  for (int k = 1; k <= levels; ++k) {
    const int count = k == levels ? aliases_in_last : 10;
    text += "- &a" + std::to_string(k) + " [" + repeat("*a" + std::to_string(k - 1) + ",", count) +
            "]\n";
  }
  return text;
}

TEST(AliasBudget, EachUseChargesTheFullNodeCount) {
  // a1..a5 charge 110, 1,110, 11,110, 111,110 and 1,111,110; inside a6 the
  // eighth alias is the first to pass 10,000,000.
  EXPECT_TRUE(decode(ten_fold_chain("0", 6, 7)));
  auto r = decode(ten_fold_chain("0", 6, 8));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, kBomb);
  EXPECT_EQ(r.error().span.line, 6u);
  EXPECT_EQ(r.error().span.column, 35u);  // the eighth "*a5"
}

TEST(AliasBudget, NodeCountsAreExactForEveryKindOfNode) {
  // An anchored value with tags, empty values, indentless sequences, flow
  // pairs and an alias inside: each use must charge exactly count_nodes.
  const std::string head =
      "- &z [q]\n"
      "- &a !t\n"
      "  k: [1, 2, ~, p: v, : w]\n"
      "  j: !!str x\n"
      "  e:\n"
      "  n: {}\n"
      "  g: !g\n"
      "  l:\n"
      "  - a\n"
      "  -\n"
      "  i: *z\n";
  auto first = decode(head);
  ASSERT_TRUE(first) << first.error().message;
  const std::uint64_t c = count_nodes(first->documents[0].items()[1]);
  ASSERT_EQ(c, 29u);
  // Uses of *a, then a filler anchor, bring the total to the budget exactly.
  const std::uint64_t already = 2;  // the *z inside &a
  const std::uint64_t uses = (limits::kAliasBudget - already) / c - 1;
  const std::uint64_t filler = limits::kAliasBudget - already - uses * c;
  const std::string text =
      head + "- &f [" + repeat("0,", filler - 1) + "]\n- [" + repeat("*a,", uses) + "]\n- *f\n";
  auto full = decode(text);
  ASSERT_TRUE(full) << full.error().message;
  auto over = decode(text + "- *z\n");
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().message, kBomb);
}

TEST(AliasBudget, ChargesBytesOfAliasedTexts) {
  // One long text fanned out through a short chain stays far below the node
  // budget but would multiply its bytes wherever the tree is expanded.
  const std::string big = repeat("x", 1000);
  auto ok = decode(ten_fold_chain(big, 4));  // 100,000 uses of the text
  ASSERT_TRUE(ok) << ok.error().message;
  auto r = decode(ten_fold_chain(big, 5));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, kBomb);

  // The byte budget is exact: 256 uses of a 1 MiB text fit, the 257th fails.
  const std::string mib = "- &s " + repeat("y", std::size_t{1} << 20) + "\n";
  const std::size_t uses = limits::kAliasByteBudget >> 20;
  EXPECT_TRUE(decode(mib + "- [" + repeat("*s,", uses) + "]\n"));
  auto over = decode(mib + "- [" + repeat("*s,", uses + 1) + "]\n");
  ASSERT_FALSE(over);
  EXPECT_EQ(over.error().message, kBomb);
}

TEST(AliasBudget, IsSharedByAllDocuments) {
  const std::string doc = "--- [&a [" + repeat("0,", 999) + "], [" + repeat("*a,", 5000) + "]]\n";
  EXPECT_TRUE(decode(doc + doc));
  auto r = decode(doc + doc + doc);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, kBomb);
}

TEST(AliasSharing, AliasedTextsShareOneBlock) {
  const std::string text = "- &s " + repeat("z", 100) + "\n- [*s, *s]\n";
  auto r = decode(text);
  ASSERT_TRUE(r);
  const Value& doc = r->documents[0];
  const void* id = doc.items()[0].text_identity();
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(doc.items()[1].items()[0].text_identity(), id);
  EXPECT_EQ(doc.items()[1].items()[1].text_identity(), id);
}

TEST(AliasSharing, NestedAnchorsRegisterTheTreesOwnNodes) {
  // Anchors hold handles on the decoded nodes, not copies: every level of a
  // nest of anchors and every alias share one text and one list storage.
  const std::string text = "- &o [&m [&i " + repeat("w", 100) + "]]\n- *o\n- *m\n- *i\n";
  auto r = decode(text);
  ASSERT_TRUE(r);
  const Value& doc = r->documents[0];
  const Value& outer = doc.items()[0];
  const void* id = outer.items()[0].items()[0].text_identity();
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(doc.items()[1].items().identity(), outer.items().identity());
  EXPECT_EQ(doc.items()[2].items().identity(), outer.items()[0].items().identity());
  EXPECT_EQ(doc.items()[3].text_identity(), id);
  EXPECT_EQ(testing::dump_value(doc.items()[2]), testing::dump_value(outer.items()[0]));
}

TEST(Nesting, ThousandLevelsDecode) {
  auto r = decode(repeat("[", 1000) + repeat("]", 1000));
  ASSERT_TRUE(r) << r.error().message;
  EXPECT_EQ(count_nodes(r->documents[0]), 1000u);
}

TEST(Nesting, LevelThousandAndOneFails) {
  auto r = decode(repeat("[", 1000) + "a" + repeat("]", 1000));
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(r.error().span.column, 1000u);  // at the scalar
}

TEST(Nesting, DeepBlockNestingFailsCleanly) {
  for (std::size_t depth : {1001u, 100'000u}) {
    auto r = decode(repeat("- ", depth) + "a\n");
    ASSERT_FALSE(r) << depth;
    EXPECT_EQ(r.error().message, "maximum nesting depth (1000) exceeded");
    EXPECT_EQ(r.error().span.line, 0u);
    EXPECT_EQ(r.error().span.column, 2000u);  // the 1001st '-'
  }
}

// The scanner stops at the first block level past the limit; what the
// decoder reports is still its own first error, wherever it is.
TEST(Nesting, DeepBlockNestingKeepsEarlierErrors) {
  std::string deep;
  for (std::size_t i = 0; i < 1'200; ++i) deep += std::string(i, ' ') + "k:\n";
  auto r = decode("a: 1\na: 2\nb:\n" + deep, true);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().category, DecodeErrorCategory::DuplicateKey);
  EXPECT_EQ(r.error().span.line, 1u);
  auto plain = decode("a: 1\nb:\n" + deep);
  ASSERT_FALSE(plain);
  EXPECT_EQ(plain.error().message, "maximum nesting depth (1000) exceeded");
  EXPECT_EQ(plain.error().span.line, 1001u);
  EXPECT_EQ(plain.error().span.column, 999u);
}

TEST(Nesting, AliasesBuildTreesDeeperThanTheLimit) {
  // Each level nests 900 sequences around the previous anchor: the expanded
  // tree is 18,000 levels deep. As a key it is refused where it stands,
  // before duplicate detection compares it (the interpreter would hash it
  // recursively); key identities and the merge pass still walk such trees.
  std::string text = "- &l0 " + repeat("[", 900) + "x" + repeat("]", 900) + "\n";
  for (int k = 1; k < 20; ++k) {
    text += "- &l" + std::to_string(k) + " " + repeat("[", 900) + "*l" + std::to_string(k - 1) +
            repeat("]", 900) + "\n";
  }
  text += "- {? *l19 : 1, ? *l19 : 2}\n";
  auto r = decode(text, true);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().category, DecodeErrorCategory::Syntax);
  EXPECT_EQ(r.error().message, "mapping key nests deeper than the maximum nesting depth (1000)");
  EXPECT_EQ(r.error().span.line, 20u);
  EXPECT_EQ(r.error().span.column, 5u);

  text.resize(text.rfind("- {"));
  auto chain = decode(text);
  ASSERT_TRUE(chain) << chain.error().message;
  EXPECT_EQ(canonical_key(chain->documents[0].items()[19]).size(),
            18'000u * std::string_view("seq:[]").size() + std::string_view("s:1:x").size());

  text += "- {<<: {k: *l19}, j: 1}\n";
  auto merged = decode(text);
  ASSERT_TRUE(merged) << merged.error().message;
  const Value& last = merged->documents[0].items()[20];
  ASSERT_EQ(last.pairs().size(), 2u);
  EXPECT_EQ(count_nodes(last), 18'000u + 1 + 4);
}

// A %TAG prefix is expanded once per tag text and document: every node that
// carries the tag shares that one text, so a long prefix used many times is
// held once.
TEST(TagTexts, OneExpansionIsSharedByEveryUse) {
  auto r = decode("%TAG !e! tag:" + repeat("p", 100) +
                  ":\n---\n- !e!a 1\n- !e!a [2]\n- !e!b 3\n...\n%TAG !e! tag:q:\n--- !e!a 4\n");
  ASSERT_TRUE(r) << r.error().message;
  const Value& first = r->documents[0];
  ASSERT_EQ(first.items().size(), 3u);
  EXPECT_EQ(first.items()[0].tag(), "tag:" + repeat("p", 100) + ":a");
  EXPECT_EQ(first.items()[0].tag_text().identity(), first.items()[1].tag_text().identity());
  EXPECT_NE(first.items()[0].tag_text().identity(), first.items()[2].tag_text().identity());
  EXPECT_EQ(first.items()[2].tag(), "tag:" + repeat("p", 100) + ":b");
  // The next document's own %TAG line decides what the handle means.
  EXPECT_EQ(r->documents[1].tag(), "tag:q:a");
}

TEST(TagTexts, DistinctExpansionsMeetTheBudget) {
  // Each distinct tag is a new 1 MB text: the input's size plus 4 MiB lets
  // five through and stops the sixth at its tag.
  std::string text = "%TAG !e! tag:" + repeat("x", 1'000'000) + "\n---\n";
  for (int i = 0; i < 20; ++i) text += "- !e!a" + std::to_string(i) + " 1\n";
  auto r = decode(text);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "expanded tag texts exceed the limit of " +
                                   std::to_string(text.size() + limits::kTagTextBudget) +
                                   " bytes (the input's size plus 4194304)");
  EXPECT_EQ(r.error().span.line, 7u);
  EXPECT_EQ(r.error().span.column, 2u);
  // The same tag twenty times is one text.
  std::string same = "%TAG !e! tag:" + repeat("x", 1'000'000) + "\n---\n";
  for (int i = 0; i < 20; ++i) same += "- !e!a 1\n";
  EXPECT_TRUE(decode(same));
}

}  // namespace
}  // namespace ostrevane
