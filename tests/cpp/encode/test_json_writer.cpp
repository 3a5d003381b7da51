// The JSON writer: exact output bytes, escapes, options and the key error.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "encode/writer.hpp"
#include "value_builders.hpp"

namespace ostrevane {
namespace {

using namespace test;
using namespace std::string_literals;

std::string to_json(const Value& v, JsonOptions options = {}) {
  OutputBuffer out;
  const auto r = write_json_value_guarded(out, v, options);
  EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().message);
  return std::string(out.view());
}

struct JsonCase {
  const char* name;
  Value (*make)();
  JsonOptions options;
  std::string expected;
};

constexpr JsonOptions kCompact{};
constexpr JsonOptions kIndent2{.indent = 2};
constexpr JsonOptions kIndent4{.indent = 4};
constexpr JsonOptions kSorted{.sort_keys = true};

const JsonCase kCases[] = {
    {"compact", [] { return Map(KV(S("a"), Seq(I(1), I(2)))); }, kCompact, "{\"a\":[1,2]}"},
    {"indent 2", [] { return Map(KV(S("a"), Seq(I(1), I(2)))); }, kIndent2,
     "{\n  \"a\": [\n    1,\n    2\n  ]\n}"},
    {"indent 4", [] { return Seq(Map(KV(S("a"), I(1)))); }, kIndent4,
     "[\n    {\n        \"a\": 1\n    }\n]"},
    {"empty inside indented", [] { return Map(KV(S("a"), Seq()), KV(S("b"), Map())); }, kIndent2,
     "{\n  \"a\": [],\n  \"b\": {}\n}"},
    {"empty roots", [] { return Seq(Seq(), Map()); }, kCompact, "[[],{}]"},
    {"scalars", [] { return Seq(N(), B(true), B(false), I(-7), I(INT64_MIN)); }, kCompact,
     "[null,true,false,-7,-9223372036854775808]"},
    {"floats",
     [] { return Seq(F(1.0), F(NAN), F(INFINITY), F(-INFINITY), F(1e16), F(-0.0), F(0.1)); },
     kCompact, "[1.0,null,null,null,1.0e+16,-0.0,0.1]"},
    {"big ints",
     [] {
       return Seq(Value::big_int("123456789012345678901234567890"),
                  Value::big_int("-ffffffffffffffffff", 16));
     },
     kCompact, "[123456789012345678901234567890,-4722366482869645213695]"},
    {"scalar keys",
     [] {
       return Map(KV(N(), I(1)), KV(B(true), I(2)), KV(I(1), I(3)), KV(F(2.5), I(4)),
                  KV(F(NAN), I(5)), KV(F(1.0), I(6)),
                  KV(Value::big_int("99999999999999999999"), I(7)),
                  KV(Value::timestamp(Date{2001, 2, 3}), I(8)));
     },
     kCompact,
     "{\"null\":1,\"true\":2,\"1\":3,\"2.5\":4,\"null\":5,\"1.0\":6,\"99999999999999999999\":7,"
     "\"2001-02-03\":8}"},
    {"tagged key and value", [] { return Map(KV(Tag("!k", S("a")), Tag("!v", Seq(I(1))))); },
     kCompact, "{\"a\":[1]}"},
    {"tagged root", [] { return Tag("!t", I(3)); }, kCompact, "3"},
    {"timestamp value",
     [] {
       return Value::timestamp(DateTime{2001, 2, 3, 4, 5, 6, 0, 0});
     },
     kCompact, "\"2001-02-03T04:05:06+00:00\""},
    {"sorted byte order",
     [] { return Map(KV(S("b"), I(1)), KV(S("a"), I(2)), KV(S("B"), I(3)), KV(S("ab"), I(4))); },
     kSorted, "{\"B\":3,\"a\":2,\"ab\":4,\"b\":1}"},
    {"sorted int keys by text", [] { return Map(KV(I(9), S("nine")), KV(I(10), S("ten"))); },
     kSorted, "{\"10\":\"ten\",\"9\":\"nine\"}"},
    {"sorted duplicates stable",
     [] {
       return Map(KV(I(1), I(1)), KV(S("1"), I(2)), KV(N(), I(3)), KV(S("null"), I(4)),
                  KV(I(0), I(5)));
     },
     kSorted, "{\"0\":5,\"1\":1,\"1\":2,\"null\":3,\"null\":4}"},
    {"sorted nested indented",
     [] { return Map(KV(S("z"), Map(KV(S("y"), I(1)), KV(S("x"), I(2))))); },
     JsonOptions{.indent = 2, .sort_keys = true},
     "{\n  \"z\": {\n    \"x\": 2,\n    \"y\": 1\n  }\n}"},
    {"string escapes",
     [] { return S("tab\there nul\0 us\x1f del\x7f ls\u2028 ps\u2029 \xc3\xa9"s); }, kCompact,
     "\"tab\\there nul\\u0000 us\\u001f del\x7f ls\\u2028 ps\\u2029 \xc3\xa9\""},
    {"short escapes", [] { return S("\b\f\n\r\"\\/"); }, kCompact, "\"\\b\\f\\n\\r\\\"\\\\/\""},
    {"other controls and C1",
     [] { return S("\x01\x0b\x1e\xc2\x85\xc2\x9f\xe2\x80\xa7\xe2\x82\xac"); }, kCompact,
     "\"\\u0001\\u000b\\u001e\xc2\x85\xc2\x9f\xe2\x80\xa7\xe2\x82\xac\""},
    // Escapes on both sides of an 8-byte word and spanning two words.
    {"escapes across words",
     [] {
       return S(
           "aaaaaaa\xe2\x80\xa9"
           "bbbbb\"ccccccc\\dddddddd\x1f");
     },
     kCompact, "\"aaaaaaa\\u2029bbbbb\\\"ccccccc\\\\dddddddd\\u001f\""},
    {"long plain string", [] { return S("abcdefghijklmnopqrstuvwxyz0123456789"); }, kCompact,
     "\"abcdefghijklmnopqrstuvwxyz0123456789\""},
    {"E2 without line separator",
     [] {
       return S(
           "aaaaaa\xe2\x80\x94"
           "aaaaaaaa\xe2\x80");
     },
     kCompact,
     "\"aaaaaa\xe2\x80\x94"
     "aaaaaaaa\xe2\x80\""},
};

TEST(JsonWriter, Outputs) {
  for (const JsonCase& c : kCases) {
    const Value v = c.make();
    EXPECT_EQ(to_json(v, c.options), c.expected) << c.name;
  }
}

TEST(JsonWriter, SortedLargeMapping) {
  ValuePairList pairs;
  for (int i = 0; i < 100; ++i) pairs.push_back(KV(I((i * 37) % 100), I(i)));
  OutputBuffer out;
  ASSERT_TRUE(write_json_value_guarded(out, Value::mapping(std::move(pairs)), kSorted));
  // Text order: "0" < "1" < "10" < "11" ... < "19" < "2" < "20" ...
  const std::string head = "{\"0\":0,\"1\":73,\"10\":30,\"11\":3,\"12\":76,";
  EXPECT_EQ(out.view().substr(0, head.size()), head);
}

TEST(JsonWriter, CollectionKeyFails) {
  const Value keys[] = {Seq(I(1)), Map(), Tag("!t", Seq()), Tag("!t", Map(KV(S("a"), I(1))))};
  for (const Value& key : keys) {
    OutputBuffer out;
    const auto r =
        write_json_value_guarded(out, Map(KV(S("ok"), I(1)), KV(key.clone(), I(2))), kCompact);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message, "a collection cannot be a JSON object key");
    EXPECT_EQ(out.view(), "") << "nothing of the mapping is written";
  }
  // A failure deep inside stops the whole write.
  OutputBuffer out;
  const auto r =
      write_json_value_guarded(out, Seq(I(1), Map(KV(S("a"), Map(KV(Seq(), I(1)))))), kCompact);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "a collection cannot be a JSON object key");
}

TEST(JsonWriter, FloatText) {
  OutputBuffer out;
  write_json_float(out, -NAN);
  write_json_float(out, 5e-324);
  EXPECT_EQ(out.view(), "null5.0e-324");
}

TEST(JsonWriter, DeepNesting) {
  constexpr int kDepth = 100000;
  Value v = Seq(I(1));
  for (int i = 1; i < kDepth; ++i) v = Seq(std::move(v));
  EXPECT_EQ(to_json(v), std::string(kDepth, '[') + "1" + std::string(kDepth, ']'));
  Value m = Map(KV(S("k"), I(1)));
  for (int i = 1; i < kDepth; ++i) m = Map(KV(S("k"), std::move(m)));
  EXPECT_EQ(to_json(m).size(), kDepth * 6u + 1);
}

}  // namespace
}  // namespace ostrevane
