// The YAML value writer: exact output bytes for each layout option.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "decode/decoder.hpp"
#include "encode/writer.hpp"
#include "value_builders.hpp"

namespace ostrevane {
namespace {

using namespace test;

struct YamlCase {
  const char* name;
  Value (*make)();
  WriterOptions options;
  const char* expected;
};

constexpr WriterOptions kDefault{};
constexpr WriterOptions kKeyword{.null_style = NullStyle::Keyword};
constexpr WriterOptions kTilde{.null_style = NullStyle::Tilde};
constexpr WriterOptions kIndent4{.indent = 4};
constexpr WriterOptions kIndentless{.indentless_sequences = true};
constexpr WriterOptions kFlow{.flow_style = true};
constexpr WriterOptions kFlowTilde{.null_style = NullStyle::Tilde, .flow_style = true};
constexpr WriterOptions kSingle{.double_quotes = false};
constexpr WriterOptions kFramed{.explicit_start = true, .explicit_end = true};
constexpr WriterOptions kSorted{.sort_keys = true};
constexpr WriterOptions kWidth20{.width = 20};
constexpr WriterOptions kFlowWidth20{.width = 20, .flow_style = true};
constexpr WriterOptions kYaml11{.mode = ResolverMode::Yaml11};

const YamlCase kCases[] = {
    // Roots that are not block collections.
    {"null root", [] { return N(); }, kDefault, "null\n"},
    {"null root tilde", [] { return N(); }, kTilde, "~\n"},
    {"null root keyword", [] { return N(); }, kKeyword, "null\n"},
    {"empty map root", [] { return Map(); }, kDefault, "{}\n"},
    {"empty seq root", [] { return Seq(); }, kDefault, "[]\n"},
    {"bool root", [] { return B(false); }, kDefault, "false\n"},
    {"int root", [] { return I(-42); }, kDefault, "-42\n"},
    {"string root", [] { return S("hello world"); }, kDefault, "hello world\n"},

    // Nulls in each place and style.
    {"null value default", [] { return Map(KV(S("k"), N())); }, kDefault, "k:\n"},
    {"null value keyword", [] { return Map(KV(S("k"), N())); }, kKeyword, "k: null\n"},
    {"null value tilde", [] { return Map(KV(S("k"), N())); }, kTilde, "k: ~\n"},
    {"null item default", [] { return Seq(N(), I(1)); }, kDefault, "-\n- 1\n"},
    {"null item keyword", [] { return Seq(N()); }, kKeyword, "- null\n"},
    {"null item tilde", [] { return Seq(N()); }, kTilde, "- ~\n"},
    {"null in flow default", [] { return Map(KV(S("a"), Seq(N(), I(1)))); }, kFlow,
     "{a: [null, 1]}\n"},
    {"null in flow tilde", [] { return Map(KV(S("a"), Seq(N(), I(1)))); }, kFlowTilde,
     "{a: [~, 1]}\n"},
    {"null key", [] { return Map(KV(N(), I(1))); }, kDefault, "null: 1\n"},
    {"null key tilde", [] { return Map(KV(N(), I(1))); }, kTilde, "~: 1\n"},

    // Indentation of sequences under keys.
    {"seq under key", [] { return Map(KV(S("k"), Seq(I(1), I(2)))); }, kDefault,
     "k:\n  - 1\n  - 2\n"},
    {"seq under key indentless", [] { return Map(KV(S("k"), Seq(I(1), I(2)))); }, kIndentless,
     "k:\n- 1\n- 2\n"},
    {"seq under key indent 4", [] { return Map(KV(S("k"), Seq(I(1), I(2)))); }, kIndent4,
     "k:\n    - 1\n    - 2\n"},
    {"seq under key flow", [] { return Map(KV(S("k"), Seq(I(1), I(2)))); }, kFlow, "{k: [1, 2]}\n"},
    {"indent step 0 counts as 1", [] { return Map(KV(S("a"), Map(KV(S("b"), I(1))))); },
     WriterOptions{.indent = 0}, "a:\n b: 1\n"},

    // Nesting.
    {"nested map", [] { return Map(KV(S("a"), Map(KV(S("b"), I(1)))), KV(S("c"), I(2))); },
     kDefault, "a:\n  b: 1\nc: 2\n"},
    {"nested map indent 4", [] { return Map(KV(S("a"), Map(KV(S("b"), I(1))))); }, kIndent4,
     "a:\n    b: 1\n"},
    {"seq in seq", [] { return Seq(Seq(I(1), I(2)), I(3)); }, kDefault, "-\n  - 1\n  - 2\n- 3\n"},
    {"seq in seq indent 4", [] { return Seq(Seq(I(1))); }, kIndent4, "-\n  - 1\n"},
    {"maps in seq",
     [] { return Seq(Map(KV(S("a"), I(1)), KV(S("b"), I(2))), Map(KV(S("c"), I(3)))); }, kDefault,
     "- a: 1\n  b: 2\n- c: 3\n"},
    {"maps in seq indent 4",
     [] { return Seq(Map(KV(S("a"), I(1)), KV(S("b"), Map(KV(S("c"), I(3)))))); }, kIndent4,
     "- a: 1\n  b:\n      c: 3\n"},
    {"seq in map in seq indentless", [] { return Seq(Map(KV(S("a"), Seq(I(1))))); }, kIndentless,
     "- a:\n  - 1\n"},
    {"empty collections as values", [] { return Map(KV(S("a"), Seq()), KV(S("b"), Map())); },
     kDefault, "a: []\nb: {}\n"},
    {"empty collections as items", [] { return Seq(Seq(), Map()); }, kDefault, "- []\n- {}\n"},
    {"flow root", [] { return Seq(I(1), Map(KV(S("a"), S("b")))); }, kFlow, "[1, {a: b}]\n"},
    {"collection key", [] { return Map(KV(Seq(I(1), I(2)), S("x"))); }, kDefault, "[1, 2]: x\n"},

    // Empty strings and quoting.
    {"empty string", [] { return S(""); }, kDefault, "\"\"\n"},
    {"empty string single", [] { return S(""); }, kSingle, "''\n"},
    {"comma plain in block", [] { return Map(KV(S("k"), S("a,b"))); }, kDefault, "k: a,b\n"},
    {"flow indicators plain in block items",
     [] { return Map(KV(S("k"), Seq(S("a,b"), S("[x"), S("y}")))); }, kDefault,
     "k:\n  - a,b\n  - \"[x\"\n  - y}\n"},
    {"flow indicators quoted in flow", [] { return Seq(S("a,b"), S("c]"), S("{d"), S("e")); },
     kFlow, "[\"a,b\", \"c]\", \"{d\", e]\n"},
    {"keyword double quoted", [] { return Seq(S("yes"), S("null"), S("1.5"), S("~")); }, kDefault,
     "- \"yes\"\n- \"null\"\n- \"1.5\"\n- \"~\"\n"},
    {"keyword single quoted", [] { return Seq(S("yes"), S("-x")); }, kSingle, "- 'yes'\n- '-x'\n"},
    {"single quotes fall back to double", [] { return Seq(S("'x"), S("a\tb"), S("\xc2\x80")); },
     kSingle, "- \"'x\"\n- \"a\\tb\"\n- \"\\x80\"\n"},
    {"escapes", [] { return S(std::string_view("a\"b\\c\0", 6)); }, kDefault,
     "\"a\\\"b\\\\c\\0\"\n"},
    {"multi-line key quoted", [] { return Map(KV(S("a\nb"), I(1))); }, kDefault, "\"a\\nb\": 1\n"},
    {"date plain under 1.2", [] { return Seq(S("2001-12-14"), S("1:30")); }, kDefault,
     "- 2001-12-14\n- 1:30\n"},
    {"date quoted under 1.1", [] { return Seq(S("2001-12-14"), S("1:30"), S("y")); }, kYaml11,
     "- \"2001-12-14\"\n- \"1:30\"\n- \"y\"\n"},
    // The timestamp reader takes a lowercase 'z' as UTC: quoted under 1.1.
    {"lowercase z timestamp quoted under 1.1",
     [] { return Seq(S("2001-12-14 21:59:43z"), S("2001-12-14T21:59:43.5 z")); }, kYaml11,
     "- \"2001-12-14 21:59:43z\"\n- \"2001-12-14T21:59:43.5 z\"\n"},
    {"lowercase z timestamp plain under 1.2", [] { return Seq(S("2001-12-14 21:59:43z")); },
     kDefault, "- 2001-12-14 21:59:43z\n"},
    {"compat mode keeps y and _1 plain", [] { return Seq(S("y"), S("_1"), S("1e5")); },
     WriterOptions{.mode = ResolverMode::Yaml11Compat}, "- y\n- _1\n- \"1e5\"\n"},
    {"1.1 numbers quoted under 1.2", [] { return Seq(S("012"), S("0b1"), S("1_000")); }, kDefault,
     "- \"012\"\n- \"0b1\"\n- \"1_000\"\n"},
    {"timestamp value",
     [] {
       return Value::timestamp(Date{2001, 2, 3});
     },
     kDefault, "2001-02-03\n"},
    {"timestamp value 1.1",
     [] {
       return Value::timestamp(Date{2001, 2, 3});
     },
     kYaml11, "\"2001-02-03\"\n"},
    {"datetime value",
     [] {
       return Value::timestamp(DateTime{2001, 2, 3, 4, 5, 6, 5, -90});
     },
     kDefault, "2001-02-03T04:05:06.000005-01:30\n"},

    // Literal blocks.
    {"literal root", [] { return S("a\nb"); }, kDefault, "|-\n  a\n  b\n"},
    {"literal root indent 4", [] { return S("a\nb\n"); }, kIndent4, "|\n    a\n    b\n"},
    {"literal root under flow", [] { return S("a\n"); }, kFlow, "|\n  a\n"},
    {"literal value", [] { return Map(KV(S("k"), S("a\n\nb\n"))); }, kDefault,
     "k: |\n  a\n\n  b\n"},
    {"literal nested value", [] { return Map(KV(S("x"), Map(KV(S("k"), S("a\nb\n\n"))))); },
     kDefault, "x:\n  k: |+\n    a\n    b\n\n"},
    {"literal item", [] { return Seq(S("a\nb")); }, kIndent4, "- |-\n  a\n  b\n"},
    {"literal refused for leading blank", [] { return Map(KV(S("k"), S(" a\nb"))); }, kDefault,
     "k: \" a\\nb\"\n"},
    {"literal refused for CR", [] { return S("a\r\nb"); }, kDefault, "\"a\\r\\nb\"\n"},
    {"string in flow collection not literal", [] { return Seq(S("a\nb")); }, kFlow,
     "[\"a\\nb\"]\n"},

    // Framing.
    {"explicit start and end", [] { return Map(KV(S("a"), I(1))); }, kFramed, "---\na: 1\n...\n"},
    {"explicit start scalar", [] { return S("x"); }, WriterOptions{.explicit_start = true},
     "---\nx\n"},
    {"explicit end only", [] { return Seq(I(1)); }, WriterOptions{.explicit_end = true},
     "- 1\n...\n"},

    // Tags.
    {"tagged second key explicit",
     [] { return Map(KV(S("a"), I(1)), KV(Tag("!t", S("x")), I(2))); }, kDefault,
     "a: 1\n? !t x\n: 2\n"},
    {"tagged first key inline", [] { return Map(KV(Tag("!t", S("x")), I(2)), KV(S("a"), I(1))); },
     kDefault, "!t x: 2\na: 1\n"},
    {"tagged second key nested",
     [] { return Map(KV(S("m"), Map(KV(S("a"), I(1)), KV(Tag("!t", I(5)), I(2))))); }, kDefault,
     "m:\n  a: 1\n  ? !t 5\n  : 2\n"},
    {"tagged root scalar", [] { return Tag("!t", S("x")); }, kDefault, "!t x\n"},
    {"tagged root seq", [] { return Tag("!t", Seq(I(1))); }, kDefault, "!t\n  - 1\n"},
    {"tagged root map", [] { return Tag("!t", Map(KV(S("a"), I(1)))); }, kDefault, "!t\n  a: 1\n"},
    {"tagged root null", [] { return Tag("!t", N()); }, kDefault, "!t\n"},
    {"tagged root literal", [] { return Tag("!t", S("a\nb")); }, kDefault, "!t |-\n  a\n  b\n"},
    {"tagged seq value", [] { return Map(KV(S("k"), Tag("!t", Seq(I(1))))); }, kDefault,
     "k: !t\n  - 1\n"},
    {"tagged seq value indentless", [] { return Map(KV(S("k"), Tag("!t", Seq(I(1))))); },
     kIndentless, "k: !t\n  - 1\n"},
    {"tagged map value", [] { return Map(KV(S("k"), Tag("!t", Map(KV(S("a"), I(1)))))); }, kDefault,
     "k: !t\n  a: 1\n"},
    {"tagged items", [] { return Seq(Tag("!t", Seq(I(1))), Tag("!t", S("x")), Tag("!t", N())); },
     kDefault, "- !t\n  - 1\n- !t x\n- !t\n"},
    {"tagged in flow", [] { return Seq(Tag("!t", I(1)), Tag("!!str", S("a,b"))); }, kFlow,
     "[!t 1, !!str \"a,b\"]\n"},

    // Numbers.
    {"float spellings",
     [] { return Seq(F(1.0), F(1e16), F(-0.0), F(NAN), F(INFINITY), F(-INFINITY), F(0.0001)); },
     kDefault, "- 1.0\n- 1.0e+16\n- -0.0\n- .nan\n- .inf\n- -.inf\n- 0.0001\n"},
    {"int extremes", [] { return Seq(I(INT64_MAX), I(INT64_MIN)); }, kDefault,
     "- 9223372036854775807\n- -9223372036854775808\n"},
    {"big ints",
     [] {
       return Seq(Value::big_int("123456789012345678901234567890"),
                  Value::big_int("-99999999999999999999"));
     },
     kDefault, "- 123456789012345678901234567890\n- -99999999999999999999\n"},
    {"big int literals become decimal",
     [] {
       return Seq(Value::big_int("ffffffffffffffffff", 16),
                  Value::big_int("+1_000_000_000_000_000_000_000"));
     },
     kDefault, "- 4722366482869645213695\n- 1000000000000000000000\n"},

    // Width: wrapping between flow items and folding of quoted scalars.
    {"flow wraps at width",
     [] {
       ValueList items;
       for (int i = 1; i <= 30; ++i) items.push_back(I(i));
       return Value::sequence(std::move(items));
     },
     kFlowWidth20,
     "[1, 2, 3, 4, 5, 6, 7,\n  8, 9, 10, 11, 12, 13,\n  14, 15, 16, 17, 18,\n  19, 20, 21, 22, "
     "23,\n"
     "  24, 25, 26, 27, 28,\n  29, 30]\n"},
    {"wrapped flow continues at line indentation plus step",
     [] {
       return Map(KV(S("aaaaaaaaaaaaaaaaaa"), I(1)),
                  KV(S("b"), Seq(I(1), I(2), I(3), I(4), I(5), I(6), I(7), I(8))));
     },
     kFlowWidth20, "{aaaaaaaaaaaaaaaaaa: 1,\n  b: [1, 2, 3, 4, 5,\n    6, 7, 8]}\n"},
    {"long string folds in double quotes",
     [] { return Map(KV(S("k"), S("aaaa bbbb cccc dddd eeee ffff"))); }, kWidth20,
     "k: \"aaaa bbbb cccc\n   dddd eeee ffff\"\n"},
    {"long string folds in single quotes",
     [] { return Map(KV(S("k"), S("aaaa bbbb cccc dddd eeee ffff"))); },
     WriterOptions{.width = 20, .double_quotes = false},
     "k: 'aaaa bbbb cccc\n   dddd eeee ffff'\n"},
    {"long string at root folds under column 1", [] { return S("aaaa bbbb cccc dddd eeee ffff"); },
     kWidth20, "\"aaaa bbbb cccc dddd\n eeee ffff\"\n"},
    {"long string without fold point stays plain",
     [] { return Map(KV(S("k"), S("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"))); }, kWidth20,
     "k: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"},
    {"short string stays plain", [] { return Map(KV(S("k"), S("a b"))); }, kWidth20, "k: a b\n"},
    {"needs quotes and folds", [] { return Seq(S("- aaaa bbbb cccc dddd eeee")); }, kWidth20,
     "- \"- aaaa bbbb cccc\n  dddd eeee\"\n"},
    {"escaped text folds", [] { return Seq(S("aaaa\tbbbb cccc dddd eeee")); }, kWidth20,
     "- \"aaaa\\tbbbb cccc\n  dddd eeee\"\n"},
    {"nothing wraps in a key",
     [] {
       ValueList items;
       for (int i = 1; i <= 12; ++i) items.push_back(I(i));
       return Map(KV(Value::sequence(std::move(items)), S("v")),
                  KV(S("aaaa bbbb cccc dddd eeee ffff"), I(1)),
                  KV(S("- aaaa bbbb cccc dddd eeee ffff"), I(2)));
     },
     kWidth20,
     "[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]: v\naaaa bbbb cccc dddd eeee ffff: 1\n"
     "\"- aaaa bbbb cccc dddd eeee ffff\": 2\n"},
    {"flow map wraps",
     [] {
       return Map(KV(S("aaaa"), I(1)), KV(S("bbbb"), I(2)), KV(S("cccc"), I(3)),
                  KV(S("dddd"), I(4)));
     },
     kFlowWidth20, "{aaaa: 1, bbbb: 2, cccc: 3,\n  dddd: 4}\n"},
};

TEST(YamlWriter, Layouts) {
  for (const YamlCase& c : kCases) {
    const Value v = c.make();
    EXPECT_EQ(write_yaml_document(v, c.options).view(), c.expected) << c.name;
  }
}

TEST(YamlWriter, AppendsToExistingBuffer) {
  OutputBuffer out;
  out.append("prefix\n");
  write_yaml_document(out, Map(KV(S("a"), I(1))), kDefault);
  EXPECT_EQ(out.view(), "prefix\na: 1\n");
}

// Keys of different kinds: null, booleans (false first), numbers, strings in
// byte order; 1 and 1.0 compare equal and keep their order, as do lists.
TEST(YamlWriter, SortKeys) {
  const Value v =
      Map(KV(S("b"), I(1)), KV(I(2), I(2)), KV(N(), I(3)), KV(B(true), I(4)), KV(B(false), I(5)),
          KV(I(1), I(6)), KV(S("a"), I(7)), KV(S("B"), I(8)), KV(S("ab"), I(9)), KV(I(-5), I(10)));
  EXPECT_EQ(write_yaml_document(v, kSorted).view(),
            "null: 3\nfalse: 5\ntrue: 4\n-5: 10\n1: 6\n2: 2\nB: 8\na: 7\nab: 9\nb: 1\n");

  const Value same = Map(KV(F(1.0), S("float")), KV(I(1), S("int")), KV(Seq(I(2)), S("l2")),
                         KV(Seq(I(1)), S("l1")), KV(F(0.5), S("half")));
  EXPECT_EQ(write_yaml_document(same, kSorted).view(),
            "0.5: half\n1.0: float\n1: int\n[2]: l2\n[1]: l1\n");

  const Value floats =
      Map(KV(F(NAN), I(1)), KV(F(INFINITY), I(2)), KV(F(0.0), I(3)), KV(F(-0.0), I(4)),
          KV(F(-INFINITY), I(5)), KV(Value::big_int("100000000000000000000"), I(6)));
  EXPECT_EQ(write_yaml_document(floats, kSorted).view(),
            "-.inf: 5\n-0.0: 4\n0.0: 3\n100000000000000000000: 6\n.inf: 2\n.nan: 1\n");

  // Nested mappings and flow mappings are sorted too.
  const Value nested = Map(KV(S("z"), Map(KV(S("y"), I(1)), KV(S("x"), I(2)))), KV(S("a"), I(0)));
  EXPECT_EQ(write_yaml_document(nested, kSorted).view(), "a: 0\nz:\n  x: 2\n  y: 1\n");
  EXPECT_EQ(
      write_yaml_document(nested, WriterOptions{.sort_keys = true, .flow_style = true}).view(),
      "{a: 0, z: {x: 2, y: 1}}\n");
}

// Past the insertion-sort size the merge sort must give the same stable order.
TEST(YamlWriter, SortKeysLargeMappingIsStable) {
  ValuePairList pairs;
  std::string expected;
  // Keys 0..59 in a scrambled order, each twice; values record input order.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 60; ++i) {
      const int key = (i * 37) % 60;
      pairs.push_back(KV(I(key), I(round)));
    }
  }
  for (int k = 0; k < 60; ++k) {
    expected += std::to_string(k) + ": 0\n" + std::to_string(k) + ": 1\n";
  }
  EXPECT_EQ(write_yaml_document(Value::mapping(std::move(pairs)), kSorted).view(), expected);
}

