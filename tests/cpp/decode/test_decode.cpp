// The plain decoder at the Value level: tables of {yaml, expected dump} and
// {yaml, message, line, column, category}.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/merge.hpp"
#include "dump_value.hpp"
#include "scanner/scanner.hpp"
#include "util/limits.hpp"

namespace ostrevane {
namespace {

using testing::dump_value;

struct Opts {
  ResolverMode mode = ResolverMode::Yaml12;
  bool dup_error = false;
  bool reject_complex = false;
  bool timestamps = false;
  bool dup_warn = false;
  bool yaml11_warn = false;
  DecodedTexts texts = DecodedTexts::Owned;
};

Result<DecodedStream, DecodeError> decode(std::string_view text, const Opts& o = {}) {
  return decode_stream(text, o.mode, o.dup_error, o.reject_complex, o.timestamps, o.dup_warn,
                       o.yaml11_warn, o.texts);
}

// Every document, joined by " | ".
std::string dump_docs(const DecodedStream& s) {
  std::string out;
  for (const Value& doc : s.documents) {
    if (!out.empty()) out += " | ";
    out += dump_value(doc);
  }
  return out;
}

std::string describe(const DecodeError& e) {
  return e.message + " at " + std::to_string(e.span.line + 1) + ":" +
         std::to_string(e.span.column + 1);
}

Opts dup_error() { return Opts{.dup_error = true}; }
Opts dup_warn() { return Opts{.dup_warn = true}; }
Opts reject_complex() { return Opts{.reject_complex = true}; }
Opts timestamps() { return Opts{.timestamps = true}; }
Opts yaml11() { return Opts{.mode = ResolverMode::Yaml11}; }

// ---------------------------------------------------------------- values

struct Case {
  const char* yaml;
  const char* dump;
  Opts opts = {};
};

class Decodes : public ::testing::TestWithParam<Case> {};

TEST_P(Decodes, ToValues) {
  const Case& c = GetParam();
  auto r = decode(c.yaml, c.opts);
  ASSERT_TRUE(r) << c.yaml << "\n" << describe(r.error());
  EXPECT_EQ(dump_docs(*r), c.dump) << c.yaml;
}

// Texts that view the input change nothing that a reader can see; the
// input is a fresh heap copy so that the sanitizer build sees any view that
// outlives it.
TEST_P(Decodes, ToTheSameValuesWhenTextsViewTheInput) {
  const Case& c = GetParam();
  const auto input = std::make_unique<std::string>(c.yaml);
  Opts o = c.opts;
  o.texts = DecodedTexts::BorrowInput;
  auto r = decode(*input, o);
  ASSERT_TRUE(r) << c.yaml << "\n" << describe(r.error());
  EXPECT_EQ(dump_docs(*r), c.dump) << c.yaml;
}

const Case kDocuments[] = {
    {"", ""},
    {"# only a comment\n", ""},
    {"---", "null"},
    {"--- a\n--- b\n", "str{a} | str{b}"},
    {"a\n--- b\n", "str{a} | str{b}"},
    {"...\na\n", "str{a}"},
    {"--- a\n...\n--- b\n...\n", "str{a} | str{b}"},
    {"%YAML 1.2\n--- a\n...\n%YAML 1.2\n--- b\n", "str{a} | str{b}"},
    {"%YAML 1.2 # note\n---\n", "null"},
    {"%YAML 2.0\n--- x\n", "str{x}"},
    {"%YAML 1.1\n--- x\n", "str{x}"},
    {"%TAG e tag:a:\n--- x\n", "str{x}"},
    {"%TAG !e!\n--- x\n", "str{x}"},
    {"%FOO bar\n--- x\n", "str{x}"},
    {"\xEF\xBB\xBF"
     "a: 1\n",
     "map{str{a}:int{1}}"},
    {"--- |\n  text\n", "str{text\n}"},
};
INSTANTIATE_TEST_SUITE_P(Documents, Decodes, ::testing::ValuesIn(kDocuments));

const Case kTags[] = {
    {"%TAG !e! tag:example:\n--- !e!x 1\n", "tag{tag:example:x,str{1}}"},
    {"%TAG ! tag:local:\n--- !x 1\n", "tag{tag:local:x,str{1}}"},
    {"%TAG !! tag:other:\n--- !!int 1\n", "tag{tag:other:int,str{1}}"},
    {"!!str 1", "str{1}"},
    {"!!int '12'", "int{12}"},
    {"!custom 5", "tag{!custom,str{5}}"},
    {"! 5", "tag{!,str{5}}"},
    {"!<tag:yaml.org,2002:int> 5", "tag{!<tag:yaml.org,2002:int>,str{5}}"},
    {"!a !b 1", "tag{!b,str{1}}"},
    {"k: !custom\n", "map{str{k}:tag{!custom,str{}}}"},
    {"k: !!null\n", "map{str{k}:null}"},
    {"k: !!bool\n", "map{str{k}:str{}}"},
    {"!t {a: 1}", "tag{!t,map{str{a}:int{1}}}"},
    {"!!map {a: 1}", "map{str{a}:int{1}}"},
    {"!t [a]", "tag{!t,seq{str{a}}}"},
    {"k: !t\n- a\n- b\n", "map{str{k}:tag{!t,seq{str{a},str{b}}}}"},
    {"k: !t\n  - a\n", "map{str{k}:tag{!t,seq{str{a}}}}"},
    {"k: !!seq\n- a\n", "map{str{k}:seq{str{a}}}"},
    {"!!timestamp 2001-12-14", "str{2001-12-14}", timestamps()},
    {"2001-12-14", "ts{2001-12-14}", timestamps()},
    {"2001-12-14", "str{2001-12-14}"},
    {"'2001-12-14'", "str{2001-12-14}", timestamps()},
    {"!!float 1:30", "float{90}", yaml11()},
    {"!!float 1:30", "str{1:30}"},
};
INSTANTIATE_TEST_SUITE_P(Tags, Decodes, ::testing::ValuesIn(kTags));

const Case kScalars[] = {
    {"[~, null, true, 12, -0x10, 1.5, .inf, a b, 'q', \"d\"]",
     "seq{null,null,bool{true},int{12},int{-16},float{1.5},float{inf},str{a b},str{q},str{d}}"},
    {"99999999999999999999", "bigint{99999999999999999999}"},
    {"0x10000000000000000", "bigint{16:10000000000000000}"},
    {"[yes, 010, 1_000, 1:30]", "seq{str{yes},str{010},str{1_000},str{1:30}}"},
    {"[yes, 010, 1_000, 1:30]", "seq{bool{true},int{8},int{1000},int{90}}", yaml11()},
    {"'a very long quoted text beyond the inline size'",
     "str{a very long quoted text beyond the inline size}"},
};
INSTANTIATE_TEST_SUITE_P(Scalars, Decodes, ::testing::ValuesIn(kScalars));

const Case kAnchors[] = {
    {"- &a [1, 2]\n- *a\n- *a\n", "seq{seq{int{1},int{2}},seq{int{1},int{2}},seq{int{1},int{2}}}"},
    {"- &a\n- *a\n", "seq{null,null}"},
    {"k: &a\nv: *a\n", "map{str{k}:null,str{v}:null}"},
    {"&a : *a\n", "map{null:null}"},
    {"- &a 1\n- &a 2\n- *a\n", "seq{int{1},int{2},int{2}}"},
    {"- &a 0\n- &a [*a]\n- *a\n", "seq{int{0},seq{int{0}},seq{int{0}}}"},
    {"- &a !t x\n- *a\n", "seq{tag{!t,str{x}},tag{!t,str{x}}}"},
    {"- &a {k: v}\n- {<<: *a, j: w}\n", "seq{map{str{k}:str{v}},map{str{k}:str{v},str{j}:str{w}}}"},
};
INSTANTIATE_TEST_SUITE_P(Anchors, Decodes, ::testing::ValuesIn(kAnchors));

const Case kCollections[] = {
    {"a:", "map{str{a}:null}"},
    {"? a", "map{str{a}:null}"},
    {"? a\n: b\n", "map{str{a}:str{b}}"},
    {"{a, b: 1}", "map{str{a}:null,str{b}:int{1}}"},
    {"{: 1}", "map{null:int{1}}"},
    {"{a: 1, b}", "map{str{a}:int{1},str{b}:null}"},
    {"{}", "map{}"},
    {"[]", "seq{}"},
    {"[a: 1, b]", "seq{map{str{a}:int{1}},str{b}}"},
    {"[: 1]", "seq{map{null:int{1}}}"},
    {"[? a : 1]", "seq{map{str{a}:int{1}}}"},
    {"[a, ]", "seq{str{a}}"},
    {"[[a, b]: c]", "seq{map{seq{str{a},str{b}}:str{c}}}"},
    {"- \n- b\n", "seq{null,str{b}}"},
    {"-\n-\n", "seq{null,null}"},
    {"key:\n- a\n- b\n", "map{str{key}:seq{str{a},str{b}}}"},
    {"key:\n-\n- b\nnext: 1\n", "map{str{key}:seq{null,str{b}},str{next}:int{1}}"},
    {"- a: 1\n  b: [x, {y: z}]\n", "seq{map{str{a}:int{1},str{b}:seq{str{x},map{str{y}:str{z}}}}}"},
    {"? [a, b]\n: 1\n", "map{seq{str{a},str{b}}:int{1}}"},
    // A key without ':' that began with an alias, anchor or tag gets Null.
    {"a: &x 1\n*x\n", "map{str{a}:int{1},int{1}:null}"},
    {"a: 1\n!t b\n", "map{str{a}:int{1},tag{!t,str{b}}:null}"},
    {"? !t [a]\n: 1\n", "map{tag{!t,seq{str{a}}}:int{1}}", reject_complex()},
    {"a: 1\nb: 2\na: 3\n", "map{str{a}:int{1},str{b}:int{2},str{a}:int{3}}"},
    {"1: a\n'1': b\n", "map{int{1}:str{a},str{1}:str{b}}", dup_error()},
    {"- a: 1\n- a: 2\n", "seq{map{str{a}:int{1}},map{str{a}:int{2}}}", dup_error()},
    {"[a: 1, a: 2]", "seq{map{str{a}:int{1}},map{str{a}:int{2}}}", dup_error()},
    // Tag text is length-prefixed in key identities: these two keys differ.
    {"!a \"q:s:1:z\": 1\n!a:s:7:q z: 2\n",
     "map{tag{!a,str{q:s:1:z}}:int{1},tag{!a:s:7:q,str{z}}:int{2}}", dup_error()},
};
INSTANTIATE_TEST_SUITE_P(Collections, Decodes, ::testing::ValuesIn(kCollections));

const Case kMerges[] = {
    {"base: &b {a: 1, b: 2}\nx: {<<: *b, b: 3}\n",
     "map{str{base}:map{str{a}:int{1},str{b}:int{2}},str{x}:map{str{a}:int{1},str{b}:int{3}}}"},
    {"base: &b {a: 1, b: 2}\nx: {b: 3, <<: *b}\n",
     "map{str{base}:map{str{a}:int{1},str{b}:int{2}},str{x}:map{str{b}:int{3},str{a}:int{1}}}"},
    {"- &p {a: 1}\n- &q {a: 2, c: 3}\n- <<: [*p, *q]\n",
     "seq{map{str{a}:int{1}},map{str{a}:int{2},str{c}:int{3}},map{str{a}:int{1},str{c}:int{3}}}"},
    {"- &p {a: 1}\n- &q {a: 2, c: 3}\n- <<: *p\n  <<: *q\n",
     "seq{map{str{a}:int{1}},map{str{a}:int{2},str{c}:int{3}},map{str{a}:int{1},str{c}:int{3}}}"},
    {"<<: 5", "map{str{<<}:int{5}}"},
    {"<<: 5\n<<: 6\n", "map{str{<<}:seq{int{5},int{6}}}"},
    {"- &p {a: 1}\n- <<: [*p, 5, null]\n",
     "seq{map{str{a}:int{1}},map{str{a}:int{1},str{<<}:seq{int{5}}}}"},
    {"<<: null\nk: v\n", "map{str{k}:str{v}}"},
    {"<<:\nk: v\n", "map{str{k}:str{v}}"},
    {"- &p {a: 9}\n- a: 1\n  a: 2\n  <<: *p\n", "seq{map{str{a}:int{9}},map{str{a}:int{2}}}"},
    {"- {<<: {a: 1, a: 2}}", "seq{map{str{a}:int{2}}}"},
    {"k: <<", "map{str{k}:str{<<}}"},
    {"[<<]", "seq{str{<<}}"},
    {"'<<': {a: 1}", "map{str{<<}:map{str{a}:int{1}}}"},
    {"'<<': 1\n<<: 5\n", "map{str{<<}:int{1}}"},
    {"? {<<: {a: 1}}\n: v\n", "map{map{str{<<}:map{str{a}:int{1}}}:str{v}}"},
    {"<<: !t {a: 1}", "map{str{<<}:tag{!t,map{str{a}:int{1}}}}"},
    {"<<: {a: 1}\n<<: {b: 2}\n", "map{str{a}:int{1},str{b}:int{2}}", dup_error()},
    {"a: 1\na: 2\n", "map{str{a}:int{1},str{a}:int{2}}"},
    // Merge sources are merged first, inner to outer.
    {"- &a {x: 1}\n- &b {<<: *a, y: 2}\n- {<<: *b, z: 3}\n",
     "seq{map{str{x}:int{1}},map{str{x}:int{1},str{y}:int{2}},"
     "map{str{x}:int{1},str{y}:int{2},str{z}:int{3}}}"},
    // One shared source merged into many mappings.
    {"- &a {x: 1}\n- &m {<<: *a}\n- [*m, *m]\n",
     "seq{map{str{x}:int{1}},map{str{x}:int{1}},seq{map{str{x}:int{1}},map{str{x}:int{1}}}}"},
    {"<<: {a: 1}", "map{str{a}:int{1}}", yaml11()},
    {"!!merge x: {a: 1}", "map{str{a}:int{1}}", yaml11()},
    {"!!merge x: {a: 1}", "map{str{x}:map{str{a}:int{1}}}"},
    // An explicit key replaced after a leftover "<<" took its place.
    {"<<: 5\n'<<': 6\n", "map{str{<<}:int{6}}"},
    // Integers equal in value are one merge key, however they are written.
    {"- &p {0x10000000000000000: a}\n- {18446744073709551616: b, <<: *p}\n",
     "seq{map{bigint{16:10000000000000000}:str{a}},map{bigint{18446744073709551616}:str{b}}}"},
    // Keys of different kinds never match, however alike they read, except
    // the numbers that one dict key holds (1, true and 1.0): a merged one
    // must not overwrite an explicit one once loaded. Equal nulls, tagged
    // and collection keys match.
    {"- &p {1: a, '1': b, true: c, 1.0: d, null: e, ~: f, !t k: g, [1]: h}\n"
     "- {<<: *p, 1: x, !t k: y, [1]: z, '': w}\n",
     "seq{map{int{1}:str{a},str{1}:str{b},bool{true}:str{c},float{1}:str{d},null:str{e},"
     "null:str{f},tag{!t,str{k}}:str{g},seq{int{1}}:str{h}},"
     "map{int{1}:str{x},str{1}:str{b},null:str{f},"
     "tag{!t,str{k}}:str{y},seq{int{1}}:str{z},str{}:str{w}}}"},
    {"- &p {true: a, 1.5: b}\n- {1: x, <<: *p}\n",
     "seq{map{bool{true}:str{a},float{1.5}:str{b}},map{int{1}:str{x},float{1.5}:str{b}}}"},
    // Enough long keys that the key index grows while the mapping is rebuilt.
    {"- &p {merged_key_number_00: 0, merged_key_number_01: 1, merged_key_number_02: 2, "
     "merged_key_number_03: 3, merged_key_number_04: 4, merged_key_number_05: 5, "
     "merged_key_number_06: 6, merged_key_number_07: 7, merged_key_number_08: 8, "
     "merged_key_number_09: 9, merged_key_number_10: 10, merged_key_number_11: 11, "
     "merged_key_number_12: 12, merged_key_number_13: 13, merged_key_number_14: 14, "
     "merged_key_number_15: 15, merged_key_number_16: 16, merged_key_number_17: 17, "
     "merged_key_number_18: 18, merged_key_number_19: 19}\n- {merged_key_number_17: 99, <<: *p}\n",
     "seq{map{str{merged_key_number_00}:int{0},str{merged_key_number_01}:int{1},str{merged_key_"
     "number_02}:int{2},str{merged_key_number_03}:int{3},str{merged_key_number_04}:int{4},str{"
     "merged_key_number_05}:int{5},str{merged_key_number_06}:int{6},str{merged_key_number_07}:int{"
     "7},str{merged_key_number_08}:int{8},str{merged_key_number_09}:int{9},str{merged_key_number_"
     "10}:int{10},str{merged_key_number_11}:int{11},str{merged_key_number_12}:int{12},str{merged_"
     "key_number_13}:int{13},str{merged_key_number_14}:int{14},str{merged_key_number_15}:int{15},"
     "str{merged_key_number_16}:int{16},str{merged_key_number_17}:int{17},str{merged_key_number_18}"
     ":int{18},str{merged_key_number_19}:int{19}},map{str{merged_key_number_17}:int{99},str{merged_"
     "key_number_00}:int{0},str{merged_key_number_01}:int{1},str{merged_key_number_02}:int{2},str{"
     "merged_key_number_03}:int{3},str{merged_key_number_04}:int{4},str{merged_key_number_05}:int{"
     "5},str{merged_key_number_06}:int{6},str{merged_key_number_07}:int{7},str{merged_key_number_"
     "08}:int{8},str{merged_key_number_09}:int{9},str{merged_key_number_10}:int{10},str{merged_key_"
     "number_11}:int{11},str{merged_key_number_12}:int{12},str{merged_key_number_13}:int{13},str{"
     "merged_key_number_14}:int{14},str{merged_key_number_15}:int{15},str{merged_key_number_16}:"
     "int{16},str{merged_key_number_18}:int{18},str{merged_key_number_19}:int{19}}}"},
};
INSTANTIATE_TEST_SUITE_P(Merges, Decodes, ::testing::ValuesIn(kMerges));

// ---------------------------------------------------------------- errors

struct ErrorCase {
  const char* yaml;
  const char* message;
  std::uint32_t line;    // from 1
  std::uint32_t column;  // from 1
  DecodeErrorCategory category = DecodeErrorCategory::Syntax;
  Opts opts = {};
};

class Fails : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Fails, WithMessageAndPosition) {
  const ErrorCase& c = GetParam();
  auto r = decode(c.yaml, c.opts);
  ASSERT_FALSE(r) << c.yaml << "\ndecoded: " << dump_docs(*r);
  EXPECT_EQ(r.error().message, c.message) << c.yaml;
  EXPECT_EQ(r.error().span.line + 1, c.line) << c.yaml;
  EXPECT_EQ(r.error().span.column + 1, c.column) << c.yaml;
  EXPECT_EQ(r.error().category, c.category) << c.yaml;
}

constexpr auto kDup = DecodeErrorCategory::DuplicateKey;
constexpr auto kComplex = DecodeErrorCategory::ComplexKey;
constexpr auto kSyntax = DecodeErrorCategory::Syntax;

const ErrorCase kErrors[] = {
    {"%YAML 1.2 extra\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML 1\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML 1.\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML .2\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML 1.2.3\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML x.2\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML #1.2\n---\n", "invalid %YAML directive", 1, 1},
    {"%YAML 1.2\n%YAML 1.2\n---\n", "duplicate %YAML directive", 2, 1},
    {"%TAG !e! tag:a:\n%TAG !e! tag:b:\n--- x\n", "duplicate %TAG directive for handle '!e!'", 2,
     1},
    {"%YAML 1.2\n%TAG ! tag:a:\n", "directive must be followed by a document start (---)", 1, 1},
    // The scanner itself refuses a directive inside a stream without "...".
    {"--- [a]\n%YAML 1.2\n--- b\n",
     "a directive must start the stream or follow a document-end marker (...)", 2, 1},
    {"!e!x 1", "undefined tag handle: !e!", 1, 1},
    {"%TAG !e! tag:a:\n--- 1\n--- !e!x 2\n", "undefined tag handle: !e!", 3, 5},
    {"&a [*a]", "unknown alias: *a", 1, 5},
    {"--- &a 1\n--- *a\n", "unknown alias: *a", 2, 5},
    {"- &a 1\n- &x *a\n", "an alias node cannot have an anchor or tag", 2, 6},
    {"- &a 1\n- !t *a\n", "an alias node cannot have an anchor or tag", 2, 6},
    {"&a &b 1", "a node cannot have two anchors", 1, 4},
    {"a: 1\nb\n", "expected ':' after mapping key", 2, 1},
    {"a: 1\n- b\n", "a block collection cannot be a mapping key", 2, 1},
    {"a: 1\n&x\n- b\n", "a block collection cannot be a mapping key", 3, 1},
    {"- a\nb: c\n", "trailing content after document", 2, 1},
    {"{a: 1}\nb: 2\n", "trailing content after document", 2, 1},
    {"a: 1\nb: 2\na: 3\n", "duplicate mapping key: a", 3, 1, kDup, dup_error()},
    {"a: 1\nb: 2\na: 3\n", "duplicate mapping key: a", 3, 1, kDup,
     Opts{.dup_error = true, .dup_warn = true}},
    {"{a: 1, a: 2}", "duplicate mapping key: a", 1, 8, kDup, dup_error()},
    {"true: a\n1: b\n", "duplicate mapping key: Int(1)", 2, 1, kDup, dup_error()},
    {"1: a\n1.0: b\n", "duplicate mapping key: Float(1.0)", 2, 1, kDup, dup_error()},
    {"? [a]\n: 1\n? [a]\n: 2\n", "duplicate mapping key: Sequence([String(\"a\")])", 3, 1, kDup,
     dup_error()},
    // The duplicate inside a value is met before one of the value's own key.
    {"k: {x: 1, x: 2}\nk: 3\n", "duplicate mapping key: x", 1, 11, kDup, dup_error()},
    // Integers beyond 64 bits are one key however they are spelled.
    {"99999999999999999999: a\n+99999999999999999999: b\n",
     "duplicate mapping key: BigInt(\"+99999999999999999999\")", 2, 1, kDup, dup_error()},
    {"0x10000000000000000: a\n18446744073709551616: b\n",
     "duplicate mapping key: BigInt(\"18446744073709551616\")", 2, 1, kDup, dup_error()},
    {"1_000_000_000_000_000_000_000: a\n1000000000000000000000: b\n",
     "duplicate mapping key: BigInt(\"1000000000000000000000\")", 2, 1, kDup,
     Opts{.mode = ResolverMode::Yaml11, .dup_error = true}},
    {"0b10000000000000000000000000000000000000000000000000000000000000000: a\n"
     "18446744073709551616: b\n",
     "duplicate mapping key: BigInt(\"18446744073709551616\")", 2, 1, kDup,
     Opts{.mode = ResolverMode::Yaml11, .dup_error = true}},
    // An integral float equals the integer of the same value, however large.
    {"100000000000000000000: a\n1e20: b\n", "duplicate mapping key: Float(1e20)", 2, 1, kDup,
     dup_error()},
    {"? [a, b]\n: 1\n", "complex mapping key (a sequence used as a key)", 1, 1, kComplex,
     reject_complex()},
    {"? {a: b}\n: 1\n", "complex mapping key (a mapping used as a key)", 1, 1, kComplex,
     reject_complex()},
    {"{[a]: 1}", "complex mapping key (a sequence used as a key)", 1, 2, kComplex,
     reject_complex()},
    {"[{a: 1}: x]", "complex mapping key (a mapping used as a key)", 1, 2, kComplex,
     reject_complex()},
    {"[? [a]: x]", "complex mapping key (a sequence used as a key)", 1, 2, kComplex,
     reject_complex()},
    {"a: 'unterminated", "unterminated single-quoted scalar", 1, 4, kSyntax},
};
INSTANTIATE_TEST_SUITE_P(Errors, Fails, ::testing::ValuesIn(kErrors));

// ---------------------------------------------------------------- warnings

struct WarnCase {
  const char* yaml;
  Opts opts;
  const char* dump;
  std::vector<std::string> warnings;
};

class Warns : public ::testing::TestWithParam<WarnCase> {};

TEST_P(Warns, InOrder) {
  const WarnCase& c = GetParam();
  auto r = decode(c.yaml, c.opts);
  ASSERT_TRUE(r) << describe(r.error());
  EXPECT_EQ(dump_docs(*r), c.dump);
  EXPECT_EQ(r->warnings, c.warnings);
}

const WarnCase kWarnings[] = {
    {"a: 1\nb: 2\na: 3\n",
     dup_warn(),
     "map{str{a}:int{1},str{b}:int{2},str{a}:int{3}}",
     {"duplicate mapping key 'a' at line 3, column 1; keeping the last value"}},
    {"a: 1\nb: 2\na: 3\n", {}, "map{str{a}:int{1},str{b}:int{2},str{a}:int{3}}", {}},
    {"{1: a, true: b}",
     dup_warn(),
     "map{int{1}:str{a},bool{true}:str{b}}",
     {"duplicate mapping key 'Bool(true)' at line 1, column 8; keeping the last value"}},
    {"k: yes\n",
     Opts{.mode = ResolverMode::Yaml11, .yaml11_warn = true},
     "map{str{k}:bool{true}}",
     {"YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4"}},
    {"- 010\n- 0x10\n- '010'\n- 1_000\n",
     Opts{.mode = ResolverMode::Yaml11, .yaml11_warn = true},
     "seq{int{8},int{16},str{010},int{1000}}",
     {"YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 1, column 3",
      "YAML 1.1 syntax '1_000' resolves as int in 1.1 but str in 1.2 at line 4, column 3"}},
    {"k: yes\n", Opts{.yaml11_warn = true}, "map{str{k}:str{yes}}", {}},
    // Warnings of all documents, in order.
    {"--- {a: 1, a: 2}\n--- {b: 1, b: 2}\n",
     dup_warn(),
     "map{str{a}:int{1},str{a}:int{2}} | map{str{b}:int{1},str{b}:int{2}}",
     {"duplicate mapping key 'a' at line 1, column 12; keeping the last value",
      "duplicate mapping key 'b' at line 2, column 12; keeping the last value"}},
};
INSTANTIATE_TEST_SUITE_P(Warnings, Warns, ::testing::ValuesIn(kWarnings));

TEST(DecodeFailure, ReportsOnlyTheError) {
  // An error in a later document fails the whole call.
  auto r = decode("--- {a: 1, a: 2}\n--- *nope\n", dup_warn());
  ASSERT_FALSE(r);
  EXPECT_EQ(describe(r.error()), "unknown alias: *nope at 2:5");
}

// Documents are scanned and decoded one at a time, yet a scan error anywhere
// in the text wins over a decode error in any document, earlier or later, as
// if the whole text were scanned first.
const ErrorCase kPrecedence[] = {
    {"a: 1\na: 2\n--- 'unterminated", "unterminated single-quoted scalar", 3, 5, kSyntax,
     dup_error()},
    {"--- 'unterminated\n", "unterminated single-quoted scalar", 1, 5, kSyntax, dup_error()},
    {"---\na: 'x\n--- {b: 1, b: 2}\n",
     "a multi-line quoted scalar must be indented past its block context", 3, 1, kSyntax,
     dup_error()},
    {"--- *nope\n--- a\n--- b\n...\n%YAML 1.2\n---\nc: [d\n",
     "unclosed flow collection at end of input", 8, 1},
    {"- a\nb: c\n--- x\n--- 'y\n", "unterminated single-quoted scalar", 4, 5},
    {"%YAML 1.2\n%TAG ! tag:a:\n", "directive must be followed by a document start (---)", 1, 1},
    // Without a scan error, the first decode error stands, however late.
    {"--- a\n--- {b: 1}\n--- {b: 1, b: 2}\n--- c\n", "duplicate mapping key: b", 3, 12, kDup,
     dup_error()},
    {"--- &a x\n--- *a\n--- 'unterminated\n", "unterminated single-quoted scalar", 3, 5},
};
INSTANTIATE_TEST_SUITE_P(Precedence, Fails, ::testing::ValuesIn(kPrecedence));

TEST(ManyDocuments, DecodeAsEachDocumentAlone) {
  // Anchors and %TAG handles reset per document, owned and borrowed texts,
  // merge keys, warnings in order, and one document far larger than the
  // rest among thousands.
  std::vector<std::string> docs;
  for (int i = 0; i < 4000; ++i) {
    const std::string n = std::to_string(i);
    std::string doc = i % 5 == 0 ? "%TAG !e! tag:e" + n + ":\n--- !e!m\n" : "---\n";
    doc += "base: &b {x: " + n + ", y: \"t\\t" + n + "\"}\nuse: {<<: *b, z: w}\n";
    doc += "dup: 1\ndup: 2\nlist:\n- " + n + "\n- 'q" + n + "'\n";
    if (i == 2000)
      for (int j = 0; j < 20000; ++j) doc += "k" + std::to_string(j) + ": [a, {b: c}]\n";
    // A directive must follow "...".
    if (i % 9 == 0 || (i + 1) % 5 == 0) doc += "...\n";
    docs.push_back(std::move(doc));
  }
  std::string stream, expected_dump;
  std::vector<std::string> expected_warnings;
  for (const std::string& doc : docs) {
    stream += doc;
    auto alone = decode(doc, dup_warn());
    ASSERT_TRUE(alone) << describe(alone.error());
    ASSERT_EQ(alone->documents.size(), 1u);
    if (!expected_dump.empty()) expected_dump += " | ";
    expected_dump += dump_docs(*alone);
    expected_warnings.push_back(alone->warnings.at(0));
  }
  for (const DecodedTexts texts : {DecodedTexts::Owned, DecodedTexts::BorrowInput}) {
    auto r = decode(stream, Opts{.dup_warn = true, .texts = texts});
    ASSERT_TRUE(r) << describe(r.error());
    EXPECT_EQ(r->documents.size(), docs.size());
    const std::string got = dump_docs(*r);
    const std::size_t diff = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.end(), expected_dump.begin(), expected_dump.end()).first -
        got.begin());
    EXPECT_EQ(diff, got.size()) << got.substr(diff > 200 ? diff - 200 : 0, 400) << "\n"
                                << expected_dump.substr(diff > 200 ? diff - 200 : 0, 400);
    ASSERT_EQ(r->warnings.size(), expected_warnings.size());
    // Warnings name lines of the whole stream: compare the part before them.
    for (std::size_t i = 0; i < expected_warnings.size(); ++i) {
      const std::string& w = expected_warnings[i];
      EXPECT_EQ(r->warnings[i].substr(0, w.find(" at line")), w.substr(0, w.find(" at line")));
    }
  }
}

// ---------------------------------------------------------------- borrowed texts

TEST(BorrowedTexts, ViewUnchangedSlicesOfTheInputOnly) {
  const std::string input =
      "- a plain scalar of one line\n"
      "- 'a quoted scalar, no escapes'\n"
      "- \"an escaped\\tscalar is owned\"\n"
      "- short\n"
      "- &x an anchored plain scalar\n"
      "- *x\n";
  auto r = decode(input, Opts{.texts = DecodedTexts::BorrowInput});
  ASSERT_TRUE(r) << describe(r.error());
  const auto& items = r->documents.at(0).items();
  ASSERT_EQ(items.size(), 6u);
  const auto inside = [&](const Value& v) {
    return v.text().data() >= input.data() && v.text().data() < input.data() + input.size();
  };
  EXPECT_TRUE(items[0].text_is_borrowed());
  EXPECT_TRUE(inside(items[0]));
  EXPECT_EQ(items[0].text(), "a plain scalar of one line");
  EXPECT_EQ(items[0].text_identity(), items[0].text().data());
  EXPECT_TRUE(items[1].text_is_borrowed());
  EXPECT_EQ(items[1].text(), "a quoted scalar, no escapes");
  EXPECT_FALSE(items[2].text_is_borrowed());
  EXPECT_FALSE(inside(items[2]));
  EXPECT_EQ(items[2].text(), "an escaped\tscalar is owned");
  EXPECT_FALSE(items[3].text_is_borrowed());  // short texts live inside the Value
  EXPECT_EQ(items[3].text_identity(), nullptr);
  // An alias shares its anchor's text, identity included.
  EXPECT_EQ(items[5].text(), "an anchored plain scalar");
  EXPECT_EQ(items[5].text_identity(), items[4].text_identity());

  // Clones and shared_text keep the text; shared_text owns a copy.
  const Value copy = items[0].clone();
  EXPECT_EQ(copy, items[0]);
  EXPECT_EQ(copy.text_identity(), items[0].text_identity());
  const SharedText owned = items[0].shared_text();
  EXPECT_EQ(owned.view(), "a plain scalar of one line");
  EXPECT_NE(owned.view().data(), items[0].text().data());

  // Without the option nothing points into the input.
  auto owned_docs = decode(input);
  ASSERT_TRUE(owned_docs);
  for (const Value& v : owned_docs->documents.at(0).items()) {
    EXPECT_FALSE(v.text_is_borrowed());
    EXPECT_FALSE(inside(v));
  }
  EXPECT_EQ(owned_docs->documents[0], r->documents[0]);
}

TEST(BorrowedTexts, ValueBuiltDirectly) {
  const std::string text = "fifteen bytes!!";
  const Value v = Value::borrowed_string(text);
  EXPECT_EQ(v.kind(), ValueKind::String);
  EXPECT_TRUE(v.text_is_borrowed());
  EXPECT_EQ(v.text().data(), text.data());
  EXPECT_EQ(v, Value::string(text));
  EXPECT_EQ(value_debug_text(v), "String(\"fifteen bytes!!\")");
  const Value short_one = Value::borrowed_string("fourteen bytes");
  EXPECT_FALSE(short_one.text_is_borrowed());
  EXPECT_EQ(short_one.text(), "fourteen bytes");
}

// ---------------------------------------------------------------- resolution

// The decoder answers "string" for most plain scalars from their first byte
// alone; it must agree with the resolver for every first byte.
TEST(DecoderResolver, AgreesOnEveryFirstByte) {
  const std::vector<std::string> suffixes = {"",
                                             "x",
                                             "1",
                                             "rue",
                                             "RUE",
                                             "alse",
                                             "ALSE",
                                             "ull",
                                             "ULL",
                                             "<",
                                             "5",
                                             ".5",
                                             "e3",
                                             "inf",
                                             "nan",
                                             "NaN",
                                             "x1F",
                                             "o7",
                                             "2345678901234567890123"};
  int compared = 0;
  for (int c = 0x21; c < 0x7F; ++c) {
    for (const std::string& suffix : suffixes) {
      const std::string text = std::string(1, static_cast<char>(c)) + suffix;
      auto tokens = scan_all_tokens(text);
      if (!tokens || tokens->tokens.size() != 3 || tokens->tokens[1].kind != TokenKind::Scalar ||
          tokens->tokens[1].style != ScalarStyle::Plain || tokens->tokens[1].text() != text)
        continue;  // not one plain scalar
      auto r = decode(text);
      ASSERT_TRUE(r) << text;
      ASSERT_EQ(r->documents.size(), 1u) << text;
      const Value expected = resolve_plain_scalar(ResolverMode::Yaml12, text, true, std::nullopt);
      // Debug texts, so that NaN compares equal to NaN.
      EXPECT_EQ(value_debug_text(r->documents[0]), value_debug_text(expected)) << text;
      ++compared;
    }
  }
  EXPECT_GT(compared, 1000);
}

