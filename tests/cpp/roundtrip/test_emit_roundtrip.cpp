// The round-trip emitter over composed texts: compose, mark every node
// modified, write back, compare with the text expected (the input itself
// wherever the layout is kept). One fixture per form the emitter changes so
// that the text reads back as the same content.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "emit_roundtrip.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

using testing::reemit;
using testing::reemit_unmodified;

struct Case {
  const char* name;
  const char* text;
  const char* expected;  // nullptr: the text itself
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Identity : public ::testing::TestWithParam<Case> {};

TEST_P(Identity, ComposeModifyEmit) {
  const Case& c = GetParam();
  const std::string expected = c.expected ? c.expected : c.text;
  EXPECT_EQ(reemit(c.text), expected) << "input:\n" << c.text;
  // What was written comes back the same: no spacing drifts from one save to
  // the next.
  EXPECT_EQ(reemit(expected), expected) << "second round of:\n" << c.text;
}

const Case kLayout[] = {
    {"block_mapping", "a: 1\nb: two\nc:\n  d: 3\n  e: [x, y]\n", nullptr},
    {"block_sequence", "- a\n- b\n- - c\n  - d\n", nullptr},
    {"indentless_sequence", "a:\n- x\n- y\nb: 1\n", nullptr},
    {"indented_sequence", "a:\n  - x\n  - y\n", nullptr},
    {"compact_mapping", "- a: 1\n  b: 2\n- c: 3\n", nullptr},
    {"nested_no_compact", "-\n  - a\n", nullptr},
    {"flow_collections", "a: [1, 2, {b: c, d: [e]}]\nf: {}\ng: []\n", nullptr},
    {"quoted_styles", "a: 'single'\nb: \"double\\tq\"\n'k': \"v\"\n", nullptr},
    {"anchors_tags_aliases", "a: !t &x 1\nb: *x\nc: !!str 2\n*x : 3\n", nullptr},
    {"anchor_before_tag", "a: &x !t 1\n", "a: !t &x 1\n"},
    {"tagged_collections", "a: !t\n  b: 1\nc: &s\n- 1\n", nullptr},
    {"tagged_root_mapping", "--- !t\na: 1\n", "---\n!t\na: 1\n"},
    {"value_padding", "a:   1\nb: 2\n", nullptr},
    {"padded_items", "-   x\n-  y\n", nullptr},
    {"directives", "%YAML 1.2\n---\na: 1\n", nullptr},
    {"several_documents", "a: 1\n---\nb: 2\n--- c\n", "a: 1\n---\nb: 2\n---\nc\n"},
    {"literal_block", "a: |\n  one\n  two\nb: >-\n  folded\n", nullptr},
    {"literal_keep", "a: |+\n  one\n\nb: 1\n", nullptr},
    {"no_final_line_break", "a: 1\nb: |\n  x", "a: 1\nb: |\n  x\n"},
    {"explicit_key", "? a\n: 1\n", nullptr},
    {"explicit_block_key", "? - a\n  - b\n: 1\n", "?\n  - a\n  - b\n: 1\n"},
    {"empty_values", "a:\nb: !t\nc:\n-\n- !t\n", nullptr},
    {"root_scalar", "--- plain\n", "---\nplain\n"},
    {"root_null", "--- !!null\n", "---\n!!null ''\n"},
    {"flow_pairs", "[a: 1, b]\n", "[{a: 1}, b]\n"},
    {"literal_in_flow_after_edit", "a: [x]\n", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Layout, Identity, ::testing::ValuesIn(kLayout),
                         [](const auto& info) { return std::string(info.param.name); });

const Case kComments[] = {
    {"head_comments", "# top\na: 1\n# before b\nb: 2\n", nullptr},
    {"inline_comments", "a: 1  # one\nb: [x, y] # flow\n", nullptr},
    {"blank_lines", "a: 1\n\n\nb: 2\n\n# c\nc: 3\n", nullptr},
    {"nested_comments", "a:\n  # inner\n  b: 1   # x\n  c:\n    - 1  # item\n    # next\n    - 2\n",
     nullptr},
    {"colon_line_comment", "a: # why\n  b: 1\nc: # seq\n  - x\n", nullptr},
    {"colon_line_scalar", "a:  # why\n  1\n", nullptr},
    {"dash_line_comment", "- # note\n  value\n- # map\n  a: 1\n", nullptr},
    {"dash_line_with_head", "- # note\n  # more\n  value\n", nullptr},
    {"foot_comments", "a:\n  b: 1\n  # foot of a\n# foot of root\n", nullptr},
    {"compact_sequence", "- - a  # c\n  - b\n-   - c\n", "- - a  # c\n  - b\n- - c\n"},
    {"flow_with_comments", "a: [\n    one,\n    two,  # two\n    three\n  ]\n", nullptr},
    {"flow_mapping_comments", "a: {\n    # head\n    b: 1,  # one\n    c: 2\n  }\n", nullptr},
    {"literal_with_comment", "a: |  # note\n  text\nb: 1\n", "a: | # note\n  text\nb: 1\n"},
    {"empty_flow_with_comments", "a: []  # c\nb: {}  # d\n", nullptr},
    {"anchors_and_comments", "base: &b # anchor\n  x: 1\nuse: *b  # alias\n", nullptr},
    {"documents_with_comments", "# first\na: 1\n---\n# second\nb: 2\n", nullptr},
    {"byte_order_mark", "\xEF\xBB\xBF# c\na: 1\n", nullptr},
    {"comment_after_literal_at_end", "a: |\n  x\n# end\n", nullptr},
    {"empty_comment", "#\na: 1 #\n", nullptr},
    {"two_comment_value", "a: # c1\n  b  # c2\n", "a:\n  # c1\n  b  # c2\n"},
    {"head_of_value", "a:\n  # why\n  1\n", nullptr},
    // The comment after the tag of an empty value stays there.
    {"tagged_empty_with_comment", "a: !!str # c\n", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Comments, Identity, ::testing::ValuesIn(kComments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EmitRoundTrip, KeptBlockScalarSourceWhileUnmodified) {
  // Not modified: the kept source goes back as it was, indicators included.
  EXPECT_EQ(reemit_unmodified("a: |2\n    x\nb: >+\n  y\n\n"), "a: |2\n    x\nb: >+\n  y\n\n");
  EXPECT_EQ(reemit_unmodified("a: 1\nb: |\n  x"), "a: 1\nb: |\n  x");
  EXPECT_EQ(reemit_unmodified("- |\n  x\n- y\n"), "- |\n  x\n- y\n");
}

// Blank lines right after a keep-chomped block scalar would read back as
// its own final lines: a node whose blank lines stood elsewhere in the
// source (here between "?" and the key's comment, which is written above
// the "?") gets none there, written anew or kept.
TEST(EmitRoundTrip, NoBlankLinesRightAfterAKeepChompedScalar) {
  EXPECT_EQ(reemit("k: |+\n a\n\n?\n\n\n #\n x\n"), "k: |+\n  a\n\n#\n? x\n:\n");
  EXPECT_EQ(reemit_unmodified("k: |+\r a\r\r?\r\r\r #\r x\r"),
            "k: |+\r a\r\r\n#\n? x\n:\n");
  // After a clipped one they are written.
  EXPECT_EQ(reemit("k: |\n a\n\n\nb: 1\n"), "k: |\n  a\n\n\nb: 1\n");
}

TEST(EmitRoundTrip, PlainTextThatWouldReadAsADocumentMarkerIsQuoted) {
  EXPECT_EQ(reemit("\t...\n"), "\"...\"\n");
  EXPECT_EQ(reemit("? --- x\n: v\n"), "? --- x\n: v\n");
  EXPECT_EQ(reemit("a: ---\n"), "a: ---\n");
  EXPECT_EQ(reemit(" %x\n"), "\"%x\"\n");
}

// --- The seven forms that change so that the text reads back the same ---

// 1: a plain or single-quoted text holding a line break (an empty line in
// the source) is double-quoted, in keys and flow collections too.
TEST(EmitMend, LineBreakInPlainOrSingleQuotedText) {
  EXPECT_EQ(reemit("a: one\n\n  two\n"), "a: \"one\\ntwo\"\n");
  EXPECT_EQ(reemit("a: 'one\n\n  two'\n"), "a: \"one\\ntwo\"\n");
  EXPECT_EQ(reemit("[one\n\n two, 'x\n\n y']\n"), "[\"one\\ntwo\", \"x\\ny\"]\n");
  EXPECT_EQ(reemit("? 'k\n\n  l'\n: v\n"), "? \"k\\nl\"\n: v\n");
}

// 2: a block scalar rendered anew keeps its style only where it reads back
// without an indentation indicator.
TEST(EmitMend, BlockScalarThatNeedsAnIndentationIndicator) {
  // Folded with an interior line feed: literal.
  EXPECT_EQ(reemit("a: >\n  one\n\n  two\n"), "a: |\n  one\n  two\n");
  // First line starts with a blank: double-quoted.
  EXPECT_EQ(reemit("a: |2\n    lead\n  x\n"), "a: \"  lead\\nx\\n\"\n");
  // No content line: double-quoted.
  EXPECT_EQ(reemit("--- |\n"), "---\n\"\"\n");
  EXPECT_EQ(reemit("--- | # c\n"), "---\n\"\" # c\n");
  // Kept otherwise.
  EXPECT_EQ(reemit("a: >\n  one\n"), "a: >\n  one\n");
}

// 3: kept source goes back only where its introducer stands as it did.
TEST(EmitMend, BlockScalarUnderAMovedIntroducer) {
  EXPECT_EQ(reemit_unmodified("a:\n b: |\n  text\nc: 1\n"), "a:\n  b: |\n    text\nc: 1\n");
  EXPECT_EQ(reemit_unmodified("a:\n b: |1\n   text\nc: 1\n"), "a:\n  b: \" text\\n\"\nc: 1\n");
  // In place, the source is kept, indicator and all.
  EXPECT_EQ(reemit_unmodified("a:\n  b: |1\n    text\nc: 1\n"), "a:\n  b: |1\n    text\nc: 1\n");
}

// 4: comment lines between a key and its scalar, alias, null or flow value
// on a later line are written there, not dropped.
TEST(EmitMend, HeadCommentsOfAValueBelowItsKey) {
  YamlNode value = YamlNode::scalar("1");
  value.comments.edit_head().push_back(HeadComment{"why", false});
  YamlNode root = YamlNode::mapping({});
  root.append_pair(YamlNode::scalar("a"), std::move(value));
  EXPECT_EQ(std::string(emit_document_to_string(root, NullStyle::Default).view()),
            "a:\n  # why\n  1\n");
  // The two-comment node: the introducer's comment as a line below the key,
  // the trailing one after the value.
  YamlNode both = YamlNode::scalar("b");
  both.comments.edit_head().push_back(HeadComment{"c1", true});
  both.comments.edit_inline_comment() = "c2";
  both.comments.inline_spaces = 2;
  YamlNode two = YamlNode::mapping({});
  two.append_pair(YamlNode::scalar("a"), std::move(both));
  EXPECT_EQ(std::string(emit_document_to_string(two, NullStyle::Default).view()),
            "a:\n  # c1\n  b  # c2\n");
}

// 5: a key written over several lines takes the explicit form.
TEST(EmitMend, MultiLineKeyTakesTheExplicitForm) {
  // Written by hand: a flow key whose entry carries a comment.
  YamlNode key = YamlNode::sequence({}, CollectionStyle::Flow);
  key.append_item(YamlNode::scalar("a"));
  key.items()[0].comments.edit_inline_comment() = "c";
  key.items()[0].comments.inline_spaces = 2;
  key.append_item(YamlNode::scalar("b"));
  YamlNode root = YamlNode::mapping({});
  root.append_pair(std::move(key), YamlNode::scalar("v"));
  EXPECT_EQ(std::string(emit_document_to_string(root, NullStyle::Default).view()),
            "? [\n    a, # c\n    b\n  ]\n: v\n");
  // The text reads back to the same structure.
  auto again = testing::compose_roots("? [\n    a, # c\n    b\n  ]\n: v\n");
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(testing::dump_nodes(*again), "map{?fseq[a,b]:v}");
}

// 6: a composed tagged empty node standing alone is written as '' after its
// tag, which reads as the empty text under that tag.
TEST(EmitMend, TaggedEmptyNodeStandingAlone) {
  EXPECT_EQ(reemit("[!!str , a]\n"), "[!!str '', a]\n");
  EXPECT_EQ(reemit("--- !!str\n"), "---\n!!str ''\n");
  EXPECT_EQ(reemit("{!!str : a}\n"), "{!!str '': a}\n");
  // In its block place it stays empty.
  EXPECT_EQ(reemit("a: !!str\n"), "a: !!str\n");
}

// 7: a node made by a directive is written as the directive wherever it
// stands: in flow collections and as a key too.
TEST(EmitMend, DirectiveNodesInFlowCollectionsAndKeys) {
  YamlNode secret = YamlNode::scalar("hunter2", ScalarStyle::SingleQuoted);
  secret.set_source(source_of("!secret", "db_password"));
  YamlNode included = YamlNode::mapping({});
  included.append_pair(YamlNode::scalar("x"), YamlNode::scalar("1"));
  included.set_source(source_of("!include", "part.yaml", 3));
  YamlNode flow = YamlNode::sequence({}, CollectionStyle::Flow);
  flow.append_item(std::move(secret));
  flow.append_item(std::move(included));
  YamlNode key = YamlNode::scalar("expanded");
  key.set_source(source_of("!env_var", "HOME"));
  YamlNode root = YamlNode::mapping({});
  root.append_pair(YamlNode::scalar("a"), std::move(flow));
  root.append_pair(std::move(key), YamlNode::scalar("v"));
  EXPECT_EQ(std::string(emit_document_to_string(root, NullStyle::Default).view()),
            "a: [!secret db_password, !include part.yaml]\n!env_var HOME: v\n");
  // A target that would not read back as itself is quoted.
  YamlNode odd = YamlNode::scalar("x");
  odd.set_source(source_of("!secret", "a, b: c"));
  YamlNode in_flow = YamlNode::sequence({}, CollectionStyle::Flow);
  in_flow.append_item(std::move(odd));
  EXPECT_EQ(std::string(emit_document_to_string(in_flow, NullStyle::Default).view()),
            "[!secret \"a, b: c\"]\n");
}

// 8: a compact item ('- - a', '- a: 1') has no room on its dash line for the
// nested collection's trailing comment or its first entry's comment lines;
// given by editing, they open the collection on the next line instead of
// being dropped.
struct CompactEdit {
  const char* name;
  const char* text;
  std::vector<std::size_t> path;  // child indices from the root
  bool inline_comment;            // else a comment line above the node
  const char* expected;
  const char* dump;  // the text composed again, with comments
};

void PrintTo(const CompactEdit& c, std::ostream* os) { *os << c.name; }

class CompactEdits : public ::testing::TestWithParam<CompactEdit> {};

TEST_P(CompactEdits, CommentIsWrittenAndReadBack) {
  const CompactEdit& c = GetParam();
  auto roots = testing::compose_roots(c.text);
  ASSERT_TRUE(roots.has_value());
  YamlNode* node = &roots->front();
  for (const std::size_t i : c.path) node = &node->children()[i];
  if (c.inline_comment) {
    node->comments.edit_inline_comment() = "c";
  } else {
    node->comments.edit_head().push_back(HeadComment{"c", false});
  }
  node->comments.modified = true;
  const std::string text = testing::emit_roots(*roots);
  EXPECT_EQ(text, c.expected);
  auto again = testing::compose_roots(text);
  ASSERT_TRUE(again.has_value()) << text;
  EXPECT_EQ(testing::dump_nodes(*again, true), c.dump) << text;
  // Written once more, the text stays as it is.
  EXPECT_EQ(testing::reemit(text), text);
}

const CompactEdit kCompactEdits[] = {
    {"sequence_trailing",
     "- - a\n  - b\n",
     {0},
     true,
     "- # c\n  - a\n  - b\n",
     "seq[seq[a(pad1),b(pad1)](i\"c\"/1 iv)]"},
    {"nested_sequence_trailing",
     "- - - a\n",
     {0, 0},
     true,
     "- - # c\n    - a\n",
     "seq[seq[seq[a(pad1)](i\"c\"/1 iv)](c)]"},
    // Composing gives a first item's lines above its dash to the sequence:
    // they go below the dash instead.
    {"sequence_first_item_above",
     "- - a\n  - b\n",
     {0, 0},
     false,
     "-\n  -\n    # c\n    a\n  - b\n",
     "seq[seq[a(h[c]),b(pad1)]]"},
    {"mapping_first_key_above",
     "- a: 1\n  b: 2\n",
     {0, 0},
     false,
     "-\n  # c\n  a: 1\n  b: 2\n",
     "seq[map{a:1(pad1),b:2(pad1)}(h[c])]"},
    {"anchored_first_key_above",
     "- &k a: 1\n",
     {0, 0},
     false,
     "-\n  # c\n  &k a: 1\n",
     "seq[map{&k a:1(pad1)}(h[c])]"},
    {"mapping_trailing",
     "- a: 1\n",
     {0},
     true,
     "- # c\n  a: 1\n",
     "seq[map{a:1(pad1)}(i\"c\"/1 iv)]"},
};

INSTANTIATE_TEST_SUITE_P(EmitMend, CompactEdits, ::testing::ValuesIn(kCompactEdits),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrevane
