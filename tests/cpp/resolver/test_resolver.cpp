#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "resolver/big_int.hpp"
#include "resolver/resolver.hpp"
#include "resolver/timestamp.hpp"

namespace ostrevane {
namespace {

using Kind = ResolvedScalar::Kind;

// One line per result: "int(31)", "float(inf)", "bool(true)", "bigint", ...
std::string dump(const ResolvedScalar& r) {
  switch (r.kind) {
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return r.boolean ? "bool(true)" : "bool(false)";
    case Kind::Int:
      return "int(" + std::to_string(r.integer) + ")";
    case Kind::BigInt:
      return "bigint";
    case Kind::Str:
      return "str";
    case Kind::Merge:
      return "merge";
    case Kind::Float: {
      if (std::isnan(r.number)) return "float(nan)";
      if (std::isinf(r.number)) return r.number < 0 ? "float(-inf)" : "float(inf)";
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, r.number);
      return "float(" + std::string(buf, end) + ")";
    }
  }
  return "?";
}

struct ResolveCase {
  std::uint8_t mode;
  const char* text;
  const char* expected;
  const char* tag = nullptr;  // none
  bool plain = true;
};

std::ostream& operator<<(std::ostream& os, const ResolveCase& c) {
  return os << "mode " << int(c.mode) << " \"" << c.text << "\" tag " << (c.tag ? c.tag : "-")
            << (c.plain ? " plain" : " quoted");
}

const ResolveCase kResolveCases[] = {
    // YAML 1.2: null, bool, merge
    {0, "", "null"},
    {0, "~", "null"},
    {0, "null", "null"},
    {0, "Null", "null"},
    {0, "NULL", "null"},
    {0, "nULL", "str"},
    {0, "<<", "merge"},
    {0, "true", "bool(true)"},
    {0, "True", "bool(true)"},
    {0, "FALSE", "bool(false)"},
    {0, "tRue", "str"},
    {0, "yes", "str"},
    {0, "Yes", "str"},
    {0, "on", "str"},
    // YAML 1.2: integers
    {0, "0", "int(0)"},
    {0, "-0", "int(0)"},
    {0, "+12", "int(12)"},
    {0, "012", "str"},
    {0, "00", "str"},
    {0, "0x1F", "int(31)"},
    {0, "0X1f", "int(31)"},
    {0, "0o17", "int(15)"},
    {0, "0O17", "int(15)"},
    {0, "-0x10", "int(-16)"},
    {0, "0x", "str"},
    {0, "0x-1", "str"},
    {0, "0o8", "str"},
    {0, "0b1", "str"},
    {0, "0777", "str"},
    {0, "1_000", "str"},
    {0, "1:30", "str"},
    {0, "-", "str"},
    {0, "+", "str"},
    {0, "9223372036854775807", "int(9223372036854775807)"},
    {0, "-9223372036854775807", "int(-9223372036854775807)"},
    {0, "-9223372036854775808", "bigint"},
    {0, "99999999999999999999", "bigint"},
    {0, "0x10000000000000000", "bigint"},
    {0, "0x8000000000000000", "bigint"},
    {0, "0x7fffffffffffffff", "int(9223372036854775807)"},
    // YAML 1.2: floats
    {0, "1e3", "float(1000)"},
    {0, "1.", "float(1)"},
    {0, ".5", "float(0.5)"},
    {0, "+1.5", "float(1.5)"},
    {0, "-1.5e-3", "float(-0.0015)"},
    {0, "1E+2", "float(100)"},
    {0, "1e400", "float(inf)"},
    {0, "-1e400", "float(-inf)"},
    {0, "1e-400", "float(0)"},
    {0, "-1e-400", "float(-0)"},
    {0, "0.000001e-320", "float(0)"},
    {0, "1000000e303", "float(inf)"},
    {0, "4.9e-324", "float(5e-324)"},
    {0, ".inf", "float(inf)"},
    {0, "+.INF", "float(inf)"},
    {0, "-.Inf", "float(-inf)"},
    {0, ".NaN", "float(nan)"},
    {0, "+.nan", "str"},
    {0, ".iNf", "str"},
    {0, "inf", "str"},
    {0, "-inf", "str"},
    {0, ".5x", "str"},
    {0, "1e", "str"},
    {0, "1e+", "str"},
    {0, ".", "str"},
    {0, ".e3", "str"},
    {0, "1.5.2", "str"},
    {0, "0x1.8p3", "str"},
    {0, "1.5_0", "str"},
    // YAML 1.2: tags decide, whatever the style
    {0, "inf", "float(inf)", "!!float"},
    {0, "-Infinity", "float(-inf)", "!!float"},
    {0, "nan", "float(nan)", "tag:yaml.org,2002:float"},
    {0, "1", "float(1)", "!!float"},
    {0, "1_0", "str", "!!float"},
    {0, "12", "int(12)", "!!int", false},
    {0, "99999999999999999999", "bigint", "!!int", false},
    {0, "1_000", "str", "!!int"},
    {0, "0x1F", "int(31)", "tag:yaml.org,2002:int"},
    {0, "x", "str", "!!null"},
    {0, "", "null", "!!null", false},
    {0, "True", "bool(true)", "!!bool", false},
    {0, "yes", "str", "!!bool"},
    {0, "1", "str", "!!str"},
    {0, "<<", "str", "!!merge"},
    {0, "1", "str", "!custom"},
    {0, "1", "str", "!<tag:yaml.org,2002:int>"},
    // Quoted and block scalars without a tag are strings in every mode.
    {0, "true", "str", nullptr, false},
    {0, "1", "str", nullptr, false},
    {1, "yes", "str", nullptr, false},
    {2, "~", "str", nullptr, false},
    // YAML 1.1
    {1, "yes", "bool(true)"},
    {1, "On", "bool(true)"},
    {1, "n", "bool(false)"},
    {1, "Y", "bool(true)"},
    {1, "OFF", "bool(false)"},
    {1, "oN", "str"},
    {1, "<<", "merge"},
    {1, "~", "null"},
    {1, "1_000", "int(1000)"},
    {1, "1__0", "int(10)"},
    {1, "+1_0", "int(10)"},
    {1, "0b101", "int(5)"},
    {1, "-0b101", "int(-5)"},
    {1, "017", "int(15)"},
    {1, "0", "int(0)"},
    {1, "09", "str"},
    {1, "0o17", "str"},
    {1, "0x_1F", "int(31)"},
    {1, "0x", "str"},
    {1, "190:20:30", "int(685230)"},
    {1, "1:60", "str"},
    {1, "0:30", "str"},
    {1, "-1:30", "int(-90)"},
    {1, "1:3x", "str"},
    {1, "1:30.5", "float(90.5)"},
    {1, "1:30:00.25", "float(5400.25)"},
    {1, "1_000.5", "float(1000.5)"},
    {1, "1.5_0", "float(1.5)"},
    {1, "1e5", "float(1e+05)"},
    {1, "12e", "str"},
    {1, "_1", "int(1)"},
    {1, ".inf", "float(inf)"},
    {1, "-9223372036854775808", "bigint"},
    {1, "1_000_000_000_000_000_000_000", "bigint"},
    {1, "0777777777777777777777777", "bigint"},
    {1, "_", "str"},
    // YAML 1.1, compatible form
    {2, "y", "str"},
    {2, "n", "str"},
    {2, "yes", "bool(true)"},
    {2, "_1", "str"},
    {2, "-_1", "str"},
    {2, "1e5", "str"},
    {2, "1.0e5", "str"},
    {2, "1.0e+5", "float(1e+05)"},
    {2, "1.0e-", "str"},
    {2, "1.", "float(1)"},
    {2, "1_000", "int(1000)"},
    {7, "y", "str"},  // any other mode byte is the compatible form
    // YAML 1.1 tags
    {1, "1:30", "float(90)", "!!float"},
    {0, "1:30", "str", "!!float"},
    {1, "1_0.5", "float(10.5)", "!!float"},
    {1, "x", "merge", "!!merge"},
    {0, "x", "str", "!!merge"},
    {1, "y", "bool(true)", "!!bool", false},
    {2, "y", "str", "!!bool", false},
    {1, "0b11", "int(3)", "!!int", false},
    {1, "0b" "11111111111111111111111111111111111111111111111111111111111111111", "bigint",
     "!!int"},
    {1, "1.5", "str", "!!int"},
};

class Resolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(Resolve, Classifies) {
  const auto& c = GetParam();
  const OptionalTag tag = c.tag ? OptionalTag(c.tag) : std::nullopt;
  EXPECT_EQ(dump(resolve_scalar_kind(resolver_mode_from_byte(c.mode), c.text, c.plain, tag)),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Resolve, testing::ValuesIn(kResolveCases));

struct DifferenceCase {
  std::uint8_t mode;
  const char* text;
  const char* expected;  // "int/str" or "" for none
  const char* tag = nullptr;
  bool plain = true;
};

const DifferenceCase kDifferenceCases[] = {
    {1, "010", "int/str"},
    {1, "yes", "bool/str"},
    {1, "1:30", "int/str"},
    {1, "1_000", "int/str"},
    {1, "0o17", ""},
    {1, "0x10", ""},
    {1, "1e5", ""},
    {1, "<<", ""},
    {1, "~", ""},
    {1, "y", "bool/str"},
    {2, "y", ""},
    {2, "1e5", ""},
    {1, "0b" "11111111111111111111111111111111111111111111111111111111111111111", "int/str"},
    {1, "1:30.5", "float/str"},
    {1, "x", "merge/str", "!!merge"},
    {1, "1:30", "float/str", "!!float"},
    {1, "yes", "", nullptr, false},
    {0, "yes", ""},
    {0, "010", ""},
};

class Difference : public testing::TestWithParam<DifferenceCase> {};

TEST_P(Difference, NamesBothTypes) {
  const auto& c = GetParam();
  const OptionalTag tag = c.tag ? OptionalTag(c.tag) : std::nullopt;
  const auto d = resolution_difference(resolver_mode_from_byte(c.mode), c.text, c.plain, tag);
  const std::string got = d ? std::string(d->first) + "/" + std::string(d->second) : "";
  EXPECT_EQ(got, c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, Difference, testing::ValuesIn(kDifferenceCases));

TEST(TypeName, OfEveryKind) {
  EXPECT_EQ(type_name(Kind::Null), "null");
  EXPECT_EQ(type_name(Kind::Bool), "bool");
  EXPECT_EQ(type_name(Kind::Int), "int");
  EXPECT_EQ(type_name(Kind::BigInt), "int");
  EXPECT_EQ(type_name(Kind::Float), "float");
  EXPECT_EQ(type_name(Kind::Str), "str");
  EXPECT_EQ(type_name(Kind::Merge), "merge");
}

// resolve_plain_scalar: the owned form, checked through the Value debug text
// (BigInts of other bases show their decimal digits there).
struct OwnedCase {
  std::uint8_t mode;
  std::string text;
  std::string expected;
};

const OwnedCase kOwnedCases[] = {
    {0, "<<", "String(\"<<\")"},
    {0, "abc", "String(\"abc\")"},
    {0, "~", "Null"},
    {1, "yes", "Bool(true)"},
    {0, "0x1F", "Int(31)"},
    {0, "1.5", "Float(1.5)"},
    {0, std::string(20, '9'), "BigInt(\"" + std::string(20, '9') + "\")"},
    {0, "+" + std::string(20, '9'), "BigInt(\"+" + std::string(20, '9') + "\")"},
    {1, "1_000_000_000_000_000_000_000", "BigInt(\"1_000_000_000_000_000_000_000\")"},
    {0, "0x1" + std::string(16, '0'), "BigInt(\"18446744073709551616\")"},
    {0, "-0o" + std::string(24, '7'), "BigInt(\"-4722366482869645213695\")"},
    {1, "0b1" + std::string(64, '0'), "BigInt(\"18446744073709551616\")"},
    {1, "-0_" + std::string(24, '7'), "BigInt(\"-4722366482869645213695\")"},
    {1, "0x_1_" + std::string(16, '0'), "BigInt(\"18446744073709551616\")"},
};

class Owned : public testing::TestWithParam<OwnedCase> {};

TEST_P(Owned, MakesValue) {
  const auto& c = GetParam();
  EXPECT_EQ(value_debug_text(
                resolve_plain_scalar(resolver_mode_from_byte(c.mode), c.text, true, std::nullopt)),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Owned, testing::ValuesIn(kOwnedCases));

TEST(Owned, BigIntKeepsLiteralAndBase) {
  const Value v = resolve_plain_scalar(ResolverMode::Yaml11, "-0x_00FF_ffff_ffff_ffff_ffff_ffff",
                                       true, std::nullopt);
  ASSERT_EQ(v.kind(), ValueKind::BigInt);
  EXPECT_EQ(v.big_int_base(), 16);
  EXPECT_EQ(v.text(), "-ff" + std::string(20, 'f'));
  const Value d = resolve_plain_scalar(ResolverMode::Yaml12, "18446744073709551616", true,
                                       std::nullopt);
  EXPECT_EQ(d.big_int_base(), 10);
  EXPECT_EQ(d.text(), "18446744073709551616");
}

struct LiteralCase {
  const char* text;
  const char* digits;  // nullptr: none
  int base;
};

const LiteralCase kLiteralCases[] = {
    {"", nullptr, 0},
    {"-", nullptr, 0},
    {"+", nullptr, 0},
    {"_", nullptr, 0},
    {"12345", nullptr, 0},
    {"1_2", nullptr, 0},
    {"0", nullptr, 0},
    {"0x", "0", 16},
    {"0777", "777", 8},
    {"-0b101", "-101", 2},
    {"+0o17", "17", 8},
    {"0x_DEAD_beef", "deadbeef", 16},
    {"0x0000ff", "ff", 16},
    {"-0x0", "0", 16},
};

class Literal : public testing::TestWithParam<LiteralCase> {};

TEST_P(Literal, Parses) {
  const auto& c = GetParam();
  const auto lit = parse_big_int_literal(c.text);
  if (c.digits == nullptr) {
    EXPECT_FALSE(lit.has_value());
    return;
  }
  ASSERT_TRUE(lit.has_value());
  EXPECT_EQ(lit->digits, c.digits);
  EXPECT_EQ(lit->base, c.base);
}

INSTANTIATE_TEST_SUITE_P(Table, Literal, testing::ValuesIn(kLiteralCases));

// Used to hang: the literal was converted to decimal by repeated
// multiply-and-add, quadratic in its length.
TEST(BigIntLiteral, TwoHundredThousandHexDigitsResolveInLinearTime) {
  const std::string text = "0x" + std::string(200'000, 'f');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(resolve_scalar_kind(ResolverMode::Yaml12, text, true, std::nullopt).kind, Kind::BigInt);
  const Value v = resolve_plain_scalar(ResolverMode::Yaml12, text, true, std::nullopt);
  const Value w = resolve_plain_scalar(ResolverMode::Yaml11, text, true, std::nullopt);
  EXPECT_TRUE(v == w);
  EXPECT_EQ(value_as_f64(v), INFINITY);
  std::string canonical;
  append_big_int_canonical(canonical, v.text(), v.big_int_base());
  EXPECT_EQ(canonical, std::string(200'000, 'f'));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(v.kind(), ValueKind::BigInt);
  EXPECT_EQ(v.big_int_base(), 16);
  EXPECT_EQ(v.text(), std::string(200'000, 'f'));
  EXPECT_LT(elapsed, std::chrono::seconds(1));
}

TEST(BigIntLiteral, DecimalTextOnDemandIsExact) {
  // 16^200 - 1 written in hex and its decimal digits computed on demand agree
  // with the same number built from its decimal literal.
  const Value hex = resolve_plain_scalar(ResolverMode::Yaml12, "0x" + std::string(200, 'f'), true,
                                         std::nullopt);
  const std::string decimal = big_int_decimal_text(hex);
  const Value dec = resolve_plain_scalar(ResolverMode::Yaml12, decimal, true, std::nullopt);
  EXPECT_EQ(dec.big_int_base(), 10);
  EXPECT_TRUE(hex == dec);
  EXPECT_EQ(decimal.size(), 241u);
  EXPECT_EQ(decimal.substr(0, 10), "6668014432");
}

// Order of two literals in any bases: signs (a '-' before zero makes no
// negative number), then magnitudes, exactly one unit apart at any size.
TEST(BigIntLiteral, CompareOrdersByValue) {
  const std::string f200(200, 'f');
  const std::string dec = big_int_decimal_text(resolve_plain_scalar(
      ResolverMode::Yaml12, "0x" + f200, true, std::nullopt));  // 16^200 - 1
  std::string dec_plus_one = dec;
  dec_plus_one.back() = static_cast<char>(dec_plus_one.back() + 1);  // ends in 5
  struct Case {
    std::string a;
    std::uint8_t base_a;
    std::string b;
    std::uint8_t base_b;
    int order;
  };
  const Case cases[] = {
      {"18446744073709551616", 10, "18446744073709551615", 10, 1},
      {"-18446744073709551616", 10, "-18446744073709551615", 10, -1},
      {"-0", 10, "0", 16, 0},
      {"-0_0", 10, "+0", 10, 0},
      {"000123", 10, "123", 10, 0},
      {"1_000", 10, "1000", 10, 0},
      {"10000000000000000", 16, "18446744073709551616", 10, 0},
      {"10000000000000000", 16, "18446744073709551617", 10, -1},
      {"-10000000000000001", 16, "-18446744073709551616", 10, -1},
      {f200, 16, dec, 10, 0},
      {f200, 16, dec_plus_one, 10, -1},
      {"-" + f200, 16, "-" + dec_plus_one, 10, 1},
      {"1" + std::string(5000, '0'), 16, "9" + std::string(4000, '9'), 10, 1},
      {"7" + std::string(100, '7'), 8, "F" + std::string(50, 'f'), 16, 1},
      {"-1", 2, "1", 8, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(big_int_compare(c.a, c.base_a, c.b, c.base_b), c.order) << c.a << " " << c.b;
    EXPECT_EQ(big_int_compare(c.b, c.base_b, c.a, c.base_a), -c.order) << c.b << " " << c.a;
  }
}

struct FloatSyntaxCase {
  const char* text;
  const char* expected;  // dump of the float, or "none"
};

const FloatSyntaxCase kFloatSyntaxCases[] = {
    {"Infinity", "float(inf)"}, {"-INF", "float(-inf)"}, {"NaN", "float(nan)"},
    {"+nan", "float(nan)"},     {"1", "float(1)"},       {" 1", "none"},
    {"1 ", "none"},             {"1_0", "none"},         {"0x10", "none"},
    {"+", "none"},              {"", "none"},            {"e5", "none"},
    {"1e5.5", "none"},          {"infinit", "none"},     {"0.1", "float(0.1)"},
};

class FloatSyntax : public testing::TestWithParam<FloatSyntaxCase> {};

TEST_P(FloatSyntax, IsStrict) {
  const auto f = parse_float_syntax(GetParam().text);
  EXPECT_EQ(f ? dump(ResolvedScalar::of_float(*f)) : "none", GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FloatSyntax, testing::ValuesIn(kFloatSyntaxCases));

TEST(StripUnderscores, CopiesOnlyWhenNeeded) {
  std::string scratch;
  const std::string_view plain = "1234";
  EXPECT_EQ(strip_underscores(plain, scratch).data(), plain.data());
  EXPECT_EQ(strip_underscores("1_2_3", scratch), "123");
  EXPECT_EQ(parse_unsigned_radix("+1", 10), std::nullopt);
  EXPECT_EQ(parse_unsigned_radix("ff", 16), 255);
  EXPECT_EQ(parse_unsigned_radix("9223372036854775808", 10), std::nullopt);
}

// ---- timestamps

struct TimestampCase {
  const char* text;
  const char* expected;  // debug text, or "none"
};

std::string ts_dump(std::string_view text) {
  const auto ts = parse_timestamp(text);
  if (!ts) return "none";
  std::string out;
  append_timestamp_debug(out, *ts);
  return out;
}

const TimestampCase kTimestampCases[] = {
    {"2001-12-14", "Date { year: 2001, month: 12, day: 14 }"},
    {"2001-1-4", "none"},
    {"2001-1-4 5:06:07",
     "DateTime { year: 2001, month: 1, day: 4, hour: 5, minute: 6, second: 7, microsecond: 0, "
     "offset_minutes: none }"},
    {"2001-12-14t21:59:43.10-05:00",
     "DateTime { year: 2001, month: 12, day: 14, hour: 21, minute: 59, second: 43, "
     "microsecond: 100000, offset_minutes: -300 }"},
    {"2001-12-14 21:59:43.10 -5",
     "DateTime { year: 2001, month: 12, day: 14, hour: 21, minute: 59, second: 43, "
     "microsecond: 100000, offset_minutes: -300 }"},
    {"2001-12-15T02:59:43.1Z",
     "DateTime { year: 2001, month: 12, day: 15, hour: 2, minute: 59, second: 43, "
     "microsecond: 100000, offset_minutes: 0 }"},
    {"2001-12-15 2:59:43.10",
     "DateTime { year: 2001, month: 12, day: 15, hour: 2, minute: 59, second: 43, "
     "microsecond: 100000, offset_minutes: none }"},
    {"2001-12-14 21:59:43.",
     "DateTime { year: 2001, month: 12, day: 14, hour: 21, minute: 59, second: 43, "
     "microsecond: 0, offset_minutes: none }"},
    {"2001-12-14 21:59:43.1234567",
     "DateTime { year: 2001, month: 12, day: 14, hour: 21, minute: 59, second: 43, "
     "microsecond: 123456, offset_minutes: none }"},
    {"2000-02-29", "Date { year: 2000, month: 2, day: 29 }"},
    {"1900-02-29", "none"},
    {"2001-02-29", "none"},
    {"0000-01-01", "none"},
    {"2001-13-01", "none"},
    {"2001-04-31", "none"},
    {"2001-12-14 24:00:00", "none"},
    {"2001-12-14 23:60:00", "none"},
    {"2001-12-14 23:59:60", "none"},
    {"2001-12-14 1:2:03", "none"},
    {"2001-12-14 1:02:3", "none"},
    {"2001-12-14T1:02:03+23:59",
     "DateTime { year: 2001, month: 12, day: 14, hour: 1, minute: 2, second: 3, microsecond: 0, "
     "offset_minutes: 1439 }"},
    {"2001-12-14T1:02:03+24:00", "none"},
    {"2001-12-14T1:02:03+05:99",
     "DateTime { year: 2001, month: 12, day: 14, hour: 1, minute: 2, second: 3, microsecond: 0, "
     "offset_minutes: 399 }"},
    {"2001-12-14T1:02:03+0530", "none"},
    {"2001-12-14T1:02:03+05:3", "none"},
    {"2001-12-14T1:02:03Z x", "none"},
    {"2001-12-14T1:02:03Z  ",
     "DateTime { year: 2001, month: 12, day: 14, hour: 1, minute: 2, second: 3, microsecond: 0, "
     "offset_minutes: 0 }"},
    {"2001-12-14TT1:02:03", "none"},
    {"2001-12-14 \t 1:02:03",
     "DateTime { year: 2001, month: 12, day: 14, hour: 1, minute: 2, second: 3, microsecond: 0, "
     "offset_minutes: none }"},
    {"2001-12-14x", "none"},
    {"2001-12-", "none"},
    {"2001", "none"},
    {"200a-12-14", "none"},
    {"", "none"},
};

class TimestampParse : public testing::TestWithParam<TimestampCase> {};

TEST_P(TimestampParse, Reads) { EXPECT_EQ(ts_dump(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Table, TimestampParse, testing::ValuesIn(kTimestampCases));

TEST(TimestampFormat, Writes) {
  EXPECT_EQ(format_timestamp(Date{2001, 2, 3}), "2001-02-03");
  EXPECT_EQ(format_timestamp(Date{33, 2, 3}), "0033-02-03");
  EXPECT_EQ(format_timestamp(DateTime{2001, 2, 3, 4, 5, 6, 5, -90}),
            "2001-02-03T04:05:06.000005-01:30");
  EXPECT_EQ(format_timestamp(DateTime{2001, 2, 3, 4, 5, 6, 0, std::nullopt}),
            "2001-02-03T04:05:06");
  EXPECT_EQ(format_timestamp(DateTime{2001, 2, 3, 4, 5, 6, 0, 0}), "2001-02-03T04:05:06+00:00");
  EXPECT_EQ(format_timestamp(DateTime{2001, 2, 3, 4, 5, 6, 120000, 330}),
            "2001-02-03T04:05:06.120000+05:30");
  // A formatted timestamp reads back as itself.
  const Timestamp ts = DateTime{1999, 12, 31, 23, 59, 59, 999999, -1439};
  EXPECT_EQ(parse_timestamp(format_timestamp(ts)), ts);
}

TEST(TimestampValidDate, Calendar) {
  EXPECT_TRUE(is_valid_date(2000, 2, 29));
  EXPECT_TRUE(is_valid_date(2004, 2, 29));
  EXPECT_FALSE(is_valid_date(2100, 2, 29));
  EXPECT_TRUE(is_valid_date(9999, 12, 31));
  EXPECT_FALSE(is_valid_date(10000, 1, 1));
  EXPECT_FALSE(is_valid_date(2001, 6, 31));
  EXPECT_FALSE(is_valid_date(2001, 1, 0));
}

}  // namespace
}  // namespace ostrevane
