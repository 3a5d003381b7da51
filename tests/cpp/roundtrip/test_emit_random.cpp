// Seeded random commented documents: compose, mark every node modified,
// emit, compose again. Kinds, texts, anchors, tags and comments must come
// back, and styles too except where the emitter changes one so that the
// text reads back the same; emitting the second tree gives the same text.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "emit_check.hpp"
#include "emit_roundtrip.hpp"

namespace ostrevane {
namespace {

using testing::compare_rewritten;
using testing::compose_roots;
using testing::emit_roots;
using testing::mark_modified;

// Writes one random document as text: block mappings and sequences (compact
// and indentless ones too), flow collections, scalars in every style,
// anchors, aliases, tags, and comments above, beside and after nodes.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::string document() {
    out_.clear();
    anchors_.clear();
    pending_ = 0;
    if (chance(20)) out_ += "# leading comment\n";
    if (chance(50)) {
      block_mapping(0, 0);
    } else {
      block_sequence(0, 0);
    }
    if (chance(20)) out_ += "# trailing comment\n";
    return out_;
  }

 private:
  bool chance(int percent) { return static_cast<int>(rng_() % 100) < percent; }
  int pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }
  void indent(int n) { out_.append(static_cast<std::size_t>(n), ' '); }

  std::string word() {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "port",
                                         "host",  "name", "x",     "zeta",  "ünïcode"};
    return kWords[pick(10)];
  }

  std::string comment() {
    static const char* const kTexts[] = {"note", "why this", "", "TODO: fix", "#hash"};
    return kTexts[pick(5)];
  }

  void maybe_head_comments(int n) {
    if (chance(15)) out_ += "\n";
    if (chance(20)) {
      indent(n);
      out_ += "# " + comment() + "\n";
    }
  }

  void maybe_inline_comment() {
    if (chance(25)) {
      indent(1 + pick(3));
      out_ += "# " + comment();
    }
  }

  // Properties for a node that may carry them. An anchor is known to
  // aliases only once its node is complete: `defined` receives its name.
  std::string properties(std::string* defined) {
    std::string p;
    if (chance(10)) p += "!t" + std::to_string(pick(3)) + " ";
    if (chance(10)) {
      const std::string name = "a" + std::to_string(anchors_.size() + pending_++);
      *defined = name;
      p += "&" + name + " ";
    }
    return p;
  }

  void define(std::string name) {
    if (name.empty()) return;
    --pending_;
    anchors_.push_back(std::move(name));
  }

  // A scalar on the current line (no line break after it).
  std::string flow_scalar(bool in_flow) {
    switch (pick(in_flow ? 7 : 8)) {
      case 0:
        return "'" + word() + " it''s'";
      case 1:
        return "\"" + word() + "\\t\\u00e9\"";
      case 2:
        return std::to_string(pick(1000));
      case 3:
        if (!anchors_.empty())
          return "*" + anchors_[static_cast<std::size_t>(pick(static_cast<int>(anchors_.size())))];
        return word();
      case 4:
        // A tagged empty node in a flow collection. (In a block place
        // it is positioned at the token after it, so blank lines and
        // comments around it attach differently from one round to the next.)
        return "[!!str , " + word() + "]";
      case 5:
        return word() + " " + word();
      case 6:
        return "[" + word() + ", " + std::to_string(pick(9)) + "]";
      default:
        return "{" + word() + ": " + word() + "}";
    }
  }

  // A value after "key:" or "- " at indentation n (content deeper than n).
  void value(int n, int depth, bool after_dash) {
    const int kind = depth >= 4 ? pick(3) : pick(8);
    switch (kind) {
      case 0:
      case 1: {
        std::string name;
        const std::string p = properties(&name);
        const std::string scalar = flow_scalar(false);
        // An alias takes no properties.
        out_ += " " + (scalar.starts_with('*') ? scalar : p + scalar);
        if (!scalar.starts_with('*')) define(name);
        if (scalar.starts_with('*') && !name.empty()) --pending_;
        maybe_inline_comment();
        out_ += "\n";
        return;
      }
      case 2: {
        // Block scalars, and the multi-line forms the emitter must rewrite.
        switch (pick(4)) {
          case 0:
            out_ += " |\n";
            indent(n + 2);
            out_ += word() + "\n";
            indent(n + 2);
            out_ += word() + " " + word() + "\n";
            return;
          case 1:
            out_ += " >\n";
            indent(n + 2);
            out_ += word() + "\n\n";
            indent(n + 2);
            out_ += word() + "\n";
            return;
          case 2:
            out_ += " " + word() + "\n\n";
            indent(n + 2);
            out_ += word() + "\n";
            return;
          default:
            out_ += " '" + word() + "\n\n";
            indent(n + 2);
            out_ += word() + "'\n";
            return;
        }
      }
      case 3: {
        // A comment on the introducer line, the value below.
        out_ += " # " + comment() + "\n";
        indent(n + 2);
        out_ += word() + "\n";
        return;
      }
      case 4:
      case 5: {
        std::string name;
        const std::string p = properties(&name);
        out_ += p.empty() ? "" : " " + p.substr(0, p.size() - 1);
        maybe_inline_comment();
        out_ += "\n";
        block_mapping(n + 2, depth + 1);
        define(name);
        return;
      }
      default: {
        maybe_inline_comment();
        out_ += "\n";
        // Indentless under a key, indented under a dash.
        block_sequence(after_dash || chance(50) ? n + 2 : n, depth + 1);
        return;
      }
    }
  }

  void block_mapping(int n, int depth) {
    const int pairs = 1 + pick(4);
    for (int i = 0; i < pairs; ++i) {
      maybe_head_comments(n);
      indent(n);
      out_ += word() + std::to_string(i);
      out_ += ":";
      value(n, depth, false);
    }
  }

  void block_sequence(int n, int depth) {
    const int items = 1 + pick(4);
    for (int i = 0; i < items; ++i) {
      maybe_head_comments(n);
      indent(n);
      out_ += "-";
      if (depth < 4 && chance(15)) {
        // A compact mapping on the dash line.
        out_ += " " + word() + ": " + word() + "\n";
        indent(n + 2);
        out_ += word() + "x: " + std::to_string(pick(9)) + "\n";
        continue;
      }
      value(n, depth, true);
    }
  }

  std::mt19937 rng_;
  std::string out_;
  std::vector<std::string> anchors_;
  std::size_t pending_ = 0;  // anchors opened on nodes not complete yet
};

