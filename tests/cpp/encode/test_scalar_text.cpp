// Scalar text utilities shared by the writers: float spelling, quoting
// tests, escapes, folding and literal blocks.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "emit_util/scalar_text.hpp"

namespace ostrevane {
namespace {

using namespace std::string_literals;

struct FloatCase {
  double value;
  const char* text;
};

// Expected texts come from Python's repr, with ".0" added to bare mantissas
// and the exponent padded to two digits.
const FloatCase kFloatCases[] = {
    {0x0.0p+0, "0.0"},
    {-0x0.0p+0, "-0.0"},
    {0x1.0000000000000p+0, "1.0"},
    {0x1.999999999999ap-4, "0.1"},
    {0x1.c6bf526340000p+49, "1000000000000000.0"},
    {0x1.1c37937e08000p+53, "1.0e+16"},
    {0x1.a36e2eb1c432dp-14, "0.0001"},
    {0x1.4f8b588e368f1p-17, "1.0e-05"},
    {0x1.ac53a7e04bcdap+66, "1.2345678901234568e+20"},
    {0x0.0000000000001p-1022, "5.0e-324"},
    {0x0.0000000000002p-1022, "1.0e-323"},
    {0x0.000000000000ap-1022, "5.0e-323"},
    {0x0.0000000000063p-1022, "4.9e-322"},
    {0x1.0000000000000p+53, "9007199254740992.0"},
    {0x1.0000000000001p+53, "9007199254740994.0"},
    {0x1.edd2f1a9fbe77p+6, "123.456"},
    {-0x1.ac9a7b3b7302fp-996, "-2.5e-300"},
    {0x1.249ad2594c37dp+332, "1.0e+100"},
    {0x1.421f5f40d8376p-23, "1.5e-07"},
    {0x1.1c37937e07fffp+53, "9999999999999998.0"},
    {0x1.c6bf52633ffffp+49, "999999999999999.9"},
    {0x1.0f0cf064dd592p+73, "1.0e+22"},
    {0x1.4f8b588e368f1p-17, "1.0e-05"},
    {0x1.fffffffffffffp+1023, "1.7976931348623157e+308"},
    {0x1.0000000000000p-1022, "2.2250738585072014e-308"},
    {0x1.3333333333333p-2, "0.3"},
    {0x1.5555555555555p-1, "0.6666666666666666"},
    {-0x1.8000000000000p+0, "-1.5"},
    {0x1.9000000000000p+6, "100.0"},
    {0x1.78c29dccccccdp+23, "12345678.9"},
    {0x1.3a92a30553262p-13, "0.00015000000000000001"},
    {0x1.3a92a30553261p-13, "0.00015"},
    {0x1.c12218377de66p+46, "123456789012345.6"},
    {0x1.18b54f22aeb03p+50, "1234567890123456.8"},
    {0x1.34fe53a096533p+494, "6.173439340148398e+148"},
    {0x1.8366cf658f7a7p+514, "8.115947301585461e+154"},
    {0x1.017a6205738d1p-232, "1.4572741654838737e-70"},
    {0x1.510b0b46ee1dap-844, "1.1223522654364378e-254"},
    {0x1.824d215ceb3a1p-463, "6.335752462450505e-140"},
    {-0x1.f00103f584ad4p+251, "-7.0109052208988554e+75"},
    {-0x1.0d5b3ffc6e35cp-997, "-7.855642831904642e-301"},
    {0x1.4f229359b1548p+618, "1.4240237085010159e+186"},
    {0x1.15471a4517d6cp-899, "2.562765952504851e-271"},
    {0x1.661e97589ca4ap+973, "1.116795824158035e+293"},
    {0x1.65da874007cb4p+576, "3.4573469160066226e+173"},
    {-0x1.850ad7eb72f82p-724, "-1.7220274176312283e-218"},
    {-0x1.2c8e4a18b2263p+19, "-615538.3155146356"},
    {0x1.42c6518333de2p+19, "661042.5472659434"},
    {-0x1.90d098198ca42p+19, "-820868.7531188207"},
    {-0x1.03964297b87dap+19, "-531634.0810205892"},
    {-0x1.d4c22c66d2b19p+19, "-960017.3875516384"},
    {-0x1.c78844fdd8e30p+18, "-466465.07799360435"},
    {-0x1.68b02314fd9f8p+17, "-184672.2740780858"},
    {0x1.88a41339f1b1cp+19, "804128.6008232567"},
    {INFINITY, ".inf"},
    {-INFINITY, "-.inf"},
    {NAN, ".nan"},
    {-NAN, ".nan"},
};

TEST(FormatFloat, MatchesTable) {
  for (const auto& c : kFloatCases) {
    EXPECT_EQ(format_float(c.value), c.text) << std::hexfloat << c.value;
    OutputBuffer appended;
    appended.append("x");
    append_float(appended, c.value);
    EXPECT_EQ(appended.view(), "x"s + c.text);
  }
}

// Every finite double reads back bit for bit from its text.
TEST(FormatFloat, RoundTripsRandomBits) {
  std::mt19937_64 rng(8);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    const std::string text = format_float(v);
    const double back = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&v, &back, sizeof v), 0) << text;
    ASSERT_NE(text.find('.'), std::string::npos) << text;
  }
}