// Mixed Int/Float keys make the order intransitive; the sort must still
// finish with every pair written once.
TEST(YamlWriter, SortKeysIntransitiveNumbers) {
  ValuePairList pairs;
  const std::int64_t big = std::int64_t{1} << 53;
  for (int i = 0; i < 50; ++i) {
    pairs.push_back(KV(I(big + (i % 3)), I(i)));
    pairs.push_back(KV(F(static_cast<double>(big)), I(i)));
  }
  const std::string out(write_yaml_document(Value::mapping(std::move(pairs)), kSorted).view());
  std::size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 100u);
}

Value nested_sequences(int depth, bool innermost_item) {
  Value v = innermost_item ? Seq(I(1)) : Seq();
  for (int i = 1; i < depth; ++i) v = Seq(std::move(v));
  return v;
}

// Deep trees are written without exhausting the native stack.
TEST(YamlWriter, DeepNesting) {
  constexpr int kDepth = 100000;
  const Value flow = nested_sequences(kDepth, true);
  const std::string out(write_yaml_document(flow, kFlow).view());
  EXPECT_EQ(out, std::string(kDepth, '[') + "1" + std::string(kDepth, ']') + "\n");

  const Value block = nested_sequences(2000, true);
  const std::string text(write_yaml_document(block, kDefault).view());
  EXPECT_EQ(text.substr(0, 9), "-\n  -\n   ");
  EXPECT_EQ(text.substr(text.size() - 4), "- 1\n");

  Value map = Map(KV(S("k"), I(1)));
  for (int i = 0; i < kDepth; ++i) map = Map(KV(S("k"), std::move(map)));
  const std::string flow_map(write_yaml_document(map, kFlow).view());
  EXPECT_EQ(flow_map.size(), (kDepth + 1) * 5 + 1 + 1);
}

}  // namespace
}  // namespace ostrevane