TEST(EmitRandom, ComposeEmitComposeKeepsContentAndComments) {
  int checked = 0;
  for (std::uint32_t seed = 1; seed <= 5000; ++seed) {
    Generator gen(seed);
    const std::string text = gen.document();
    auto first = compose_roots(text);
    ASSERT_TRUE(first.has_value())
        << "seed " << seed << ": generated text does not compose: " << first.error().message
        << " at line " << first.error().span.line + 1 << "\n"
        << text;
    NodeList roots = std::move(*first);
    for (YamlNode& root : roots) mark_modified(root);
    const std::string written = emit_roots(roots);
    auto second = compose_roots(written);
    ASSERT_TRUE(second.has_value())
        << "seed " << seed << ": written text does not compose: " << second.error().message
        << " at line " << second.error().span.line + 1 << "\ninput:\n"
        << text << "\nwritten:\n"
        << written;
    ASSERT_EQ(roots.size(), second->size()) << "seed " << seed;
    for (std::size_t i = 0; i < roots.size(); ++i) {
      const std::string diff = compare_rewritten(roots[i], (*second)[i], true);
      ASSERT_EQ(diff, "") << "seed " << seed << "\ninput:\n" << text << "\nwritten:\n" << written;
    }
    for (YamlNode& root : *second) mark_modified(root);
    ASSERT_EQ(emit_roots(*second), written) << "seed " << seed << ": not stable\ninput:\n" << text;
    ++checked;
  }
  EXPECT_EQ(checked, 5000);
}

}  // namespace
}  // namespace ostrevane