// ---------------------------------------------------------------- keys

TEST(CanonicalKey, NumbersCompareByValue) {
  EXPECT_EQ(canonical_key(Value::boolean(true)), "n:1");
  EXPECT_EQ(canonical_key(Value::integer(-5)), "n:-5");
  EXPECT_EQ(canonical_key(Value::floating(1.0)), "n:1");
  EXPECT_EQ(canonical_key(Value::floating(-0.0)), "n:0");
  EXPECT_EQ(canonical_key(Value::floating(1e20)), "n:100000000000000000000");
  EXPECT_EQ(canonical_key(Value::big_int("+1_00000000000000000000")), "n:100000000000000000000");
  EXPECT_EQ(canonical_key(Value::big_int("-99999999999999999999")), "n:-99999999999999999999");
  EXPECT_EQ(canonical_key(Value::big_int("56bc75e2d63100000", 16)), "n:100000000000000000000");
  EXPECT_NE(canonical_key(Value::floating(0.5)), canonical_key(Value::floating(0.25)));
  EXPECT_EQ(canonical_key(Value()), "null");
}

TEST(CanonicalKey, TextsAndTagsAreLengthPrefixed) {
  EXPECT_EQ(canonical_key(Value::string("ab")), "s:2:ab");
  EXPECT_EQ(canonical_key(Value::tagged("!x", Value::integer(1))), "t:2:!x:n:1");
  EXPECT_NE(canonical_key(Value::tagged("!a", Value::string("q:s:1:z"))),
            canonical_key(Value::tagged("!a:s:7:q", Value::string("z"))));
  ValueList items;
  items.push_back(Value::string("a,s:1:b"));
  ValueList other;
  other.push_back(Value::string("a"));
  other.push_back(Value::string("b"));
  EXPECT_NE(canonical_key(Value::sequence(std::move(items))),
            canonical_key(Value::sequence(std::move(other))));
}