// The digits and the power of ten of a float's text ("-1.50e+03" and
// "-1500.0" both give "15", 2): what must agree with the library's own
// shortest formatting.
std::pair<std::string, int> decimal_of(std::string_view text) {
  std::string digits;
  int point = -1;
  int exponent = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
    } else if (c == '.') {
      point = static_cast<int>(digits.size());
    } else if (c == 'e') {
      exponent = std::atoi(std::string(text.substr(i + 1)).c_str());
      break;
    }
  }
  if (point < 0) point = static_cast<int>(digits.size());
  const std::size_t lead = digits.find_first_not_of('0');
  const std::size_t last = digits.find_last_not_of('0');
  const int first_digit_power = point - 1 - static_cast<int>(lead) + exponent;
  return {digits.substr(lead, last - lead + 1), first_digit_power};
}

void expect_shortest(double v) {
  char expected[64];
  const auto end = std::to_chars(expected, expected + sizeof expected, v, std::chars_format::scientific).ptr;
  const std::string text = format_float(v);
  ASSERT_EQ(decimal_of(text), decimal_of(std::string_view(expected, end - expected)))
      << std::hexfloat << v << " written " << text;
}

double from_bits(std::uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The shortest digits (and, of those, the closest, ties to even) against
// the standard library's, where the method takes its rare turns: every
// power of two (its interval is narrower below), the edges of every
// exponent, the least subnormals, exact halves and quarters, and random bits.
TEST(FormatFloat, WritesTheShortestDigits) {
  for (std::uint64_t biased = 0; biased < 2047; ++biased) {
    for (const std::uint64_t fraction : {0ULL, 1ULL, 2ULL, 3ULL, 1ULL << 51, (1ULL << 52) - 1}) {
      if (biased == 0 && fraction == 0) continue;  // zero has no digits to compare
      expect_shortest(from_bits((biased << 52) | fraction));
      expect_shortest(-from_bits((biased << 52) | fraction));
    }
  }
  for (std::uint64_t fraction = 1; fraction < 20000; ++fraction) expect_shortest(from_bits(fraction));
  std::mt19937_64 rng(9);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t odd = (rng() | 1) & ((1ULL << 53) - 1);
    expect_shortest(std::ldexp(static_cast<double>(odd), -static_cast<int>(rng() % 64)));
    const double v = from_bits(rng());
    if (std::isfinite(v) && v != 0) expect_shortest(v);
    expect_shortest(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
  }
}

TEST(ScalarText, IsSingleLinePrintable) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain text", true},
      {"é ü €", true},
      {"a\nb", false},
      {"a\rb", false},
      {"a\tb", false},
      {"\x7f"s, false},
      {"\x01"s, false},
      {"\0"s, false},
      {"\xc2\x80", false},
      {"\xc2\x84", false},
      {"\xc2\x85", false},
      {"\xe2\x80\xa8", false},
      {"\xe2\x80\xa9", false},
      {"\xe2\x80\xa7", true},
      {"\xe2\x80\xaa", true},
      {"\xc2\x86", false},
      {"\xc2\x9f", false},
      {"\xc2\xa0", true},
      {"\xef\xbf\xbe", false},
      {"\xef\xbf\xbf", false},
      {"\xef\xbf\xbd", true},
      {"\xef\xbb\xbf", true},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(is_single_line_printable(text), expected) << text;
  }
}

