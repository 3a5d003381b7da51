// decode_stream_each against decode_stream: the same documents, in order and
// one at a time, the same warnings, and the same error (a scan error anywhere
// still wins over a decode error in an earlier document).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "dump_value.hpp"

namespace ostrevane {
namespace {

using testing::dump_value;

// Dumps each document as it arrives and frees it at once, as the binding
// does.
class DumpingSink final : public DocumentSink {
 public:
  void take(Value document) override {
    dumps.push_back(dump_value(document));
    drop_value_iterative(std::move(document));
  }
  std::vector<std::string> dumps;
};

struct EachCase {
  const char* yaml;
  bool dup_error;
  bool dup_warn;
};

class DecodeEach : public ::testing::TestWithParam<EachCase> {};

TEST_P(DecodeEach, AgreesWithTheWholeStream) {
  const EachCase& c = GetParam();
  for (const DecodedTexts texts : {DecodedTexts::Owned, DecodedTexts::BorrowInput}) {
    auto whole = decode_stream(c.yaml, ResolverMode::Yaml12, c.dup_error, false, false, c.dup_warn,
                               false, texts);
    DumpingSink sink;
    auto each = decode_stream_each(c.yaml, ResolverMode::Yaml12, c.dup_error, false, false,
                                   c.dup_warn, false, sink, texts);
    ASSERT_EQ(whole.has_value(), each.has_value()) << c.yaml;
    if (!whole) {
      EXPECT_EQ(whole.error().message, each.error().message);
      EXPECT_EQ(whole.error().span.line, each.error().span.line);
      EXPECT_EQ(whole.error().span.column, each.error().span.column);
      EXPECT_EQ(whole.error().category, each.error().category);
      continue;
    }
    EXPECT_EQ(whole->warnings, *each);
    std::vector<std::string> expected;
    for (const Value& doc : whole->documents) expected.push_back(dump_value(doc));
    EXPECT_EQ(expected, sink.dumps);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, DecodeEach,
    ::testing::Values(
        EachCase{"", false, false}, EachCase{"a: 1", false, false},
        EachCase{"--- a\n--- b\n...\n--- [c, d]\n", false, false},
        EachCase{"a: &x {k: v}\nb: *x\n---\nc: &x 2\nd: *x\n", false, false},
        EachCase{"base: &b {x: 1}\nm:\n  <<: *b\n  y: 2\n---\n- <<: {z: 3}\n", false, false},
        EachCase{"a: 1\na: 2\n---\nb: 1\nb: 2\n", false, true},
        EachCase{"a: 1\n---\nb: 2\n---\nc: 1\nc: 2\n", true, false},
        EachCase{"a: 1\n---\nb: 1\nb: 2\n---\n[x\n", true, false},
        EachCase{"%YAML 1.2\n--- a\n...\n%TAG !e! tag:e,2000:\n--- !e!x b\n", false, false},
        EachCase{"a: 1\n--- b: [\n", false, false}));

}  // namespace
}  // namespace ostrevane