TEST(ValueKeyString, ByVariant) {
  const auto key = [](const Value& v) {
    std::string out;
    value_key_string(out, v);
    return out;
  };
  EXPECT_EQ(key(Value::integer(1)), "2:1;");
  EXPECT_EQ(key(Value::boolean(true)), "11");
  EXPECT_EQ(key(Value::string("ab")), "5:2:ab");
  ValueList items;
  items.push_back(Value::integer(1));
  items.push_back(Value::string("a"));
  EXPECT_EQ(key(Value::sequence(std::move(items))), "7:2:2:1;5:1:a");
  EXPECT_EQ(key(Value::tagged("!x", Value())), "6:2:!x0");
  EXPECT_NE(key(Value::integer(1)), key(Value::floating(1.0)));
  EXPECT_EQ(key(Value::big_int("10000000000000000", 16)),
            key(Value::big_int("18446744073709551616")));
}

TEST(MergeMarker, IsTaggedMergeText) {
  const Value m = merge_key_marker();
  EXPECT_TRUE(is_merge_marker(m));
  EXPECT_EQ(dump_value(m), "tag{tag:yaml.org,2002:merge,str{<<}}");
  Value v = merge_key_marker();
  normalize_merge_tags(v);
  EXPECT_EQ(dump_value(v), "str{<<}");
}

