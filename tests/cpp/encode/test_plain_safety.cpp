// Plain-scalar safety: which strings the writers must quote, per mode.
#include <gtest/gtest.h>

#include <string>

#include "emit_util/plain_safety.hpp"

namespace ostrevane {
namespace {

using namespace std::string_literals;

struct QuoteCase {
  std::string text;
  bool yaml12;  // ResolverMode::Yaml12
  bool yaml11;  // ResolverMode::Yaml11
  bool compat;  // ResolverMode::Yaml11Compat
};

const QuoteCase kCases[] = {
    // Quoted in every mode.
    {"", true, true, true},
    {"~", true, true, true},
    {"null", true, true, true},
    {"NULL", true, true, true},
    {"yes", true, true, true},
    {"No", true, true, true},
    {"off", true, true, true},
    {"ON", true, true, true},
    {"<<", true, true, true},
    {"...", true, true, true},
    {"... x", true, true, true},
    {"...\tx", true, true, true},
    {".NaN", true, true, true},
    {"-1", true, true, true},
    {"-x", true, true, true},
    {"---", true, true, true},
    {":a", true, true, true},
    {"?x", true, true, true},
    {"a: b", true, true, true},
    {"a #b", true, true, true},
    {"a:", true, true, true},
    {" a", true, true, true},
    {"a ", true, true, true},
    {"a\t", true, true, true},
    {"1", true, true, true},
    {"1.5", true, true, true},
    {"0x1F", true, true, true},
    {"1e3", true, true, true},
    {"+.inf", true, true, true},
    {"-.INF", true, true, true},
    {"False", true, true, true},
    {"a\nb", true, true, true},
    {"a\tb", true, true, true},
    {"\tb", true, true, true},
    {"a\rb", true, true, true},
    {"a\x7f"s, true, true, true},
    {"a\xc2\x80", true, true, true},
    {"a\xef\xbf\xbf", true, true, true},
    {"\xef\xbb\xbf"
     "abc",
     true, true, true},
    {"1.0e5", true, true, true},
    {"+12", true, true, true},
    {".5", true, true, true},
    {"12345678901234567890123", true, true, true},
    {"!tag", true, true, true},
    {"&a", true, true, true},
    {"*a", true, true, true},
    {"%x", true, true, true},
    {"@x", true, true, true},
    {"`x", true, true, true},
    {"|", true, true, true},
    {">x", true, true, true},
    {"[x", true, true, true},
    {"]x", true, true, true},
    {"{x", true, true, true},
    {"}x", true, true, true},
    {",x", true, true, true},
    {"#x", true, true, true},
    {"'x", true, true, true},
    {"\"x", true, true, true},
    // Plain in every mode.
    {"a:b", false, false, false},
    {"a#b", false, false, false},
    {"x", false, false, false},
    {"\xc3\xa9", false, false, false},
    {"...x", false, false, false},
    {"Yes please", false, false, false},
    {"1a", false, false, false},
    {".5x", false, false, false},
    {"a,b", false, false, false},
    {"a[b]", false, false, false},
    {"yess", false, false, false},
    {"nulls", false, false, false},
    {"a b", false, false, false},
    {"2001-1-1", false, false, false},
    {"..", false, false, false},
    {".", false, false, false},
    // Mode-dependent.
    {"012", true, true, true},
    {"0b1", true, true, true},
    {"1_000", true, true, true},
    {"0o17", true, true, true},
    {"2001-12-14", false, true, true},
    {"2001-12-14t21:59:43.10-05:00", false, true, true},
    {"2001-12-14 21:59:43 Z", false, true, true},
    {"2001-12-14 21:59:43z", false, true, true},
    {"2001-12-14T21:59:43.5z", false, true, true},
    {"2001-12-14 21:59:43 z", false, true, true},
    {"1:30", false, true, true},
    {"190:20:30", false, true, true},
    {"1:30.5", false, true, true},
    {"_1", false, true, false},
    {"y", false, true, false},
    {"n", false, true, false},
    {"Y", false, true, false},
    {"N", false, true, false},
    // The YAML 1.1 value key.
    {"=", false, true, true},
    {"==", false, false, false},
    {"a=b", false, false, false},
    {"1e5", true, true, true},
    {"1_000.5", true, true, true},
    {"+1_0", true, true, true},
    {"1.5_0", true, true, true},
    // Markers and unprintable characters on both sides of an 8-byte word.
    {"aaaaaaa #b", true, true, true},
    {"aaaaaa #bb", true, true, true},
    {"aaaaaaa: b", true, true, true},
    {"aaaaaaaa: b", true, true, true},
    {"aaaaaaaaaaaaaaa:", true, true, true},
    {"aaaaaaaa:b#cccccccc", false, false, false},
    {"aaaaaaaaaaaaaaa\x01", true, true, true},
    {"aaaaaaaaaaaaaaaa\x7f", true, true, true},
    {"aaaaaaa\xc2\x80"
     "aaa",
     true, true, true},
    // NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR break YAML 1.1 lines.
    {"aaaaaaa\xc2\x85"
     "aaa",
     true, true, true},
    {"a\xc2\x85"
     "b",
     true, true, true},
    {"aaaaaa\xe2\x80\xa8"
     "aaa",
     true, true, true},
    {"\xe2\x80\xa9", true, true, true},
    {"yes\xe2\x80\xa8", true, true, true},
    {"aaaaaa\xe2\x80\x94"
     "aaa",
     false, false, false},
    {"\xe2\x82\xac", false, false, false},
    {"aaaaaa\xef\xbf\xbe"
     "aaa",
     true, true, true},
    {"aaaaaaaaaaaaaaaa\xc3\xa9\xc3\xa9", false, false, false},
    // Readers sniff %YAML after Unicode white space: such a first line must
    // be quoted, or "1:30" later in the text would read as 90.
    {"\xe3\x80\x80%YAML 1.1 x", true, true, true},
    {"\xc2\xa0%x", true, true, true},
    {"\xe3\x80\x80x", false, false, false},
};

TEST(PlainSafety, QuotingPerMode) {
  for (const QuoteCase& c : kCases) {
    EXPECT_EQ(plain_needs_quotes(c.text, ResolverMode::Yaml12), c.yaml12) << "1.2: " << c.text;
    EXPECT_EQ(plain_needs_quotes(c.text, ResolverMode::Yaml11), c.yaml11) << "1.1: " << c.text;
    EXPECT_EQ(plain_needs_quotes(c.text, ResolverMode::Yaml11Compat), c.compat)
        << "compat: " << c.text;
  }
}

TEST(PlainSafety, LooksLikeTimestamp) {
  const std::pair<const char*, bool> cases[] = {
      {"2001-12-14", true},
      {"2001-1-4", false},
      {"2001-1-4 5:06:07", true},
      {"2001-12-14t21:59:43.10-05:00", true},
      {"2001-12-14 21:59:43.10 -5", true},
      {"2001-12-15T02:59:43.1Z", true},
      {"2001-12-14 21:59:43.", true},
      {"2001-12-14 21:59:43 Z", true},
      // The reader takes a lowercase 'z' as UTC, so it must be quoted too.
      {"2001-12-14 21:59:43z", true},
      {"2001-12-14 21:59:43 z", true},
      {"2001-12-14 21:59:43Zx", false},
      {"2001-12-14 21:59:43zx", false},
      {"2001-12-14 21:59:43+05:30", true},
      {"2001-12-14 21:59:43+0530", false},
      {"2001-12-14 21:59:43+05:3", false},
      {"2001-12-14 1:2:03", false},
      {"2001-12-14x21:59:43", false},
      {"2001-12-14T", false},
      {"2001-12-14 ", false},
      {"2001-12", false},
      {"2001-", false},
      {"200a-12-14", false},
      {"2001/12/14", false},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(looks_like_timestamp(text), expected) << text;
  }
}

TEST(PlainSafety, ResolvesAsNumber11) {
  EXPECT_TRUE(resolves_as_number_11("1_000", ResolverMode::Yaml11));
  EXPECT_TRUE(resolves_as_number_11("_1", ResolverMode::Yaml11));
  EXPECT_FALSE(resolves_as_number_11("_1", ResolverMode::Yaml11Compat));
  EXPECT_TRUE(resolves_as_number_11("1e5", ResolverMode::Yaml11));
  EXPECT_FALSE(resolves_as_number_11("1e5", ResolverMode::Yaml11Compat));
  EXPECT_FALSE(resolves_as_number_11("yes", ResolverMode::Yaml11));
}

TEST(PlainSafety, FindFoldSpace) {
  const std::tuple<const char*, bool, std::size_t> cases[] = {
      {"a b", true, 1},   {"ab", false, 0},    {" ab", false, 0}, {"ab ", false, 0},
      {"a  b", false, 0}, {"a  b c", true, 4}, {"", false, 0},    {"  ", false, 0},
  };
  for (const auto& [text, found, index] : cases) {
    const FoldSpace r = find_fold_space(text);
    EXPECT_EQ(r.found, found) << text;
    if (found) {
      EXPECT_EQ(r.index, index) << text;
    }
  }
}

}  // namespace
}  // namespace ostrevane
