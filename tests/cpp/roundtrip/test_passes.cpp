// Passes over node trees: canonical keys, the upgrade's rewrites, the
// assigned-string style and the head of an upgraded text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roundtrip/composer/compose.hpp"
#include "roundtrip/passes/passes.hpp"

namespace ostrevane {
namespace {

NodeList compose(std::string_view text) {
  auto roots = compose_documents(text);
  EXPECT_TRUE(roots.has_value()) << text;
  return roots ? std::move(*roots) : NodeList{};
}

// The canonical keys of the keys of a root mapping.
std::vector<std::string> keys_of(std::string_view text, ResolverMode mode) {
  NodeList roots = compose(text);
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < roots.at(0).pair_count(); ++i) {
    std::string key;
    append_node_canonical_key(key, roots.at(0).key(i), mode);
    keys.push_back(key);
  }
  return keys;
}

struct SameKeyCase {
  const char* yaml;  // a mapping of two keys
  ResolverMode mode;
  bool same;
};

const SameKeyCase kSameKeys[] = {
    {"{1: a, 1.0: b}", ResolverMode::Yaml12, true},
    {"{1: a, 0x1: b}", ResolverMode::Yaml12, true},
    {"{1: a, true: b}", ResolverMode::Yaml12, true},
    {"{1: a, '1': b}", ResolverMode::Yaml12, false},
    {"{yes: a, true: b}", ResolverMode::Yaml12, false},
    {"{yes: a, true: b}", ResolverMode::Yaml11, true},
    {"{2e19: a, 20000000000000000000: b}", ResolverMode::Yaml12, true},
    {"{0x10000000000000000: a, 18446744073709551616: b}", ResolverMode::Yaml12, true},
    {"{-0.0: a, 0: b}", ResolverMode::Yaml12, true},
    {"{.nan: a, .NAN: b}", ResolverMode::Yaml12, true},
    {"{1e100: a, 10000000000000000000000000000000000000000000000000000000000000000000000000000000"
     "000000000000000000000: b}",
     ResolverMode::Yaml12, false},
    {"{[1, 2]: a, [1, 2.0]: b}", ResolverMode::Yaml12, true},
    {"{[1, 2]: a, [2, 1]: b}", ResolverMode::Yaml12, false},
    {"{[a, b]: x, [ab]: y}", ResolverMode::Yaml12, false},
    {"{{a: 1}: x, {a: 1}: y}", ResolverMode::Yaml12, true},
    {"{!!str 1: a, '1': b}", ResolverMode::Yaml12, true},
    {"{? !!str : a, '': b}", ResolverMode::Yaml12, true},
    {"{~: a, null: b}", ResolverMode::Yaml12, true},
};

TEST(CanonicalKeys, Table) {
  for (const SameKeyCase& c : kSameKeys) {
    const std::vector<std::string> keys = keys_of(c.yaml, c.mode);
    ASSERT_EQ(keys.size(), 2u) << c.yaml;
    EXPECT_EQ(keys[0] == keys[1], c.same) << c.yaml << ": " << keys[0] << " / " << keys[1];
  }
}

TEST(DuplicateKeys, FirstErrorAndWarnings) {
  NodeList roots = compose("a: {x: 1, x: 2}\na: 3\n<<: {}\n<<: {}\n\"<<\": 1\n'<<': 2\n");
  const std::optional<DecodeError> error = find_first_duplicate_key(roots, ResolverMode::Yaml12);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message, "duplicate mapping key: x");
  EXPECT_EQ(error->span.line, 0u);
  EXPECT_EQ(error->span.column, 10u);
  std::vector<std::string> warnings;
  collect_duplicate_key_warnings(roots, ResolverMode::Yaml12, warnings);
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "duplicate mapping key 'x' at line 1, column 11; keeping the last value",
                          "duplicate mapping key 'a' at line 2, column 1; keeping the last value",
                          "duplicate mapping key '<<' at line 6, column 1; keeping the last value",
                      }));
}

struct UpgradeCase {
  const char* value;
  ResolverMode mode;
  const char* text;  // after the upgrade
  ScalarStyle style;
  bool modified;
};