// With the tags handed to callbacks, merging waits for them: merge keys stay
// in their mappings as markers (for the conversion to apply), while a
// marker anywhere else, a value, an item or inside a key, is the text "<<".
TEST(MergeMarker, CalledTagsLeaveMergeKeysInPlace) {
  const std::string_view text = "- &p !t {a: 1}\n- {<<: [*p, {b: 2}], k: <<, ? {<<: 1}: [<<]}\n";
  auto r = decode_stream(text, ResolverMode::Yaml12, false, false, false, false, false,
                         DecodedTexts::Owned, LoadedTags::Called);
  ASSERT_TRUE(r) << r.error().message;
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_EQ(dump_value(r->documents[0]),
            "seq{tag{!t,map{str{a}:int{1}}},map{tag{tag:yaml.org,2002:merge,str{<<}}:seq{tag{!t,"
            "map{str{a}:int{1}}},map{str{b}:int{2}}},str{k}:str{<<},map{str{<<}:int{1}}:seq{str{<<}"
            "}}}");
}

// A stream whose documents live wholly in its storage is dropped without a
// walk; any block of its own (tag, big integer, timestamp, merge) keeps the
// walk. Under AddressSanitizer a wrong answer shows as a leak.
struct StorageCase {
  const char* yaml;
  bool timestamps;
  bool storage_only;
};

