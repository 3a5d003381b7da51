// Property: whatever the layout options, the YAML writer's output decodes
// back to the value it was written from, under the mode it was written for.
// JSON output is YAML 1.2 as well, so the same decoder reads it back as the
// value's JSON form (keys as texts, tags dropped, NaN and infinities null).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "emit_util/detail/unprintable.hpp"
#include "encode/writer.hpp"
#include "value_builders.hpp"

namespace ostrevane {
namespace {

using namespace test;

// Texts that stress quoting: keywords of both YAML versions, numbers in
// every spelling, indicators, markers, blanks, controls, line breaks,
// document markers and non-ASCII characters.
const char* const kTrickyTexts[] = {
    "",
    " ",
    "  ",
    "a",
    "~",
    "null",
    "Null",
    "NULL",
    "true",
    "False",
    "yes",
    "No",
    "on",
    "OFF",
    "y",
    "n",
    "Y",
    "N",
    "<<",
    "=",
    "...",
    "---",
    "--- x",
    "... x",
    "...x",
    "-",
    "- x",
    "-x",
    "?",
    "? x",
    ":",
    ": x",
    "x:",
    "x: y",
    "x:y",
    "#",
    "# x",
    "x #y",
    "x#y",
    "&a",
    "*a",
    "!t",
    "%YAML 1.1",
    "@x",
    "`x",
    "|",
    ">",
    "[",
    "]",
    "{",
    "}",
    ",",
    "a,b",
    "[a]",
    "{a: 1}",
    "'",
    "\"",
    "'x'",
    "\"x\"",
    "x'y",
    "0",
    "1",
    "-1",
    "+1",
    "012",
    "0o17",
    "0x1F",
    "0b101",
    "1_000",
    "1.5",
    "1.",
    ".5",
    "1e3",
    "1.0e5",
    "1.0e+5",
    "+.inf",
    "-.inf",
    ".nan",
    ".NaN",
    ".inf",
    "1:30",
    "190:20:30",
    "1:30.5",
    "_1",
    "-_1",
    "2001-12-14",
    "2001-1-1",
    "2001-12-14 21:59:43.10 -5",
    "2001-12-14t21:59:43z",
    "2001-12-14 21:59:43 Z",
    "99999999999999999999",
    "-9223372036854775809",
    "a b",
    "a  b",
    " a",
    "a ",
    "\ta",
    "a\t",
    "a\tb",
    "a\nb",
    "a\n",
    "\n",
    "\n\n",
    "a\n\n",
    "\na",
    " a\nb",
    "a\n b",
    "a\r\nb",
    "\r",
    "line one\nline two\n",
    "x\x01y",
    "x\x7fy",
    "\xc2\x85",
    "a\xc2\x85"
    "b",
    "\xc2\x80",
    "\xe2\x80\xa8",
    "\xef\xbb\xbf"
    "bom",
    "\xef\xbf\xbe",
    "caf\xc3\xa9",
    "\xe6\x97\xa5\xe6\x9c\xac",
    "\xf0\x9f\x98\x80",
    "\xc2\xa0",
    "x\xc2\xa0",
    "a\\b",
    "\\",
    "C:\\path\\to",
    "a long text with several words in it that goes on past any width we test",
    "another long text, with commas, and: colons, #hashes and 'quotes' and \"double\" ones",
    "averyveryverylongwordwithoutanyspaceatallthatcannotbefoldedanywhere",
    "ends with a space ",
    " starts with a space and has words",
    "two  spaces  between",
};

class TreeMaker {
 public:
  explicit TreeMaker(std::uint64_t seed) : rng_(seed) {}

  Value text() {
    const std::size_t n = std::size(kTrickyTexts);
    if (pick(4) == 0) {
      // Two tricky texts glued together.
      return S(std::string(kTrickyTexts[pick(n)]) + kTrickyTexts[pick(n)]);
    }
    return S(kTrickyTexts[pick(n)]);
  }