TEST(ScalarText, FindUnprintable) {
  EXPECT_EQ(find_unprintable("abc"), std::string_view::npos);
  EXPECT_EQ(find_unprintable("ab\tc"), 2u);
  EXPECT_EQ(find_unprintable("é\xc2\x9f"), 2u);
  EXPECT_EQ(find_unprintable("a\xc2\x85\xef\xbf\xbf"), 1u);
  EXPECT_EQ(find_unprintable("ab\xe2\x80\xa9"), 2u);
  EXPECT_EQ(find_unprintable("\xe2\x80\x94\xe2\x80"), std::string_view::npos);
}

TEST(ScalarText, SuitsLiteralBlock) {
  const std::pair<std::string, bool> cases[] = {
      {"a\nb", true},
      {"a\r\nb", false},
      {"  a\nb", false},
      {"\n  a", false},
      {"a\n  b", true},
      {"\n\n", true},
      {"a", false},
      {"a\tb\nc", true},
      {"\ta\nb", false},
      {"a\n\x01"s, false},
      {"a\n\xc2\x85x", false},
      {"a\n\xe2\x80\xa8x", false},
      {"a\n\xe2\x80\xa9", false},
      {"a\n\xe2\x80\x94", true},
      {"a\n\xc2\x9f", false},
      {"a\n\xef\xbf\xbe", false},
      {"\n\nx\n", true},
      {"a\n", true},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(suits_literal_block(text), expected) << text;
  }
}