namespace ostrevane {
namespace {

using namespace test;

// What the decoder cannot give back as it was: NaN (never equal to itself),
// timestamps (strings unless asked for), tagged scalars other than strings
// (a custom tag reads its scalar as a string), and the smallest Int (its
// magnitude does not fit, so the reader makes it a BigInt of equal value).
bool reads_back_exactly(const Value& v) {
  switch (v.kind()) {
    case ValueKind::Int:
      return v.as_int() != INT64_MIN;
    case ValueKind::Float:
      return !std::isnan(v.as_float());
    case ValueKind::Timestamp:
      return false;
    case ValueKind::Sequence:
      for (const Value& item : v.items()) {
        if (!reads_back_exactly(item)) return false;
      }
      return true;
    case ValueKind::Mapping:
      for (const ValuePair& p : v.pairs()) {
        if (!reads_back_exactly(p.key) || !reads_back_exactly(p.value)) return false;
      }
      return true;
    case ValueKind::Tagged: {
      const ValueKind inner = v.inner().kind();
      return (inner == ValueKind::String || inner == ValueKind::Sequence ||
              inner == ValueKind::Mapping) &&
             reads_back_exactly(v.inner());
    }
    default:
      return true;
  }
}

// `stream` keeps the storage of the document that `out` views.
std::string decode_one(std::string_view text, ResolverMode mode, DecodedStream& stream,
                       const Value*& out) {
  auto r = decode_stream(text, mode, false, false, false, false, false);
  if (!r) return r.error().message;
  if (r->documents.size() != 1) return "documents: " + std::to_string(r->documents.size());
  stream = std::move(*r);
  out = &stream.documents[0];
  return {};
}

// Every layout of the table reads back as the value it was written from.
TEST(YamlWriterRoundTrip, TableCasesReadBack) {
  for (const YamlCase& c : kCases) {
    const Value v = c.make();
    if (!reads_back_exactly(v)) continue;
    const OutputBuffer text = write_yaml_document(v, c.options);
    DecodedStream stream;
    const Value* back = nullptr;
    const std::string error = decode_one(text.view(), c.options.mode, stream, back);
    ASSERT_EQ(error, "") << c.name << "\n" << text.view();
    EXPECT_EQ(*back, v) << c.name << "\n"
                        << text.view() << "\n"
                        << value_debug_text(*back) << "\n"
                        << value_debug_text(v);
  }
}

}  // namespace
}  // namespace ostrevane
