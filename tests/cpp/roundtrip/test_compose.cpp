// Comment attachment and the compose entry points.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compose_helpers.hpp"
#include "roundtrip/composer/comments.hpp"
#include "roundtrip/composer/compose.hpp"

namespace ostrevane {
namespace {

using testing::describe;

// The entry points attach comments root by root while composing; attaching
// them to the whole list of roots afterwards must give the same trees.
std::string attached_afterwards(std::string_view text) {
  auto listed = scan_all_tokens(text, ScanOptions{0, true});
  if (!listed) return describe(listed.error());
  Composer composer(text);
  auto roots = composer.compose_stream(*listed, true);
  if (!roots) return describe(roots.error());
  attach_comments_to_documents(*roots, listed->comments, text, composer.dash_positions(),
                               composer.marker_lines(), &composer.skipped_lines());
  if (!roots->empty() && listed->leading_bom) roots->front().leading_bom = true;
  return testing::dump_nodes(*roots, true, true);
}

std::string commented(std::string_view text) {
  auto roots = compose_all_documents(text);
  if (!roots) return describe(roots.error());
  EXPECT_EQ(testing::dump_nodes(*roots, true, true), attached_afterwards(text)) << text;
  return testing::dump_nodes(*roots, true);
}

struct CommentCase {
  const char* yaml;
  const char* dump;
};

// Where each comment lands, with the layout facts around it. Dump fields:
// b blank_before, h head (% above_marker, ^ below_introducer), i inline "text"/spaces,
// iv inline_before_value, pad value_pad, c compact, f foot.
const CommentCase kComments[] = {
    // A comment on the first line goes to the root mapping, not its key.
    {"# top\na: 1\nb: 2", "map{a:1(pad1),b:2(pad1)}(h[top])"},
    // Between entries: the second key's head; a blank line above the
    // comment counts, one between the comment and the key does not.
    {"a: 1\n\n# c\nb: 2", "map{a:1(pad1),b(b1 h[c]):2(pad1)}"},
    {"a: 1\n# c\n\nb: 2", "map{a:1(pad1),b(h[c]):2(pad1)}"},
    {"a: 1\n\n\nb: 2", "map{a:1(pad1),b(b2):2(pad1)}"},
    // Blank lines are counted on the scanner's lines: CR LF and a lone CR
    // end a line as LF does.
    {"a: 1\r\n\r\n# c\r\nb: 2", "map{a:1(pad1),b(b1 h[c]):2(pad1)}"},
    {"a: 1\r\r# c\rb: 2", "map{a:1(pad1),b(b1 h[c]):2(pad1)}"},
    // Blank lines are counted back from the node: lines of white space
    // alone, ended in every way.
    {"a: 1\n  \n \t\n\nb: 2", "map{a:1(pad1),b(b3):2(pad1)}"},
    {"a: 1\r\n\r\n\r\nb: 2", "map{a:1(pad1),b(b2):2(pad1)}"},
    {"- a\r\r\n\n- b", "seq[a(pad1),b(b2 pad1)]"},
    // After a key's colon, the value on the next line: the value's inline
    // comment before the value, the gap counted from the colon.
    {"a:   # c\n  1", "map{a:1(i\"c\"/3 iv)}"},
    {"a:   # c\n  - x", "map{a:seq[x(pad1)](i\"c\"/3 iv)}"},
    // After a dash alone on its line; a further line lands below it.
    {"-  # c\n  x", "seq[x(i\"c\"/2 iv)]"},
    {"- # c\n  # d\n  x", "seq[x(h[^d] i\"c\"/1 iv)]"},
    // Values after plain keys, trailing comments with their gap.
    {"a:  1", "map{a:1(pad2)}"},
    {"a: 1  # c", "map{a:1(i\"c\"/2 pad1)}"},
    {"a: h\xc3\xa9llo  # c", "map{a:h\xc3\xa9llo(i\"c\"/2 pad1)}"},
    // The gap of a quoted scalar counts from its closing quote.
    {"a: \"x\\ty\"   # c", "map{a:\"x\ty\"(i\"c\"/3 pad1)}"},
    {"a: 'it''s' # c", "map{a:'it's'(i\"c\"/1 pad1)}"},
    // Only a comment on the node's first line trails it.
    {"- 'a\n  b'  # c\n- d", "seq['a b'(pad1),d(h[c] pad1)]"},
    // One-line flow collections: the first item, the first pair's value.
    {"- [a, b]  # c", "seq[fseq[a,b](i\"c\"/2 pad1)]"},
    {"{a: 1, b: 2}  # c", "fmap{a:1(pad1),b:2(pad1)}(i\"c\"/2)"},
    // A key never takes a trailing comment: the value below takes it.
    {"? a  # c\n: b", "map{?a:b(h[c])}"},
    // Foot comments go to the last open collection at their column.
    {"a:\n  b: 1\n  # f1\n# f2", "map{a:map{b:1(pad1)}(f[f1])}(f[f2])"},
    {"a:\n  b: 1\n# f", "map{a:map{b:1(pad1)}}(f[f])"},
    {"x  # c\n# f", "x(i\"c\"/2 f[f])"},
    // Blank lines before a later document's root.
    {"a: 1\n\n\n---\nb: 2", "map{a:1(pad1)} | map{b:2(pad1)}(b2)"},
    {"a\n---\n\n# c\n\nb", "a | b(b1 h[c])"},
    // Lines above a document's first directive or "---" are marked (%),
    // those between it and the content are not; without a marker none are.
    {"# s\n%YAML 1.2\n# d\n---\n# c\na: 1", "map{a:1(pad1)}(h[%s,d,c])"},
    {"# s\n\n%TAG !e! tag:e,2000:\n--- a", "a(h[%s])"},
    {"a\n# c\n--- b\n# d\n--- c", "a | b(h[%c]) | c(h[%d])"},
    {"a\n...\n# c\n%YAML 1.2\n---\n", "a | ~(h[%c])"},
    // No document: nothing is attached.
    {"# only\n\n# comments\n", ""},
    // Block scalars: the comment after the content lines is the next key's.
    {"a: |\n  x\n  # kept text\n\n# c\nb: 1", "map{a:|x\\n# kept text\\n(pad1),b(h[c]):1(pad1)}"},
    // With an anchor, an introducer comment leaves the gap at 0.
    {"a:  # c\n  &y 1", "map{a:&y 1(i\"c\"/0 iv)}"},
    {"a: &x 1 # c", "map{a:&x 1(i\"c\"/1)}"},
};

TEST(CommentAttachment, Table) {
  for (const CommentCase& c : kComments) EXPECT_EQ(commented(c.yaml), c.dump) << c.yaml;
}

// A node with a comment on its introducer line and another on its own line
// keeps both: the first as a head line below the introducer, the second
// inline.
TEST(CommentAttachment, IntroducerAndTrailingComments) {
  EXPECT_EQ(commented("a:  # c1\n  1  # c2"), "map{a:1(h[^c1] i\"c2\"/2)}");
  EXPECT_EQ(commented("a:  # c1\n  # c2\n  1  # c3"), "map{a:1(h[^c1,^c2] i\"c3\"/2)}");
  EXPECT_EQ(commented("-  # c1\n  x # c2"), "seq[x(h[^c1] i\"c2\"/1)]");
}

TEST(CommentAttachment, NodeEndPosition) {
  auto roots = compose_documents("a: [b, 'c d']\ne: |\n  x\n");
  ASSERT_TRUE(roots);
  const YamlNode& root = roots->front();
  EXPECT_EQ(node_end_position(root.value(0)), (LineColumn{0, 12}));
  EXPECT_EQ(node_end_position(root), (LineColumn{3, 0}));
  EXPECT_EQ(node_end_position(root.key(1)), (LineColumn{1, 1}));
  EXPECT_EQ(node_end_position(YamlNode::scalar("h\xc3\xa9")), (LineColumn{0, 2}));
  EXPECT_EQ(node_end_position(YamlNode::mapping({})), (LineColumn{0, 0}));
}

TEST(CommentAttachment, LastOpenCollection) {
  auto roots = compose_documents("a:\n  b:\n    - 1\n  c: [2]\n");
  ASSERT_TRUE(roots);
  YamlNode& root = roots->front();
  EXPECT_EQ(&last_open_collection(root, 0), &root);
  // The last value is a flow sequence: the inner block mapping stops it.
  EXPECT_EQ(&last_open_collection(root, 4), &root.value(0));
}

// The three entry points: empty documents, file ids, the byte-order mark.
TEST(ComposeEntryPoints, DocumentCounts) {
  const char* three = "a\n---\n---\nb\n";
  auto some = compose_documents(three);
  auto all = compose_all_documents(three);
  auto file = compose_file_documents(three, 3);
  ASSERT_TRUE(some && all && file);
  EXPECT_EQ(some->size(), 2u);
  EXPECT_EQ(file->size(), 2u);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[1].kind(), NodeKind::Null);
  EXPECT_TRUE((*all)[1].explicit_start);
  for (const char* empty : {"", "# c\n# d\n", "\n\n"}) {
    EXPECT_TRUE(compose_documents(empty)->empty());
    EXPECT_TRUE(compose_all_documents(empty)->empty());
    EXPECT_TRUE(compose_file_documents(empty, 2)->empty());
  }
}

TEST(ComposeEntryPoints, FileIdOnEverySpan) {
  auto roots = compose_file_documents("a:\n- [x, y: z]\nb:\n# c\n", 3);
  ASSERT_TRUE(roots);
  std::vector<const YamlNode*> work{&roots->front()};
  std::size_t seen = 0;
  while (!work.empty()) {
    const YamlNode* n = work.back();
    work.pop_back();
    EXPECT_EQ(n->span.file_id, 3u) << testing::dump_node(*n);
    ++seen;
    push_children(*n, work);
  }
  EXPECT_GE(seen, 8u);
  auto scan_error = compose_file_documents("a: [", 3);
  ASSERT_FALSE(scan_error);
  EXPECT_EQ(scan_error.error().span.file_id, 3u);
  auto compose_error = compose_file_documents("a: *x", 3);
  ASSERT_FALSE(compose_error);
  EXPECT_EQ(compose_error.error().span.file_id, 3u);
  EXPECT_EQ(describe(compose_error.error()), "error: unknown alias: *x @1:4");
}

TEST(ComposeEntryPoints, LeadingByteOrderMark) {
  auto roots = compose_documents("\xef\xbb\xbf# c\na: 1\n---\nb");
  ASSERT_TRUE(roots);
  ASSERT_EQ(roots->size(), 2u);
  EXPECT_TRUE((*roots)[0].leading_bom);
  EXPECT_FALSE((*roots)[1].leading_bom);
  EXPECT_EQ((*roots)[0].span.offset, 7u);
  EXPECT_EQ((*roots)[0].span.line, 1u);
  EXPECT_EQ((*roots)[0].comments.head().at(0).text, "c");
  auto plain = compose_documents("a: 1");
  EXPECT_FALSE(plain->front().leading_bom);
  EXPECT_TRUE(compose_documents("\xef\xbb\xbf")->empty());
}

// A syntax error in the second document fails the whole call.
TEST(ComposeEntryPoints, ErrorInLaterDocument) {
  auto roots = compose_documents("a: 1\n---\nb: [\n");
  ASSERT_FALSE(roots);
  EXPECT_EQ(roots.error().span.line, 3u);
}

TEST(ComposeEntryPoints, DocumentTexts) {
  const char* text = "# head\n%YAML 1.2\n---\na: 1\n---\n---\nb\n...\nc\n";
  auto docs = compose_document_texts(text);
  ASSERT_TRUE(docs);
  ASSERT_EQ(docs->size(), 4u);
  EXPECT_EQ((*docs)[0].text, "# head\n%YAML 1.2\n---\na: 1\n");
  EXPECT_EQ((*docs)[1].text, "---\n");
  EXPECT_EQ((*docs)[2].text, "---\nb\n...\n");
  EXPECT_EQ((*docs)[3].text, "c\n");
  EXPECT_EQ((*docs)[0].root.comments.head().at(0).text, "head");
  EXPECT_EQ((*docs)[1].root.kind(), NodeKind::Null);
}

}  // namespace
}  // namespace ostrevane