TEST(ScalarText, EscapeDoubleQuoted) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\0"s, "\\0"},
      {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {"say \"hi\" \\ bye", "say \\\"hi\\\" \\\\ bye"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      {"\xc2\x80\xc2\x85\xc2\x9f\xc2\xa0", "\\x80\\N\\x9f\xc2\xa0"},
      {"a\xe2\x80\xa8"
       "b\xe2\x80\xa9\xe2\x80\x94\xe2\x80",
       "a\\Lb\\P\xe2\x80\x94\xe2\x80"},
      {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "\\ufffe\\uffff\xef\xbf\xbd"},
      {"é€😀", "é€😀"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(escape_double_quoted(text), expected) << text;
  }
}

TEST(ScalarText, QuotedWriters) {
  OutputBuffer out;
  write_double_quoted(out, "a\"b\n");
  EXPECT_EQ(out.view(), "\"a\\\"b\\n\"");
  out.clear();
  write_single_quoted(out, "it's 'x'");
  EXPECT_EQ(out.view(), "'it''s ''x'''");
  out.clear();
  write_single_quoted(out, "");
  EXPECT_EQ(out.view(), "''");
}

struct FoldCase {
  std::string prefix;
  std::string text;
  std::size_t indent;
  std::size_t width;
  std::string expected;  // what fold_text appends
};

TEST(ScalarText, FoldText) {
  const FoldCase cases[] = {
      // The first line ends exactly at column 20.
      {"k: '  ", "aaaa bbbb cccc dddd eeee", 2, 20, "aaaa bbbb cccc\n  dddd eeee"},
      {"", "a  b", 0, 1, "a  b"},
      {"", "aaaa  bbbb", 2, 3, "aaaa  bbbb"},
      {"", " leading trailing ", 1, 5, " leading\n trailing "},
      {"", "x", 1, 1, "x"},
      {"", "", 1, 1, ""},
      {"", "verylongword b", 3, 4, "verylongword\n   b"},
      {"", "a b c d e f", 1, 3, "a b\n c\n d\n e\n f"},
      {"", "a b c d e f", 1, 4, "a b\n c d\n e f"},
      // The column is counted after the buffer's last line feed only.
      {"header line that is long\n  ", "one two three", 2, 12, "one two\n  three"},
      {"", "one two three", 4, 0, "one\n    two\n    three"},
  };
  for (const auto& c : cases) {
    OutputBuffer out;
    out.append(c.prefix);
    fold_text(out, c.text, c.indent, c.width);
    EXPECT_EQ(out.view().substr(c.prefix.size()), c.expected) << c.text;
  }
}

TEST(ScalarText, BlockHeader) {
  const std::pair<std::string, std::string> cases[] = {
      {"a", "|-"}, {"a\n", "|"}, {"a\n\n", "|+"}, {"\n", "|+"}, {"\n\n", "|+"}, {"a\nb", "|-"},
  };
  for (const auto& [text, expected] : cases) {
    OutputBuffer out;
    write_block_header(out, text, '|');
    EXPECT_EQ(out.view(), expected) << text;
  }
  OutputBuffer out;
  write_block_header(out, "a\n", '>');
  EXPECT_EQ(out.view(), ">");
}

TEST(ScalarText, LiteralBody) {
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {"a\n\nb\n", 2, "\n  a\n\n  b\n"}, {"\n\n", 2, "\n\n\n"},        {"\n", 2, "\n\n"},
      {"a\nb", 4, "\n    a\n    b\n"},   {"a\n\n\n", 1, "\n a\n\n\n"}, {"\n\nx", 2, "\n\n\n  x\n"},
  };
  for (const auto& [text, indent, expected] : cases) {
    OutputBuffer out;
    write_literal_body(out, text, indent);
    EXPECT_EQ(out.view(), expected) << text;
  }
}

TEST(ScalarText, CurrentColumn) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"", 0},
      {"abc", 3},
      {"abc\n", 0},
      {"abc\n  de", 4},
  };
  for (const auto& [text, column] : cases) {
    OutputBuffer out;
    out.append(std::string_view(text));
    EXPECT_EQ(current_column(out), column) << text;
  }
}

TEST(ScalarText, OutputBufferGrows) {
  OutputBuffer out;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    out.append("ab");
    out.push_back('c');
    out.append(std::size_t{2}, ' ');
    expected += "abc  ";
  }
  EXPECT_EQ(out.view(), expected);
  OutputBuffer moved = std::move(out);
  EXPECT_EQ(moved.size(), expected.size());
  EXPECT_TRUE(out.empty());
}

TEST(ScalarText, DigitProbes) {
  EXPECT_TRUE(has_two_digits("a12", 1));
  EXPECT_FALSE(has_two_digits("a1", 1));
  EXPECT_FALSE(has_two_digits("a1x", 1));
  EXPECT_FALSE(has_two_digits("12", 2));
  const std::tuple<std::string, std::size_t, bool, std::size_t> cases[] = {
      {"1", 0, true, 1},   {"123", 0, true, 2}, {"1-", 0, true, 1},
      {"x1", 0, false, 0}, {"12", 2, false, 2},
  };
  for (const auto& [text, pos, ok, end] : cases) {
    const DigitSkip r = skip_one_or_two_digits(text, pos);
    EXPECT_EQ(r.ok, ok) << text;
    EXPECT_EQ(r.pos, end) << text;
  }
}

}  // namespace
}  // namespace ostrevane
