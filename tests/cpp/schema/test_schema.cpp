#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "encode/value_builders.hpp"
#include "schema/pattern.hpp"
#include "schema/validator.hpp"
#include "util/limits.hpp"

namespace ostrevane::schema {
namespace {

using test::KV;
using test::Seq;

Value str(std::string_view s) { return test::S(s); }
Value num(std::int64_t i) { return test::I(i); }
Value flt(double f) { return test::F(f); }

// map(k0, v0, k1, v1, ...).
Value map() { return test::Map(); }
Value map(Value k0, Value v0) { return test::Map(KV(std::move(k0), std::move(v0))); }
Value map(Value k0, Value v0, Value k1, Value v1) {
  return test::Map(KV(std::move(k0), std::move(v0)), KV(std::move(k1), std::move(v1)));
}

// Mappings compare as multisets of pairs: checking only that every pair of
// one side has an equal pair on the other made {a: 1, a: 1} equal to
// {a: 1, b: 2} one way round and not the other (a uniqueItems check could
// then reject distinct items).
TEST(JsonEqual, MappingsAreMultisetsOfPairs) {
  const Value repeated = map(str("a"), num(1), str("a"), num(1));
  const Value distinct = map(str("a"), num(1), str("b"), num(2));
  EXPECT_FALSE(json_equal(repeated, distinct));
  EXPECT_FALSE(json_equal(distinct, repeated));
  EXPECT_TRUE(json_equal(repeated, map(str("a"), flt(1.0), str("a"), num(1))));
  const Value reordered = map(str("b"), num(2), str("a"), flt(1.0));
  EXPECT_TRUE(json_equal(distinct, reordered));
  EXPECT_TRUE(json_equal(reordered, distinct));
}

// Int and Float equality is not transitive (2^53 + 1 equals the float 2^53,
// which equals the int 2^53), so a greedy pairing can miss a match that
// exists; the matching search finds it.
TEST(JsonEqual, MatchingFindsPairingsGreedyMisses) {
  const std::int64_t big = std::int64_t{1} << 53;
  const double big_float = static_cast<double>(big);
  // a[0] equals both pairs of b, a[1] only b[0]: taking b[0] for a[0], as a
  // greedy pass does, leaves a[1] without a partner.
  const Value a = map(str("k"), flt(big_float), str("k"), num(big));
  const Value b = map(str("k"), num(big), str("k"), num(big + 1));
  EXPECT_TRUE(json_equal(a, b));
  EXPECT_TRUE(json_equal(b, a));
  const Value c = map(str("k"), num(big + 1), str("k"), num(big + 1));
  EXPECT_FALSE(json_equal(c, b));
  EXPECT_FALSE(json_equal(b, c));
}

TEST(JsonEqual, Kinds) {
  EXPECT_TRUE(json_equal(num(1), flt(1.0)));
  EXPECT_TRUE(json_equal(flt(1.0), num(1)));
  EXPECT_FALSE(json_equal(flt(NAN), flt(NAN)));
  EXPECT_FALSE(json_equal(num(1), str("1")));
  EXPECT_FALSE(json_equal(num(1), Value::big_int("1")));
  EXPECT_TRUE(json_equal(Seq(num(1), flt(2.0)), Seq(flt(1.0), num(2))));
  EXPECT_FALSE(json_equal(Seq(num(1)), Seq(num(1), num(1))));
  EXPECT_FALSE(json_equal(map(str("a"), num(1)), map()));
}

// uniqueItems compares only items of equal hash, so whatever json_equal
// joins must hash alike, across kinds, signs of zero, bases and pair order.
TEST(JsonHash, AgreesWithJsonEqual) {
  const std::int64_t big = std::int64_t{1} << 53;
  const std::pair<Value, Value> equal[] = {
      {num(1), flt(1.0)},
      {flt(-0.0), num(0)},
      {flt(-0.0), flt(0.0)},
      {num(big + 1), flt(static_cast<double>(big))},
      {Value::big_int("18446744073709551616"), Value::big_int("10000000000000000", 16)},
      {Value::big_int("1" + std::string(400, '0')), Value::big_int("1" + std::string(400, '0'))},
      {Seq(num(1), Seq(flt(2.0))), Seq(flt(1.0), Seq(num(2)))},
      {map(str("a"), num(1), str("b"), num(2)), map(str("b"), flt(2.0), str("a"), num(1))},
      {str("x"), str("x")},
  };
  for (const auto& [a, b] : equal) {
    ASSERT_TRUE(json_equal(a, b));
    EXPECT_EQ(json_hash(a), json_hash(b));
  }
  // Different values mostly hash apart (not required, but the table relies
  // on it for speed).
  EXPECT_NE(json_hash(num(1)), json_hash(str("1")));
  EXPECT_NE(json_hash(num(1)), json_hash(Value::boolean(true)));
  EXPECT_NE(json_hash(Seq(num(1), num(2))), json_hash(Seq(num(2), num(1))));
  EXPECT_NE(json_hash(map(str("a"), num(1))), json_hash(map(str("a"), num(2))));
  // Integers beyond the float range hash by value: they used to share one
  // bucket, which made uniqueItems quadratic.
  const std::string digits(400, '7');
  EXPECT_NE(json_hash(Value::big_int(digits)), json_hash(Value::big_int(digits + "1")));
  EXPECT_NE(json_hash(Value::big_int(digits)), json_hash(Value::big_int("-" + digits)));
  EXPECT_EQ(json_hash(Value::big_int("1_0" + digits)), json_hash(Value::big_int("10" + digits)));
  // A value holding a NaN is equal to nothing, so it needs no bucket.
  std::uint64_t hash = 0;
  EXPECT_TRUE(json_never_equal(Seq(num(1), flt(std::nan(""))), hash));
  EXPECT_FALSE(json_never_equal(Seq(num(1), flt(2.0)), hash));
}

TEST(ValueAsI128, DigitsInTheirBase) {
  using I = __int128;
  const I two_64 = I{1} << 64;
  EXPECT_EQ(value_as_i128(num(-5)), std::optional<I>(-5));
  EXPECT_EQ(value_as_i128(Value::big_int("18446744073709551616")), two_64);
  EXPECT_EQ(value_as_i128(Value::big_int("+1_8446744073709551616")), two_64);
  EXPECT_EQ(value_as_i128(Value::big_int("10000000000000000", 16)), two_64);
  EXPECT_EQ(value_as_i128(Value::big_int("-2000000000000000000000", 8)), -two_64);
  EXPECT_EQ(value_as_i128(Value::big_int("1" + std::string(64, '0'), 2)), two_64);
  const I max = static_cast<I>((static_cast<unsigned __int128>(1) << 127) - 1);
  EXPECT_EQ(value_as_i128(Value::big_int("170141183460469231731687303715884105727")), max);
  EXPECT_EQ(value_as_i128(Value::big_int("-170141183460469231731687303715884105728")), -max - 1);
  EXPECT_EQ(value_as_i128(Value::big_int("170141183460469231731687303715884105728")), std::nullopt);
  EXPECT_EQ(value_as_i128(Value::big_int("12a")), std::nullopt);
  EXPECT_EQ(value_as_i128(flt(2.0)), std::nullopt);
  EXPECT_EQ(value_as_i128(str("2")), std::nullopt);
}

TEST(FormatNumber, ShortestPlainText) {
  const std::pair<double, const char*> cases[] = {
      {3.0, "3"},
      {2.5, "2.5"},
      {0.1, "0.1"},
      {-0.001, "-0.001"},
      {1e20, "100000000000000000000"},
      {1.2345678901234568e29, "123456789012345680000000000000"},
      {2.5e-10, "0.00000000025"},
      {std::nan(""), "NaN"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(format_number(v), text) << text;
}

TEST(TranslatePattern, Table) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"abc", "abc"},
      {"\\d", "\\p{Nd}"},
      {"[\\D]", "[\\P{Nd}]"},
      {"(?<y>a)", "(?:a)"},
      {"(?<=a)", "(?<=a)"},
      {"\\u00E9", "\\x{e9}"},
      {"\\uD83D\\uDE00", "\\x{1f600}"},
      {"\\uD83D", std::nullopt},
      {"\\p{Letter}", "\\p{L}"},
      {"\\P{Script=old italic}", "\\P{Old_Italic}"},
      {"\\p{gc=Nope}", std::nullopt},
      {"[]a]", "[\\]a]"},
      {"[^\\W]", std::nullopt},
      {"\\.", "\\."},
  };
  for (const auto& [pattern, expected] : cases) {
    EXPECT_EQ(translate_pattern(pattern), expected) << pattern;
  }
}

TEST(PatternCache, InvalidPatternsAreRemembered) {
  PatternCache cache;
  EXPECT_EQ(cache.compile("(").re, nullptr);
  EXPECT_EQ(cache.compile("(").fault, PatternFault::Invalid);
  const re2::RE2* re = cache.compile("b").re.get();
  ASSERT_NE(re, nullptr);
  EXPECT_EQ(cache.compile("b").re.get(), re);
  EXPECT_TRUE(pattern_search(*re, "abc"));
  EXPECT_FALSE(pattern_search(*re, "ac"));
}

TEST(SharedPatterns, CacheStaysBoundedAndKeptPatternsOutliveEviction) {
  const std::shared_ptr<const re2::RE2> first = shared_pattern("^kept-0$").re;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(shared_pattern("^kept-0$").re, first);
  for (std::size_t i = 1; i <= limits::kPatternCacheEntries + 10; ++i) {
    EXPECT_NE(shared_pattern("^kept-" + std::to_string(i) + "$").re, nullptr);
  }
  EXPECT_LE(shared_pattern_count(), limits::kPatternCacheEntries);
  // Evicted, yet still held here and usable; asked again it compiles anew.
  EXPECT_TRUE(pattern_search(*first, "kept-0"));
  EXPECT_NE(shared_pattern("^kept-0$").re, first);
  EXPECT_EQ(shared_pattern("(").re, nullptr);
  EXPECT_NE(shared_pattern(std::string(limits::kPatternCacheMaxText + 1, 'a')).re, nullptr);
}

TEST(SharedPatterns, CacheStaysWithinItsByteBudget) {
  // Each of these compiles to a program of megabytes.
  for (int i = 0; i < 32; ++i) {
    const CompiledPattern compiled = shared_pattern("\\w{100}q{" + std::to_string(i) + "}");
    ASSERT_NE(compiled.re, nullptr);
    EXPECT_LE(shared_pattern_bytes(), limits::kPatternCacheBytes);
  }
  EXPECT_LT(shared_pattern_count(), 32u);
}

TEST(SharedPatterns, PatternsBeyondTheMemoryLimitAreTooLargeNotInvalid) {
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "\\w";
  EXPECT_EQ(shared_pattern(many).fault, PatternFault::TooLarge);
  EXPECT_EQ(shared_pattern("\\w{1000}").fault, PatternFault::TooLarge);
  EXPECT_EQ(shared_pattern("a{1001}").fault, PatternFault::Invalid);
  EXPECT_EQ(shared_pattern("\\w{20}").fault, PatternFault::None);
}

// `innermost` inside `depth` sequences of one item. The composer refuses
// such depths, edits can reach them.
YamlNode nested(YamlNode innermost, int depth) {
  for (int i = 0; i < depth; ++i) {
    NodeList items;
    items.push_back(std::move(innermost));
    innermost = YamlNode::sequence(std::move(items));
  }
  return innermost;
}

constexpr int kDeep = 100000;

// A document nested far deeper than the native stack allows for a naive
// walk: the pre-passes and the validator run every level through the stack
// guard.
TEST(ValidateDocument, DeepDocument) {
  const YamlNode root = nested(YamlNode::scalar("1"), kDeep);
  const Value schema = map(str("const"), num(1));
  const std::optional<SchemaError> error = validate_document(root, schema, ResolverMode::Yaml12);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message, "value does not equal the required const");
  EXPECT_EQ(error->path, "$");
}