const UpgradeCase kUpgrades[] = {
    {"yes", ResolverMode::Yaml11, "true", ScalarStyle::Plain, true},
    {"Y", ResolverMode::Yaml11, "true", ScalarStyle::Plain, true},
    {"Y", ResolverMode::Yaml11Compat, "Y", ScalarStyle::Plain, false},
    {"1_000", ResolverMode::Yaml11, "1000", ScalarStyle::Plain, true},
    {"017", ResolverMode::Yaml11, "15", ScalarStyle::Plain, true},
    {"1:30", ResolverMode::Yaml11, "90", ScalarStyle::Plain, true},
    {"190:20:30.15", ResolverMode::Yaml11, "685230.15", ScalarStyle::Plain, true},
    {".nan", ResolverMode::Yaml11, ".nan", ScalarStyle::Plain, true},
    {"1.0", ResolverMode::Yaml11, "1.0", ScalarStyle::Plain, false},
    {"0o17", ResolverMode::Yaml11, "0o17", ScalarStyle::DoubleQuoted, true},
    {"0b1_0000000000000000000000000000000000000000000000000000000000000000", ResolverMode::Yaml11,
     "18446744073709551616", ScalarStyle::Plain, true},
    {"yes", ResolverMode::Yaml12, "yes", ScalarStyle::Plain, false},
    {"<<", ResolverMode::Yaml11, "<<", ScalarStyle::Plain, false},
};

TEST(Upgrade, Table) {
  for (const UpgradeCase& c : kUpgrades) {
    NodeList roots = compose(std::string("- ") + c.value + "\n");
    upgrade_scalars_1_1(roots.at(0), c.mode, true);
    const YamlNode& item = roots.at(0).items()[0];
    EXPECT_EQ(item.text(), c.text) << c.value;
    EXPECT_EQ(item.scalar_style(), c.style) << c.value;
    EXPECT_EQ(item.comments.modified, c.modified) << c.value;
  }
}

TEST(Yaml11Warnings, QuoteTheTextAsWritten) {
  NodeList roots = compose("on: [yes, 'no', 1.5, ~]\n");
  std::vector<std::string> warnings;
  collect_1_1_warnings(roots, ResolverMode::Yaml11, warnings);
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 1, "
                          "column 1",
                          "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, "
                          "column 6",
                      }))
      << warnings.size();
}

struct StyleCase {
  const char* text;
  bool prefer_double;
  ScalarStyle style;
};

const StyleCase kStyles[] = {
    {"hello", true, ScalarStyle::Plain},          {"12", true, ScalarStyle::DoubleQuoted},
    {"12", false, ScalarStyle::SingleQuoted},     {"", false, ScalarStyle::SingleQuoted},
    {"a: 'b'", false, ScalarStyle::DoubleQuoted}, {"two\nlines", false, ScalarStyle::DoubleQuoted},
};

TEST(AssignedStyle, Table) {
  for (const StyleCase& c : kStyles) {
    EXPECT_EQ(choose_assigned_style(c.text, c.prefer_double, ResolverMode::Yaml12), c.style)
        << c.text;
  }
}

struct HeadCase {
  const char* text;
  const char* upgraded;
};

const HeadCase kHeads[] = {
    {"a: 1\n", "%YAML 1.2\n---\na: 1\n"},
    {"%YAML 1.1\n---\na: 1\n", "%YAML 1.2\n---\na: 1\n"},
    {"%TAG ! x\n%YAML 1.1\n--- a\n", "%YAML 1.2\n%TAG ! x\n--- a\n"},
    {"---", "%YAML 1.2\n---"},
    {"---\ta", "%YAML 1.2\n---\n---\ta"},
    {"# c\n\n%YAML 1.1\n---\n", "# c\n\n%YAML 1.2\n---\n"},
    {"# c\na: 1\n", "# c\n%YAML 1.2\n---\na: 1\n"},
    {"%TAG ! x\n# c\n%YAML 1.1\n--- a\n", "%YAML 1.2\n%TAG ! x\n# c\n--- a\n"},
    {"# c\n", "%YAML 1.2\n---\n# c\n"},
    {"%YAML 1.1\r\n---\r\na: 1\r\n", "%YAML 1.2\n---\r\na: 1\r\n"},
    {"\xEF\xBB\xBF%YAML 1.1\n---\n", "\xEF\xBB\xBF%YAML 1.2\n---\n"},
    {"", "%YAML 1.2\n---\n"},
};

TEST(UpgradedHead, Table) {
  for (const HeadCase& c : kHeads) {
    OutputBuffer out;
    write_upgraded_text(c.text, out);
    EXPECT_EQ(out.view(), c.upgraded) << c.text;
  }
}

}  // namespace
}  // namespace ostrevane