  Value scalar() {
    switch (pick(9)) {
      case 0:
        return N();
      case 1:
        return B(pick(2) == 1);
      case 2:
        return I(static_cast<std::int64_t>(rng_()) >> pick(64));
      case 3: {
        double d;
        do {
          const std::uint64_t bits = rng_();
          std::memcpy(&d, &bits, sizeof d);
        } while (std::isnan(d));
        return F(pick(2) ? d : static_cast<double>(pick(2000)) / 8.0 - 100.0);
      }
      case 4:
        return Value::big_int(pick(2) ? "123456789012345678901234567890" : "-98765432109876543210");
      default:
        return text();
    }
  }

  Value key(int depth) {
    switch (pick(12)) {
      case 0:
        return N();
      case 1:
        return I(static_cast<std::int64_t>(pick(1000)) - 500);
      case 2:
        return F(static_cast<double>(pick(100)) / 4.0);
      case 3:
        return B(pick(2) == 1);
      case 4:
        if (depth < 3) return Seq(text(), I(1));
        return text();
      default:
        return text();
    }
  }

  Value tree(int depth) {
    // The root is always a collection; deeper levels are scalars more often.
    const unsigned roll = depth == 0 ? 6 + pick(4) : pick(10);
    if (depth >= 4 || roll < 4) return scalar();
    if (roll == 4) return Value::tagged(pick(2) ? "!t" : "!x", text());
    if (roll == 5)
      return Value::tagged("!coll", pick(2) ? Seq(I(1), text()) : Map(KV(text(), I(2))));
    if (roll < 8) {
      ValueList items;
      for (unsigned i = pick(6); i > 0; --i) items.push_back(tree(depth + 1));
      return Value::sequence(std::move(items));
    }
    ValuePairList pairs;
    std::vector<Value> keys;
    for (unsigned i = pick(6); i > 0; --i) {
      Value k = key(depth);
      bool duplicate = false;
      for (const Value& seen : keys)
        duplicate = duplicate || canonical_key(seen) == canonical_key(k);
      if (duplicate) continue;
      keys.push_back(k.clone());
      pairs.push_back(KV(std::move(k), tree(depth + 1)));
    }
    return Value::mapping(std::move(pairs));
  }

  WriterOptions options() {
    WriterOptions o;
    o.indent = pick(2) ? 2 : 4;
    const std::size_t widths[] = {0, 0, 1, 12, 20, 40, 80};
    o.width = widths[pick(std::size(widths))];
    o.null_style = static_cast<NullStyle>(pick(3));
    o.mode = static_cast<ResolverMode>(pick(3));
    o.flow_style = pick(4) == 0;
    o.explicit_start = pick(2) == 1;
    o.explicit_end = pick(2) == 1;
    o.double_quotes = pick(2) == 1;
    o.indentless_sequences = pick(2) == 1;
    return o;
  }