// The same depth with an alias at the bottom, so the pre-passes copy it.
TEST(ValidateDocument, DeepDocumentWithAlias) {
  YamlNode anchored = YamlNode::scalar("1");
  anchored.set_anchor("x");
  NodeList items;
  items.push_back(std::move(anchored));
  items.push_back(nested(YamlNode::alias("x"), kDeep));
  const YamlNode root = YamlNode::sequence(std::move(items));
  const Value schema = map(str("type"), str("integer"));
  const std::optional<SchemaError> error = validate_document(root, schema, ResolverMode::Yaml12);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message, "expected type integer, found array");
}

// Two equal items nested far deeper than the native stack allows for a
// naive walk: converting, hashing and comparing them all go through the
// stack guard.
TEST(ValidateDocument, DeepUniqueItems) {
  NodeList items;
  items.push_back(nested(YamlNode::scalar("1"), kDeep));
  items.push_back(nested(YamlNode::scalar("1.0"), kDeep));
  const YamlNode root = YamlNode::sequence(std::move(items));
  const Value schema = map(str("uniqueItems"), Value::boolean(true));
  const std::optional<SchemaError> error = validate_document(root, schema, ResolverMode::Yaml12);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message, "array items are not unique");
  EXPECT_EQ(error->path, "$");
}

// A failure deep inside: the path is spelled from a chain of that depth.
TEST(ValidateDocument, DeepItemPath) {
  const YamlNode root = nested(YamlNode::scalar("x"), 3);
  Value schema = map(str("type"), str("integer"));
  for (int i = 0; i < 3; ++i) schema = map(str("items"), std::move(schema));
  const std::optional<SchemaError> error = validate_document(root, schema, ResolverMode::Yaml12);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->path, "$[0][0][0]");
}

}  // namespace
}  // namespace ostrevane::schema
