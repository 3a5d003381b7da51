// The composer: tokens to node trees, positions, layout facts, errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compose_helpers.hpp"
#include "decode/decoder.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/composer/composer.hpp"
#include "small_stack.hpp"

namespace ostrevane {
namespace {

using testing::compose_dump;
using testing::compose_plain;
using testing::describe;

struct DumpCase {
  const char* yaml;
  const char* dump;
};

// Kinds, styles, properties and the shapes of keys and items.
const DumpCase kShapes[] = {
    {"a", "a"},
    {"'a'", "'a'"},
    {"\"a\\tb\"", "\"a\tb\""},
    {"|\n x\n", "|x\\n"},
    {">\n x\n y\n", ">x y\\n"},
    {"[a, b]", "fseq[a,b]"},
    {"{a: 1}", "fmap{a:1}"},
    {"- a\n- b", "seq[a,b]"},
    {"a: 1\nb: 2", "map{a:1,b:2}"},
    {"a: 1\na: 2", "map{a:1,a:2}"},
    // Indentless sequence: the entries at the key's own indentation.
    {"a:\n- x\n- y\nb: 1", "map{a:seq[x,y],b:1}"},
    {"&x a", "&x a"},
    {"!!str a", "!!str a"},
    {"!<tag:yaml.org,2002:str> a", "!<tag:yaml.org,2002:str> a"},
    {"! a", "! a"},
    {"!a !b x", "!b x"},
    {"a: &x 1\nb: *x", "map{a:&x 1,b:*x}"},
    {"? a\n: b", "map{?a:b}"},
    {"? - a\n: b", "map{?seq[a]:b}"},
    {"a:\nb: 2", "map{a:~,b:2}"},
    {"a: &x\nb: 1", "map{a:&x ~,b:1}"},
    {": v", "map{~:v}"},
    // Implicit pairs in flow sequences become single-pair flow mappings.
    {"[a: 1, : 2, ? b : 3]", "fseq[fmap{a:1},fmap{~:2},fmap{?b:3}]"},
    {"[a, b: [c]]", "fseq[a,fmap{b:fseq[c]}]"},
    {"- - x\n  - y\n-   z\n-\n  w\n-\n- v", "seq[seq[x,y],z,w,~,v]"},
    {"{a, b: }", "fmap{a:~,b:~}"},
    {"", ""},
    {"# only a comment\n", ""},
};

TEST(Composer, Shapes) {
  for (const DumpCase& c : kShapes) EXPECT_EQ(compose_dump(c.yaml), c.dump) << c.yaml;
}

struct ErrorCase {
  const char* yaml;
  const char* error;
};

// The composer's own errors; lines and columns from 1.
const ErrorCase kErrors[] = {
    {"&a &b x", "error: a node cannot have two anchors @1:4"},
    {"&a *b", "error: an alias node cannot have an anchor or tag @1:4"},
    {"!t *b", "error: an alias node cannot have an anchor or tag @1:4"},
    {"*x", "error: unknown alias: *x @1:1"},
    {"&x [*x]", "error: unknown alias: *x @1:5"},
    // Anchors never reach into a later document.
    {"&x a\n---\n*x", "error: unknown alias: *x @3:1"},
    {"a: 1\n- b", "error: a block collection cannot be a mapping key @2:1"},
    {"a: 1\n!t\n- b", "error: a block collection cannot be a mapping key @3:1"},
    {"a: 1\nb\nc: 2", "error: expected ':' after mapping key @2:1"},
    {"key: 1\n\"b\"", "error: expected ':' after mapping key @2:1"},
    // A scan error later in the text wins over a composer error before it.
    {"*x\n---\n[", "error: unclosed flow collection at end of input @3:2"},
};

TEST(Composer, Errors) {
  for (const ErrorCase& c : kErrors) EXPECT_EQ(compose_dump(c.yaml), c.error) << c.yaml;
}

// What the plain decoder refuses around documents, the composer refuses with
// the same message and position: both go through one DocumentRules.
const ErrorCase kDocumentRules[] = {
    {"- item1\n- item2\ninvalid: x", "error: trailing content after document @3:1"},
    {"word1  # comment\nword2", "error: trailing content after document @2:1"},
    {"- item1\n&node\n- item2", "error: trailing content after document @2:1"},
    {"---\n[\nitem\n]\ninvalid", "error: trailing content after document @5:1"},
    {"%YAML 1.2 foo\n---", "error: invalid %YAML directive @1:1"},
    {"%YAML 1.1#...\n---", "error: invalid %YAML directive @1:1"},
    {"%YAML\n--- a", "error: invalid %YAML directive @1:1"},
    {"%YAML 1.2\n%YAML 1.2\n--- a", "error: duplicate %YAML directive @2:1"},
    {"%TAG !e! a\n%TAG !e! b\n--- x", "error: duplicate %TAG directive for handle '!e!' @2:1"},
    {"%YAML 1.2\n", "error: directive must be followed by a document start (---) @1:1"},
    {"%YAML 1.2\n%TAG ! a\n...",
     "error: directive must be followed by a document start (---) @1:1"},
    {"!e!x 1", "error: undefined tag handle: !e! @1:1"},
    // %TAG handles hold for their own document only.
    {"%TAG !e! tag:e,2000:\n--- !e!x 1\n--- !e!y 2", "error: undefined tag handle: !e! @3:5"},
    // A scan error later in the text wins.
    {"- a\nb\n--- ]", "error: unexpected ']' with no open flow collection @3:5"},
    {"%YAML 1.2\n--- a\n--- [", "error: unclosed flow collection at end of input @3:6"},
};

TEST(Composer, RefusesWhatThePlainDecoderRefuses) {
  for (const ErrorCase& c : kDocumentRules) {
    EXPECT_EQ(compose_dump(c.yaml), c.error) << c.yaml;
    EXPECT_EQ(compose_dump(c.yaml, true), c.error) << c.yaml;
    auto decoded = decode_stream(c.yaml, ResolverMode::Yaml12, false, false, false, false, false);
    ASSERT_FALSE(decoded) << c.yaml;
    EXPECT_EQ(describe(ScanError{decoded.error().message, decoded.error().span}), c.error)
        << c.yaml;
  }
}

TEST(Composer, DocumentRulesErrorsCarryTheFileId) {
  auto roots = compose_file_documents("a\n---\n!e!x b", 3);
  ASSERT_FALSE(roots);
  EXPECT_EQ(describe(roots.error()), "error: undefined tag handle: !e! @3:1");
  EXPECT_EQ(roots.error().span.file_id, 3u);
}

// Directives that both roads accept: a %TAG handle again after "...", a
// comment after the version, an unknown directive.
TEST(Composer, AcceptedDirectives) {
  const char* const texts[] = {
      "%TAG !e! tag:e,2000:\n--- !e!x 1\n...\n%TAG !e! tag:f,2000:\n--- !e!y 2",
      "%YAML 1.2 # c\n--- a",
      "%FOO bar\n--- a",
  };
  for (const char* text : texts) {
    auto roots = compose_plain(text, false);
    EXPECT_TRUE(roots) << text << ": " << describe(roots.error());
  }
}

// Tags stay as written; beside them each node keeps the tag as the
// document's %TAG directives read it, one text shared by every node that
// wrote the same tag in that document.
TEST(Composer, TagsKeepTheirExpansionBesideTheWrittenText) {
  const char* const text =
      "%TAG !e! tag:e,2000:\n--- [!e!x 1, !e!x 2, !!str 3, !l 4, !<tag:v,2000:w> 5]\n...\n"
      "%TAG !e! tag:f,2000:\n%TAG ! tag:l,2000:\n--- [!e!x 6, !l 7]";
  auto roots = compose_plain(text, false);
  ASSERT_TRUE(roots) << describe(roots.error());
  ASSERT_EQ(roots->size(), 2u);
  const auto written = [](const YamlNode& n) { return *n.tag(); };
  const auto read = [](const YamlNode& n) { return *n.read_tag(); };
  const YamlNode& first = (*roots)[0];
  const std::vector<std::string> first_written{"!e!x", "!e!x", "!!str", "!l", "!<tag:v,2000:w>"};
  const std::vector<std::string> first_read{"tag:e,2000:x", "tag:e,2000:x", "tag:yaml.org,2002:str",
                                            "!l", "!<tag:v,2000:w>"};
  for (std::size_t i = 0; i < first_written.size(); ++i) {
    EXPECT_EQ(written(first.items()[i]), first_written[i]);
    EXPECT_EQ(read(first.items()[i]), first_read[i]);
  }
  EXPECT_EQ(first.items()[0].read_tag(), first.items()[1].read_tag());  // one shared text
  EXPECT_FALSE(first.items()[3].tag_is_expanded());
  const YamlNode& second = (*roots)[1];
  EXPECT_EQ(read(second.items()[0]), "tag:f,2000:x");
  EXPECT_EQ(read(second.items()[1]), "tag:l,2000:l");

  // Copies keep the reading; a tag set anew reads as written.
  YamlNode copy = first.items()[0].clone();
  EXPECT_EQ(read(copy), "tag:e,2000:x");
  YamlNode other;
  other.copy_tag_from(first.items()[0]);
  EXPECT_EQ(read(other), "tag:e,2000:x");
  other.set_tag("!e!y");
  EXPECT_EQ(read(other), "!e!y");
  EXPECT_FALSE(other.tag_is_expanded());
  other.copy_tag_from(first.items()[0]);
  other.set_tag(std::nullopt);
  EXPECT_EQ(other.read_tag(), nullptr);
}

// Nesting of node levels, the root being level 1: 999 block sequences
// around a scalar compose, one more fails at the scalar.
TEST(Composer, DepthLimit) {
  std::string ok;
  for (int i = 0; i < 999; ++i) ok += "- ";
  ok += "x";
  auto roots = compose_plain(ok, false);
  ASSERT_TRUE(roots) << describe(roots.error());
  EXPECT_EQ(roots->size(), 1u);
  const std::string too_deep = "- " + ok;
  EXPECT_EQ(compose_dump(too_deep), "error: maximum nesting depth (1000) exceeded @1:2001");
}

// The depth limit also holds on a small thread stack, where the guard moves
// the recursion onto fresh segments.
TEST(Composer, DeepNestingOnSmallThreadStack) {
  std::string text;
  for (int i = 0; i < 999; ++i) text += std::string(static_cast<std::size_t>(i), ' ') + "a:\n";
  text += std::string(999, ' ') + "x";
  std::string result;
  testing::run_on_small_stack([&] {
    auto roots = compose_plain(text, false);
    result = roots ? "ok" : describe(roots.error());
  });
  EXPECT_EQ(result, "ok");
}

const YamlNode& at(const YamlNode& root, const std::vector<std::size_t>& path) {
  const YamlNode* n = &root;
  for (const std::size_t i : path) n = &n->children()[i];
  return *n;
}

struct PositionCase {
  const char* yaml;
  std::vector<std::size_t> path;  // child indexes (mappings: 2 * pair + 0 key, 1 value)
  std::uint64_t offset, line, column, end_offset, end_line, end_column;
};

// Start and end positions; columns count characters, offsets bytes.
const PositionCase kPositions[] = {
    {"a: 1", {}, 0, 0, 0, 4, 0, 4},
    {"a: 1", {1}, 3, 0, 3, 4, 0, 4},
    {"a: h\xc3\xa9llo\nb: x", {1}, 3, 0, 3, 9, 0, 8},
    {"a: h\xc3\xa9llo\nb: x", {3}, 13, 1, 3, 14, 1, 4},
    {"x: \"q\\u00e9\" # c", {1}, 3, 0, 3, 12, 0, 12},
    {"k: >\n  folded\n  text\nz: 1", {1}, 3, 0, 3, 21, 3, 0},
    {"- 'a\n  b'\n- c", {0}, 2, 0, 2, 9, 1, 4},
    // A collection ends with its furthest child; an empty one at its start.
    {"- a\n- [b, cc]", {}, 0, 0, 0, 12, 1, 8},
    {"- a\n- []", {1}, 6, 1, 2, 6, 1, 2},
    // A node with properties starts at its content.
    {"&x !t a", {}, 6, 0, 6, 7, 0, 7},
    // A bare anchor: a Null at the token after it.
    {"a: &x\nb: 1", {1}, 6, 1, 0, 6, 1, 0},
    // An empty value: all zero.
    {"z: 1\na:\nb: 2", {3}, 0, 0, 0, 0, 0, 0},
    // An entry starting with ':' has a Null key at the colon.
    {"a: 1\n: v", {2}, 5, 1, 0, 5, 1, 0},
    // A flow pair's mapping is positioned at its start, start and end.
    {"[x, a: 1]", {1}, 4, 0, 4, 4, 0, 4},
    {"[x, : 2]", {1, 0}, 4, 0, 4, 4, 0, 4},
    {"[? b : 3]", {0}, 1, 0, 1, 1, 0, 1},
    // A dash with nothing after it: a Null at the dash.
    {"-\n- b", {0}, 0, 0, 0, 0, 0, 0},
    // Byte offsets count a byte-order mark; columns start after it.
    {"\xef\xbb\xbf"
     "ab: c",
     {1},
     7,
     0,
     4,
     8,
     0,
     5},
    // CR LF line ends.
    {"a: 1\r\nb: 22\r\n", {3}, 9, 1, 3, 11, 1, 5},
};

TEST(Composer, Positions) {
  for (const PositionCase& c : kPositions) {
    auto roots = compose_plain(c.yaml, false);
    ASSERT_TRUE(roots) << c.yaml << ": " << describe(roots.error());
    ASSERT_FALSE(roots->empty()) << c.yaml;
    const YamlNode* n = &at(roots->front(), c.path);
    EXPECT_EQ(n->span.offset, c.offset) << c.yaml;
    EXPECT_EQ(n->span.line, c.line) << c.yaml;
    EXPECT_EQ(n->span.column, c.column) << c.yaml;
    EXPECT_EQ(n->end_offset, c.end_offset) << c.yaml;
    EXPECT_EQ(n->end_line, c.end_line) << c.yaml;
    EXPECT_EQ(n->end_column, c.end_column) << c.yaml;
  }
}

// A long one-line flow document: end columns are counted once per scalar,
// not from the line start each time (which was quadratic).
TEST(Composer, LongFlowLineEndColumns) {
  std::string text = "[";
  for (int i = 0; i < 20000; ++i)
    text +=
        "\xc3\xa9"
        "abc, ";
  text += "z]";
  auto roots = compose_plain(text, false);
  ASSERT_TRUE(roots);
  const YamlNode& last = roots->front().items().back();
  EXPECT_EQ(last.text(), "z");
  EXPECT_EQ(last.span.column, 1u + 20000u * 6u);
  EXPECT_EQ(last.end_column, last.span.column + 1);
  EXPECT_EQ(last.end_offset, last.span.offset + 1);
}

struct LayoutCase {
  const char* yaml;
  const char* dump;  // with comments and raw: here only value_pad, compact, raw
};

const LayoutCase kLayout[] = {
    // value_pad of items on their dash's line; compact nested sequences.
    {"-   z\n- [a]\n- &x b", "seq[z(pad3),fseq[a](pad1),&x b]"},
    {"- - a\n  - b\n-\n  - c", "seq[seq[a(pad1),b(pad1)](c),seq[c(pad1)]]"},
    // Block scalar source: up to the last line break when only blanks
    // follow it, the whole range when the scalar reaches the end of text.
    {"a: |\n  x\n\nb: 1", "map{a:|x\\n(raw\"|\\n  x\\n\\n\"),b:1}"},
    {"- |\n  x\n  ", "seq[|x\\n(pad1 raw\"|\\n  x\\n  \")]"},
    {"- >-\n  x\n- y", "seq[>x(pad1 raw\">-\\n  x\\n\"),y(pad1)]"},
};

TEST(Composer, LayoutFacts) {
  for (const LayoutCase& c : kLayout) {
    auto roots = compose_plain(c.yaml, false);
    ASSERT_TRUE(roots) << c.yaml;
    EXPECT_EQ(testing::dump_nodes(*roots, true, true), c.dump) << c.yaml;
  }
}

TEST(Composer, DashPositions) {
  Composer composer("- a\n-\n  b\n- - c\n  -\n    d\n");
  auto roots = compose_plain("- a\n-\n  b\n- - c\n  -\n    d\n", false, &composer);
  ASSERT_TRUE(roots);
  const DashPositions& dashes = composer.dash_positions();
  EXPECT_EQ(dashes.size(), 2u);
  EXPECT_TRUE(dashes.contains(1, 0));
  EXPECT_TRUE(dashes.contains(4, 2));
  EXPECT_FALSE(dashes.contains(0, 0));
  EXPECT_FALSE(dashes.contains(3, 2));
}

struct StreamCase {
  const char* yaml;
  bool keep_empty;
  const char* dump;
  std::vector<std::uint64_t> starts;
  std::vector<bool> explicit_start;
};

const StreamCase kStreams[] = {
    {"%YAML 1.2\n---\nx", false, "x", {0}, {true}},
    {"---\n---\nx", true, "~ | x", {0, 4}, {true, true}},
    {"---\n---\nx", false, "x", {0}, {true}},
    {"a\n---\nb\n...\n%TAG ! !x\n---\nc", false, "a | b | c", {0, 2, 12}, {false, true, true}},
    {"a\n...\nb", false, "a | b", {0, 6}, {false, false}},
    {"a\n...\n---\n", true, "a | ~", {0, 6}, {false, true}},
    {"- x\n---\n# c\n- y", false, "seq[x] | seq[y]", {0, 4}, {false, true}},
};

TEST(Composer, StreamsAndDocumentStarts) {
  for (const StreamCase& c : kStreams) {
    Composer composer(c.yaml);
    auto roots = compose_plain(c.yaml, c.keep_empty, &composer);
    ASSERT_TRUE(roots) << c.yaml;
    EXPECT_EQ(testing::dump_nodes(*roots), c.dump) << c.yaml;
    EXPECT_EQ(composer.document_starts(), c.starts) << c.yaml;
    std::vector<bool> flags;
    for (const YamlNode& r : *roots) flags.push_back(r.explicit_start);
    EXPECT_EQ(flags, c.explicit_start) << c.yaml;
  }
}

TEST(Composer, RootDirectives) {
  auto roots = compose_plain("%YAML 1.2\n%TAG !e! tag:e,2000:\n---\nx\n---\ny", false);
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);
  EXPECT_EQ((*roots)[0].directives(),
            (std::vector<std::string>{"YAML 1.2", "TAG !e! tag:e,2000:"}));
  EXPECT_TRUE((*roots)[1].directives().empty());
  // The empty document's directives go with it when it is kept.
  auto kept = compose_plain("%YAML 1.2\n---\n...\n---\ny", true);
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->size(), 2u);
  EXPECT_EQ((*kept)[0].kind(), NodeKind::Null);
  EXPECT_EQ((*kept)[0].directives(), std::vector<std::string>{"YAML 1.2"});
  EXPECT_EQ((*kept)[0].span.line, 1u);
}

TEST(Composer, CaptureBlockScalarSource) {
  EXPECT_EQ(capture_block_scalar_source(10, 20, "|\n x\n  \t"), "|\n x\n");
  EXPECT_EQ(capture_block_scalar_source(10, 20, "|\n x\n y"), "|\n x\n y");
  EXPECT_EQ(capture_block_scalar_source(10, 20, "|x"), "|x");
  EXPECT_EQ(capture_block_scalar_source(20, 20, "|\n x\n  "), "|\n x\n  ");
}

}  // namespace
}  // namespace ostrevane
