// The round-trip emitter over hand-built trees: the options of the dumps
// road (width, quote preference, null styles, indentation), document
// framing, and the forms chosen where the recorded one would not read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "emit_builders.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "small_stack.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

using namespace test;

EmitterSettings dump_settings(std::size_t width = 0, bool single = false,
                              NullStyle null_style = NullStyle::Default) {
  EmitterSettings s;
  s.indent = 2;
  s.width = width;
  s.dump_layout = true;
  s.prefer_single_quotes = single;
  s.null_style = null_style;
  return s;
}

// --- Null styles of synthetic nulls, composed nulls under every style ---

struct NullCase {
  NullStyle style;
  const char* mapping_value;
  const char* item;
  const char* flow;
  const char* root;
};

class NullStyles : public ::testing::TestWithParam<NullCase> {};

TEST_P(NullStyles, SyntheticNullsFollowTheStyleComposedOnesDoNot) {
  const NullCase& c = GetParam();
  EXPECT_EQ(emit_text(map(str("a"), synthetic_null()), c.style), c.mapping_value);
  EXPECT_EQ(emit_text(seq(synthetic_null()), c.style), c.item);
  EXPECT_EQ(emit_text(flow_seq(synthetic_null(), YamlNode::null()), c.style), c.flow);
  EXPECT_EQ(emit_text(tagged(synthetic_null(), "!x"), c.style), c.root);
  // Composed nulls: the same under every style.
  EXPECT_EQ(emit_text(map(str("a"), YamlNode::null()), c.style), "a:\n");
  EXPECT_EQ(emit_text(map(str("a"), tagged(YamlNode::null(), "!t")), c.style), "a: !t\n");
  EXPECT_EQ(emit_text(YamlNode::null(), c.style), "null\n");
}

INSTANTIATE_TEST_SUITE_P(
    Emit, NullStyles,
    ::testing::Values(NullCase{NullStyle::Keyword, "a: null\n", "- null\n", "[null, null]\n",
                               "!x null\n"},
                      NullCase{NullStyle::Default, "a:\n", "-\n", "[null, null]\n", "!x\n"},
                      NullCase{NullStyle::Tilde, "a: ~\n", "- ~\n", "[~, null]\n", "!x ~\n"}));

// A composed empty value keeps its comment on its line ('a:  # c' reads the
// comment back as the value's); a synthetic null is written as a value.
TEST(Emit, NullWithInlineCommentIsWrittenAsAValue) {
  EXPECT_EQ(emit_text(map(str("a"), with_inline(YamlNode::null(), "c", 2))), "a:  # c\n");
  EXPECT_EQ(emit_text(map(str("a"), with_inline(synthetic_null(), "c")), NullStyle::Tilde),
            "a: ~ # c\n");
}

// --- Width, folding and quote choice ---

TEST(Emit, LongPlainValueIsFoldedInQuotesAtTheWidth) {
  const YamlNode root = map(str("k"), str("the quick brown fox jumps over"));
  EXPECT_EQ(emit_with(root, dump_settings(20, true)), "k: 'the quick brown\n   fox jumps over'\n");
  EXPECT_EQ(emit_with(root, dump_settings(20, false)),
            "k: \"the quick brown\n   fox jumps over\"\n");
  const YamlNode quote = map(str("k"), str("the quick brown fox's jump"));
  EXPECT_EQ(emit_with(quote, dump_settings(20, true)), "k: \"the quick brown\n   fox's jump\"\n");
}

TEST(Emit, TextWithoutFoldPointStaysPlainAndLong) {
  const std::string letters(25, 'a');
  EXPECT_EQ(emit_with(map(str("k"), str(letters)), dump_settings(20, true)),
            "k: " + letters + "\n");
}

TEST(Emit, KeysAreNeverFoldedOrQuotedForWidth) {
  const std::string key = "a very long key with many words in it";
  EXPECT_EQ(emit_with(map(str(key), str("v")), dump_settings(10, true)), key + ": v\n");
}

TEST(Emit, FlowSeparatorsBreakAtTheWidth) {
  const YamlNode root = map(str("k"), flow_seq(str("1"), str("2"), str("3")));
  EXPECT_EQ(emit_with(root, dump_settings(4)), "k: [1,\n  2,\n  3]\n");
  EXPECT_EQ(emit_with(root, dump_settings(5)), "k: [1,\n  2, 3]\n");
  EXPECT_EQ(emit_with(root, dump_settings(0)), "k: [1, 2, 3]\n");
  const YamlNode top = flow_seq(str("1"), str("2"));
  EXPECT_EQ(emit_with(top, dump_settings(1)), "[1,\n  2]\n");
}

TEST(Emit, QuoteChoiceUnderPreferSingleQuotes) {
  // Quoted because of the flow indicators: single where it can, else double.
  struct Case {
    const char* text;
    bool single;
    const char* expected;
  };
  const Case cases[] = {
      {"a, b", true, "['a, b']\n"},
      {"a, b", false, "[\"a, b\"]\n"},
      {"it's, b", true, "[\"it's, b\"]\n"},
      {"tab\t, b", true, "[\"tab\\t, b\"]\n"},
      {"key:", true, "['key:']\n"},
      {"a:b", true, "[a:b]\n"},
      {"\xEF\xBB\xBFx", true, "['\xEF\xBB\xBFx']\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(emit_with(flow_seq(str(c.text)), dump_settings(0, c.single)), c.expected) << c.text;
  }
  // The same text as a block value stays plain.
  EXPECT_EQ(emit_with(map(str("k"), str("a, b")), dump_settings(0, true)), "k: a, b\n");
  // A value indicator or a comment would cut it short anywhere.
  EXPECT_EQ(
      emit_with(seq(str("a: b"), str("a #b"), str("k:"), str("a:b#c")), dump_settings(0, true)),
      "- 'a: b'\n- 'a #b'\n- 'k:'\n- a:b#c\n");
}

TEST(Emit, QuotedStylesFoldAtTheWidthUnlessInAKey) {
  const YamlNode root = map(str("k"), str("one two three four", ScalarStyle::SingleQuoted),
                            str("one two three four", ScalarStyle::DoubleQuoted), str("x"));
  EXPECT_EQ(emit_with(root, dump_settings(12)),
            "k: 'one two\n   three\n   four'\n\"one two three four\": x\n");
}

TEST(Emit, SingleQuotedTextWithTabIsNotFolded) {
  const YamlNode root = map(str("k"), str("one\t two three four", ScalarStyle::SingleQuoted));
  EXPECT_EQ(emit_with(root, dump_settings(8)), "k: 'one\t two three four'\n");
}

// --- Layout of the dumps road ---

TEST(Emit, IndentlessSequencesAndTaggedRoots) {
  EmitterSettings s = dump_settings();
  const YamlNode root = map(str("a"), seq(str("x")), str("b"), tagged(seq(str("y")), "!t"));
  EXPECT_EQ(emit_with(root, s), "a:\n  - x\nb: !t\n  - y\n");
  s.indentless_sequences = true;
  EXPECT_EQ(emit_with(root, s), "a:\n- x\nb: !t\n  - y\n");

  YamlNode tagged_root = tagged(map(str("a"), str("1")), "!x");
  tagged_root.synthetic = true;
  EXPECT_EQ(emit_with(tagged_root, s), "!x\n  a: 1\n");
  YamlNode tagged_seq = tagged(seq(str("a")), "!x");
  tagged_seq.synthetic = true;
  EXPECT_EQ(emit_with(tagged_seq, s), "!x\n- a\n");
  s.indentless_sequences = false;
  EXPECT_EQ(emit_with(tagged_seq, s), "!x\n  - a\n");
  // The composed root keeps its pairs at column 0.
  EXPECT_EQ(emit_text(tagged(map(str("a"), str("1")), "!x")), "!x\na: 1\n");
}

TEST(Emit, IndentStepFour) {
  EmitterSettings s = dump_settings();
  s.indent = 4;
  const YamlNode root = map(str("a"), map(str("b"), str("1")), str("c"),
                            seq(map(str("d"), str("2"), str("e"), str("3"))));
  EXPECT_EQ(emit_with(root, s), "a:\n    b: 1\nc:\n    - d: 2\n      e: 3\n");
}

TEST(Emit, SyntheticTaggedKeysAfterTheFirstTakeTheExplicitForm) {
  YamlNode k1 = tagged(str("k"), "!t");
  k1.synthetic = true;
  YamlNode k2 = tagged(str("k2"), "!t");
  k2.synthetic = true;
  EXPECT_EQ(emit_text(map(std::move(k1), str("v"), std::move(k2), str("w"))),
            "!t k: v\n? !t k2\n: w\n");
}

TEST(Emit, PlainKeyEndingInAColonIsQuotedOnlyInTheExplicitForm) {
  // "b::" is the key "b:" in the simple form; after "? " the key ends its
  // line, where a final ":" would open a value of a nested mapping.
  YamlNode simple = str("b:");
  YamlNode explicit_key = str("b:");
  explicit_key.explicit_key = true;
  EXPECT_EQ(emit_text(map(std::move(simple), str("v"))), "b:: v\n");
  EXPECT_EQ(emit_text(map(std::move(explicit_key), str("v"))), "? \"b:\"\n: v\n");
}

TEST(Emit, AliasKeyIsFollowedByASpace) {
  EXPECT_EQ(emit_text(map(YamlNode::alias("a"), str("1"))), "*a : 1\n");
  EXPECT_EQ(emit_text(flow_map(YamlNode::alias("a"), str("1"))), "{*a : 1}\n");
}

// --- Documents ---

TEST(Emit, DirectivesAndMarkers) {
  YamlNode root = map(str("a"), str("1"));
  root.explicit_start = true;
  root.edit_extras().directives = {"YAML 1.2", "TAG !e! tag:e,2000:"};
  EXPECT_EQ(emit_text(root), "%YAML 1.2\n%TAG !e! tag:e,2000:\n---\na: 1\n");
}

TEST(Emit, RootWithIncludeSource) {
  YamlNode root = with_inline(map(str("a"), synthetic_null()), "main");
  root.set_source(source_of("!include", "other.yaml", 1));
  EXPECT_EQ(emit_text(root), "!include other.yaml # main\n");
  EXPECT_EQ(text_of(emit_without_source(root)), "a: null\n");
  // A directive node inside the written content keeps its directive form.
  YamlNode nested = str("value");
  nested.set_source(source_of("!include", "deeper.yaml", 2));
  YamlNode outer = map(str("b"), std::move(nested));
  outer.set_source(source_of("!include", "part.yaml", 1));
  EXPECT_EQ(text_of(emit_without_source(outer)), "b: !include deeper.yaml\n");
}

TEST(Emit, TaggedMappingItemIndentedByTheStep) {
  EmitterSettings s = dump_settings();
  s.indent = 4;
  EXPECT_EQ(emit_with(seq(tagged(map(str("a"), str("1")), "!t")), s), "- !t\n    a: 1\n");
  EXPECT_EQ(emit_text(seq(tagged(seq(str("a")), "!t"))), "- !t\n  - a\n");
}

TEST(Emit, EmptyCollectionsAndNullsAtTheRoot) {
  EXPECT_EQ(emit_text(map()), "{}\n");
  EXPECT_EQ(emit_text(seq()), "[]\n");
  EXPECT_EQ(emit_text(YamlNode::null()), "null\n");
}

TEST(Emit, ByteOrderMarkOnlyWhenTheRootCarriesIt) {
  YamlNode root = str("x");
  EXPECT_EQ(emit_text(root), "x\n");
  root.leading_bom = true;
  EXPECT_EQ(emit_text(root), "\xEF\xBB\xBFx\n");
}

TEST(Emit, FinalNewlineRule) {
  YamlNode value = str("x", ScalarStyle::Literal);
  value.comments.edit_raw() = "|\n  x";
  value.span = Span{3, 0, 0, 3};
  YamlNode key = str("a");
  key.end_offset = 1;
  key.end_column = 1;
  YamlNode root = map(std::move(key), std::move(value));
  EXPECT_EQ(emit_text(root), "a: |\n  x");
  root.comments.edit_foot().push_back("comment");
  EXPECT_EQ(emit_text(root), "a: |\n  x\n# comment\n");
}

TEST(Emit, DeepTreesDoNotExhaustTheStack) {
  testing::run_on_small_stack([] {
    YamlNode node = str("leaf");
    for (int i = 0; i < 20000; ++i) {
      NodeList items;
      items.push_back(std::move(node));
      node = YamlNode::sequence(std::move(items),
                                i % 2 ? CollectionStyle::Flow : CollectionStyle::Block);
    }
    const std::string text = emit_text(node);
    EXPECT_GT(text.size(), 20000u);
  });
}

// --- Comments ---

TEST(Emit, FlowSequenceWithAnInlineCommentGoesOneEntryPerLine) {
  const YamlNode root =
      map(str("k"), flow_seq(str("one"), with_inline(str("two"), "two", 3), str("three")));
  EXPECT_EQ(emit_text(root), "k: [\n    one,\n    two,  # two\n    three\n  ]\n");
}

TEST(Emit, LiteralWithInlineCommentChanged) {
  YamlNode value = with_inline(str("x\ny\n", ScalarStyle::Literal), "c");
  value.comments.edit_raw() = "| # c\n  a\n";
  value.comments.modified = true;
  EXPECT_EQ(emit_text(map(str("a"), std::move(value))), "a: | # c\n  x\n  y\n");
}

TEST(Emit, LiteralInsideAFlowCollectionIsDoubleQuoted) {
  EXPECT_EQ(emit_text(flow_seq(str("x\ny\n", ScalarStyle::Literal))), "[\"x\\ny\\n\"]\n");
}

TEST(Emit, InlineSpacing) {
  EXPECT_EQ(emit_text(map(str("a"), with_inline(str("1"), "c", 0))), "a: 1 # c\n");
  EXPECT_EQ(emit_text(map(str("a"), with_inline(str("1"), "c", 3))), "a: 1   # c\n");
  EXPECT_EQ(emit_text(map(str("a"), with_inline(str("1"), "", 1))), "a: 1 #\n");
}

TEST(Emit, CompactCollectionWhoseFirstEntryGotCommentsOpensOnTheNextLine) {
  YamlNode inner = map(with_head(str("a"), "note"), str("1"), str("b"), str("2"));
  EXPECT_EQ(emit_text(seq(std::move(inner))), "-\n  # note\n  a: 1\n  b: 2\n");
  EXPECT_EQ(emit_text(seq(map(str("a"), str("1"), str("b"), str("2")))), "- a: 1\n  b: 2\n");
}

}  // namespace
}  // namespace ostrevane