TEST(DecodeStorage, StreamsWithoutBlocksOfTheirOwnAreDroppedInBulk) {
  const StorageCase cases[] = {
      {"a: [1, 2.5, true, ~, word]\nb: {c: d}\n--- [x]\n", false, true},
      {"a: &x [\"escaped\\t text, long enough to be copied\"]\nb: *x\n", false, true},
      {"a: !t 1\n", false, false},
      {"a: 123456789012345678901234567890\n", false, false},
      {"a: 2001-12-14\n", true, false},
      {"a: 2001-12-14\n", false, true},
      {"base: &b {x: 1}\nm: {<<: *b, y: 2}\n", false, false},
      {"--- [a]\n--- !t b\n", false, false},
  };
  for (const StorageCase& c : cases) {
    auto r = decode(c.yaml, Opts{.timestamps = c.timestamps});
    ASSERT_TRUE(r) << c.yaml;
    EXPECT_EQ(r->storage_only, c.storage_only) << c.yaml;
  }
  std::string large = "a: |\n";
  for (int i = 0; i < 5'000; ++i) large += "  line of a large block scalar\n";
  large += "b: *x\n";
  large.insert(3, "&x ");
  auto r = decode(large);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->storage_only);
  EXPECT_EQ(r->documents[0].pairs()[1].value.text().size(), 5'000u * 29);
}

// A long document is decoded from batches of tokens; whatever the batch,
// the documents, warnings and errors are the same. Batches of one to three
// tokens cut everywhere a cut may fall.
std::string decode_outcome(const Result<DecodedStream, DecodeError>& r) {
  if (!r) {
    return "error " + std::to_string(static_cast<int>(r.error().category)) + " " +
           r.error().message + " at " + std::to_string(r.error().span.line) + ":" +
           std::to_string(r.error().span.column) + " @" + std::to_string(r.error().span.offset);
  }
  std::string out;
  for (const Value& doc : r->documents) out += value_debug_text(doc) + " | ";
  for (const std::string& w : r->warnings) out += "warning " + w + " | ";
  return out;
}

TEST(DecodeBatches, AnyBatchGivesTheSameResult) {
  std::string deep;
  for (int i = 0; i < 1'001; ++i) deep += "- ";
  const std::string cases[] = {
      "a: 1\nb: [x, y, {c: d}]\n? e\n: f\n",
      "[a, b]: c\n{d: e}: f\n",
      "- &x !t a\n- *x\n- !!str 1\n- [*x, {? *x : y}]\n",
      "%YAML 1.2\n%TAG !e! tag:e.com,2000:\n--- !e!x a\n...\n--- b\n",
      "a:\n- 1\n- 2\nb:\n  - c: d\n    e: f\n",
      "a: |\n  text\n  more\nb: >-\n  folded\n  text\n",
      "base: &b {x: 1, y: 2}\nm:\n  <<: *b\n  z: 3\n",
      "a: 1\na: 2\nb: {c: 1, c: 2}\n",
      "[1, 2, 3, [4, [5, 6]], {a: b}, c: d, ? e : f]\n",
      "a: 1\nb: [\n",
      "a: 1\n--- b\n--- [c\n",
      "a: *nope\nb: ]\n",
      "{a: 1, a: 2}\nb: c\n",
      "a: 1\n- b\n",
      "- a\nb: c\n",
      "? [a, b]\n: c\n? {d: e}\n: f\n",
      "\"quoted\\tkey\": 'single''s'\nplain key: value # comment\n",
      "a: 2001-12-14\nb: 0x1F\nc: 123456789012345678901234567890\nd: .inf\n",
      deep + "a\n",
      "- " + deep.substr(0, 1'996) + "[a]\n",
      // A one-line flow collection is cut while no ']' or '}' followed by
      // ':' lies ahead on its line, whatever other ':' it holds.
      "[{\"a\": 1, \"b\": [2, 3]}, {\"c\": {\"d\": 4}}, 5]\n",
      "[[a]: b, {c: d}: e, \"f]: g\", 'h}: i', [j], k]: l\n",
      "[[a]: b, {c: d}: e, \"f]: g\", 'h}: i', [j], k] # ]: l\n",
      "&x {a: 1, b: [2]}  \t: c\n",
      "- [a, b, c]\r- {d: e, f: g}: h\r",
      "[a, \"b\n c\", d, e]\n",
      "[a, \"b\n c\", d]: e\n",
      "{a: [b, c]}:x\n",
      "[{\"at\": \"[::1]:80\"}, 'x]: y', [a]: b, c]\n",
      "[\"]: a\", [b]: c, d]: e\n",
  };
  for (const std::string& text : cases) {
    for (const bool dup_error : {false, true}) {
      const auto whole =
          decode_stream(text, ResolverMode::Yaml12, dup_error, false, true, !dup_error, false);
      const std::string expected = decode_outcome(whole);
      for (std::size_t batch : {1u, 2u, 3u, 7u}) {
        const auto batched = detail::decode_stream_in_batches(
            batch, text, ResolverMode::Yaml12, dup_error, false, true, !dup_error, false);
        EXPECT_EQ(decode_outcome(batched), expected) << batch << "\n" << text.substr(0, 200);
      }
    }
  }
}

}  // namespace
}  // namespace ostrevane
