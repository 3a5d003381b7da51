// Text -> commented node trees through the compose entry points.
// Invariants: composing a document at a time gives the same trees, or the
// same error, as composing one complete token list; every node and error
// position carries the file id, lies within the text, and no node ends
// before it starts; every scanned comment is attached exactly once;
// keeping empty documents only adds roots; the per-document texts put
// together give the text back; comments attached root by root while
// composing land where attaching them to all roots afterwards puts them; a clone dumps like its
// original, and every tree is dropped without recursion.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../cpp/roundtrip/dump_node.hpp"
#include "fuzz_support.hpp"
#include "roundtrip/composer/comments.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/composer/composer.hpp"
#include "scanner/input_decode.hpp"
#include "scanner/scanner.hpp"

using namespace ostrevane;

namespace {

constexpr std::uint32_t kFileId = 5;

std::string where(const ScanError& e) {
  return e.message + " at offset " + std::to_string(e.span.offset);
}

// The (line, column) of `to`, counted byte by byte from a scalar's start.
std::pair<std::uint32_t, std::uint32_t> count_to(std::string_view text, const Span& from,
                                                 std::uint64_t to) {
  std::uint32_t line = from.line, column = from.column;
  for (std::uint64_t i = from.offset; i < to; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++line;
      column = 0;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return {line, column};
}

// Checks every node's positions and counts the comment texts attached.
std::uint64_t check_tree(const YamlNode& root, std::string_view text) {
  const std::size_t text_size = text.size();
  std::uint64_t attached = 0;
  std::vector<const YamlNode*> work{&root};
  while (!work.empty()) {
    const YamlNode* n = work.back();
    work.pop_back();
    FUZZ_REQUIRE(n->span.file_id == kFileId, "a node without the file id");
    FUZZ_REQUIRE(n->span.offset <= text_size && n->end_offset <= text_size,
                 "a node beyond the text");
    if (n->kind() == NodeKind::Scalar) {
      FUZZ_REQUIRE(n->end_offset >= n->span.offset, "a scalar ending before its start");
      FUZZ_REQUIRE(n->end_line >= n->span.line, "a scalar ending on an earlier line");
      const auto end = count_to(text, n->span, n->end_offset);
      FUZZ_REQUIRE(end.first == n->end_line && end.second == n->end_column,
                   "a scalar's end line or column is wrong");
    }
    if (n->kind() == NodeKind::Mapping) {
      FUZZ_REQUIRE(n->children().size() % 2 == 0, "a mapping with an odd child count");
    }
    const Comments& c = n->comments;
    attached += c.head().size() + c.foot().size() + (c.inline_comment() ? 1 : 0);
    push_children(*n, work);
  }
  return attached;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The scanner takes valid UTF-8 only: the input layer sees to that.
  auto decoded = decode_input_bytes(fuzz::as_text(data, size));
  if (!decoded) return 0;
  const std::string& text = *decoded;

  auto roots = compose_file_documents(text, kFileId);

  // The same text over one complete token list.
  auto listed = scan_all_tokens(text, ScanOptions{kFileId, true});
  Composer whole(text);
  Result<NodeList, ScanError> again =
      listed ? whole.compose_stream(*listed, false) : std::unexpected(listed.error());
  FUZZ_REQUIRE(roots.has_value() == again.has_value(), "the two roads disagree on success");

  if (!roots) {
    const ScanError& e = roots.error();
    FUZZ_REQUIRE(!e.message.empty(), "empty error");
    FUZZ_REQUIRE(e.span.file_id == kFileId, where(e) + ": no file id");
    FUZZ_REQUIRE(e.span.offset <= text.size(), where(e));
    // The road over one complete token list scans the whole text before it
    // composes: where the scan fails past the error the document-at-a-time
    // road met first (an unknown alias, say), that scan error is all it
    // can report.
    const bool scanned_past = !listed && again.error().span.offset > e.span.offset;
    FUZZ_REQUIRE(scanned_past ||
                     (e.message == again.error().message && e.span == again.error().span),
                 where(e) + " against " + where(again.error()));
    FUZZ_REQUIRE(!compose_all_documents(text), "keeping empty documents hid an error");
    return 0;
  }
  FUZZ_REQUIRE(testing::dump_nodes(*roots) == testing::dump_nodes(*again),
               "the two roads compose different trees");
  // The entry points attach root by root while composing; attaching to the
  // whole list afterwards must agree.
  attach_comments_to_documents(*again, listed->comments, text, whole.dash_positions(),
                               whole.marker_lines(), &whole.skipped_lines());
  FUZZ_REQUIRE(testing::dump_nodes(*roots, true, true) == testing::dump_nodes(*again, true, true),
               "attaching root by root differs from attaching afterwards");

  std::uint64_t attached = 0;
  for (const YamlNode& root : *roots) {
    attached += check_tree(root, text);
    YamlNode copy = root.clone();
    FUZZ_REQUIRE(testing::dump_node(copy, true, true) == testing::dump_node(root, true, true),
                 "a clone differs from its original");
  }
  const std::uint64_t scanned = listed->comments.size();
  FUZZ_REQUIRE(attached == (roots->empty() ? 0 : scanned), "a comment lost or attached twice");

  auto all = compose_all_documents(text);
  FUZZ_REQUIRE(all && all->size() >= roots->size(), "keeping empty documents lost roots");

  auto documents = compose_document_texts(text);
  FUZZ_REQUIRE(documents && documents->size() == all->size(), "document texts differ in count");
  if (!documents->empty()) {
    std::string joined;
    for (const ComposedDocument& d : *documents) joined += d.text;
    FUZZ_REQUIRE(joined == text, "the document texts do not give the text back");
  }
  return 0;
}
