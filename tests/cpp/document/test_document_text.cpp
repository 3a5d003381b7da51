// Document text: verbatim while nothing changed, and the layout around the
// emitter when roots are written again (separators, byte-order mark, final
// line feed), tested with a writer of our own.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/composer/compose.hpp"
#include "roundtrip/document/document_text.hpp"

namespace ostrevane {
namespace {

// Writes each root as its scalar text and a line feed; `kept_end` plays the
// emitter's position after kept block-scalar text.
class FakeWriter final : public RootWriter {
 public:
  std::optional<std::size_t> kept_end;
  OutputBuffer out;
  OutputBuffer& output() override { return out; }
  void write(const YamlNode& root, bool /*document_follows*/) override {
    for (const std::string& directive : root.directives()) {
      out.append("%");
      out.append(directive);
      out.append("\n");
    }
    if (root.explicit_start) out.append("---\n");
    out.append(root.text());
    out.append("\n");
  }
  std::optional<std::size_t> final_newline() const override { return kept_end; }
};

YamlNode root(std::string text, bool explicit_start = false,
              std::vector<std::string> directives = {}) {
  YamlNode node = YamlNode::scalar(std::move(text));
  node.explicit_start = explicit_start;
  for (std::string& d : directives) node.edit_extras().directives.push_back(std::move(d));
  return node;
}

std::string write(const NodeList& roots, FakeWriter& writer) {
  writer.out.clear();
  write_roots(roots, writer);
  return std::string(writer.out.view());
}

TEST(WriteRoots, SeparatorsBetweenRoots) {
  struct Case {
    const char* name;
    NodeList roots;
    std::string_view expected;
  };
  std::vector<Case> cases;
  {
    NodeList r;
    r.push_back(root("a"));
    r.push_back(root("b"));
    r.push_back(root("c"));
    cases.push_back({"plain roots get ---", std::move(r), "a\n---\nb\n---\nc\n"});
  }
  {
    NodeList r;
    r.push_back(root("a", true));
    r.push_back(root("b", true));
    cases.push_back({"own --- lines are not doubled", std::move(r), "---\na\n---\nb\n"});
  }
  {
    NodeList r;
    r.push_back(root("a"));
    r.push_back(root("b", true, {"YAML 1.1"}));
    cases.push_back({"directives follow ...", std::move(r), "a\n...\n%YAML 1.1\n---\nb\n"});
  }
  {
    NodeList r;
    r.push_back(root("only"));
    cases.push_back({"one root", std::move(r), "only\n"});
  }
  cases.push_back({"no roots", NodeList(), ""});
  for (Case& c : cases) {
    FakeWriter writer;
    EXPECT_EQ(write(c.roots, writer), c.expected) << c.name;
  }
}

TEST(WriteRoots, ByteOrderMarkOnlyFromTheFirstRoot) {
  NodeList roots;
  roots.push_back(root("a"));
  roots.push_back(root("b"));
  FakeWriter writer;
  roots[1].leading_bom = true;
  EXPECT_EQ(write(roots, writer), "a\n---\nb\n");
  roots[0].leading_bom = true;
  EXPECT_EQ(write(roots, writer),
            "\xEF\xBB\xBF"
            "a\n---\nb\n");
}

TEST(WriteRoots, FinalNewlineRule) {
  NodeList roots;
  roots.push_back(root("ab"));
  FakeWriter writer;
  // The writer added the last line feed after kept text: it goes.
  writer.kept_end = 2;
  EXPECT_EQ(write(roots, writer), "ab");
  // Anything after the kept text keeps it.
  writer.kept_end = 1;
  EXPECT_EQ(write(roots, writer), "ab\n");
  // Only the last position counts, and it counts once for all roots.
  roots.push_back(root("c"));
  writer.kept_end = 8;  // just past the "c" of "ab\n---\nc"
  EXPECT_EQ(write(roots, writer), "ab\n---\nc");
  writer.kept_end = 2;
  EXPECT_EQ(write(roots, writer), "ab\n---\nc\n");
}

TEST(DocumentToText, VerbatimWhileNothingIsModified) {
  DocumentData data;
  data.source_text = "# only a comment\n";
  EXPECT_TRUE(document_to_text(data).is_verbatim());
  EXPECT_EQ(document_to_text(data).view(), "# only a comment\n");
  data.source_text = "a:   1  # kept\n";
  data.roots.push_back(root("unused"));
  const DocumentText text = document_to_text(data);
  EXPECT_TRUE(text.is_verbatim());
  EXPECT_EQ(text.view(), *data.source_text);
  EXPECT_EQ(text.view().data(), data.source_text->data());  // no copy
}

TEST(DocumentToText, ModifiedOrSourcelessDocumentsAreEmitted) {
  DocumentData data;
  data.source_text = "a: 1\n";
  data.roots.push_back(root("x"));
  data.roots.front().comments.modified = true;
  EXPECT_FALSE(document_to_text(data).is_verbatim());
  data.roots.front().comments.modified = false;
  data.source_text.reset();
  EXPECT_FALSE(document_to_text(data).is_verbatim());
}

}  // namespace
}  // namespace ostrevane

namespace ostrevane {
namespace {

// Composed documents with one node marked as changed, written through the
// round-trip emitter.
std::string emitted(std::string_view text) {
  Result<NodeList, ScanError> roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value()) << text;
  if (!roots) return "";
  DocumentData data;
  data.source_text = std::string(text);
  data.roots = std::move(*roots);
  data.roots.back().comments.modified = true;
  const DocumentText written = document_to_text(data);
  EXPECT_FALSE(written.is_verbatim());
  return std::string(written.view());
}

TEST(DocumentToText, ModifiedDocumentsThroughTheEmitter) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"one root", "a: 1  # one\nb: [x, y]\n", "a: 1  # one\nb: [x, y]\n"},
      {"roots without markers get ---", "a: 1\n--- b\n---\nc: 3\n", "a: 1\n---\nb\n---\nc: 3\n"},
      {"a root with directives follows ...", "a: 1\n...\n%YAML 1.1\n---\nb: 2\n",
       "a: 1\n...\n%YAML 1.1\n---\nb: 2\n"},
      {"byte-order mark kept",
       "\xEF\xBB\xBF"
       "a: 1\n",
       "\xEF\xBB\xBF"
       "a: 1\n"},
      {"kept block scalar at the very end", "a: 1\nb: |\n  x", "a: 1\nb: |\n  x"},
      {"a later root keeps the line feed", "a: |\n  x\n--- 2", "a: |\n  x\n---\n2\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(emitted(c.text), c.expected) << c.name;
}

}  // namespace
}  // namespace ostrevane