 private:
  unsigned pick(std::size_t n) { return static_cast<unsigned>(rng_() % n); }
  std::mt19937_64 rng_;
};

std::string describe(const WriterOptions& o) {
  return "indent=" + std::to_string(o.indent) + " width=" + std::to_string(o.width) +
         " null=" + std::to_string(static_cast<int>(o.null_style)) +
         " mode=" + std::to_string(static_cast<int>(o.mode)) +
         " flow=" + std::to_string(o.flow_style) + " start=" + std::to_string(o.explicit_start) +
         " end=" + std::to_string(o.explicit_end) + " double=" + std::to_string(o.double_quotes) +
         " indentless=" + std::to_string(o.indentless_sequences);
}

// Each tree alone at the root, and as the value under a key, an item of a
// list and a key of its own where it is a scalar.
TEST(WriterRoundTrip, RandomTreesReadBack) {
  TreeMaker maker(2026);
  for (int round = 0; round < 30000; ++round) {
    const WriterOptions o = maker.options();
    Value inner = maker.tree(0);
    Value v = round % 3 == 0   ? std::move(inner)
              : round % 3 == 1 ? Map(KV(S("k"), std::move(inner)), KV(S("after"), I(1)))
                               : Seq(std::move(inner), S("after"));
    const OutputBuffer text = write_yaml_document(v, o);
    auto r = decode_stream(text.view(), o.mode, false, false, false, false, false);
    ASSERT_TRUE(r.has_value()) << describe(o) << "\n"
                               << text.view() << "\n"
                               << r.error().message << " at line " << r.error().span.line + 1
                               << ", column " << r.error().span.column + 1;
    ASSERT_EQ(r->documents.size(), 1u) << text.view();
    ASSERT_EQ(r->documents[0], v) << describe(o) << "\n"
                                  << text.view() << "\n"
                                  << value_debug_text(r->documents[0]) << "\n"
                                  << value_debug_text(v);
  }
}

// The value as JSON carries it; nothing when a text holds a character the
// YAML reader refuses in its input (DEL, C1 controls, U+FFFE, U+FFFF), which
// JSON copies raw.
std::optional<Value> json_form(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Float:
      if (!std::isfinite(v.as_float())) return N();
      return F(v.as_float());
    case ValueKind::String: {
      for (std::size_t i = 0; i < v.text().size(); ++i) {
        if (static_cast<unsigned char>(v.text()[i]) >= 0x7F &&
            detail::unprintable_at(v.text(), i) != 0) {
          return std::nullopt;
        }
      }
      return S(v.text());
    }
    case ValueKind::Tagged:
      return json_form(v.inner());
    case ValueKind::Sequence: {
      ValueList items;
      for (const Value& item : v.items()) {
        auto j = json_form(item);
        if (!j) return std::nullopt;
        items.push_back(std::move(*j));
      }
      return Value::sequence(std::move(items));
    }
    case ValueKind::Mapping: {
      ValuePairList pairs;
      for (const ValuePair& p : v.pairs()) {
        // The key's JSON name, as the writer spells it.
        OutputBuffer name;
        if (!write_json_value_guarded(name, Map(KV(p.key.clone(), N())), JsonOptions{})) {
          return std::nullopt;
        }
        Value back;
        auto r =
            decode_stream(name.view(), ResolverMode::Yaml12, false, false, false, false, false);
        if (!r || r->documents.size() != 1) return std::nullopt;
        auto value = json_form(p.value);
        if (!value) return std::nullopt;
        // A copy: the decoded key lives in the stream's storage, gone with r.
        const Value& key = r->documents[0].pairs()[0].key;
        if (key.kind() != ValueKind::String) return std::nullopt;
        pairs.push_back(KV(Value::string(key.text()), std::move(*value)));
      }
      return Value::mapping(std::move(pairs));
    }
    default:
      return v.clone();
  }
}

TEST(WriterRoundTrip, RandomTreesAsJson) {
  TreeMaker maker(8);
  int checked = 0;
  for (int round = 0; round < 20000; ++round) {
    const Value v = maker.tree(0);
    OutputBuffer text;
    if (!write_json_value_guarded(
            text, v,
            JsonOptions{.indent = round % 3 == 0 ? 2u : 0u, .sort_keys = round % 2 == 0})) {
      continue;  // a collection key
    }
    auto expected = json_form(v);
    if (!expected) continue;
    auto r = decode_stream(text.view(), ResolverMode::Yaml12, false, false, false, false, false);
    ASSERT_TRUE(r.has_value()) << text.view() << "\n" << r.error().message;
    ASSERT_EQ(r->documents.size(), 1u);
    if (round % 2 == 0) continue;  // sorted: the order differs from the value's
    ASSERT_EQ(r->documents[0], *expected) << text.view() << "\n"
                                          << value_debug_text(r->documents[0]) << "\n"
                                          << value_debug_text(*expected);
    ++checked;
  }
  EXPECT_GT(checked, 3000);
}

}  // namespace
}  // namespace ostrevane
