// Test-only (shared by the random emitter test and fuzz_emit): compares a
// composed tree with the tree composed again from its rewritten text.
//
// Kinds, texts, anchors, tags and collection sizes must agree; styles too,
// except where the emitter picks another form so that the text reads back
// the same (a line break in a plain or single-quoted text, a block scalar
// that needs an indentation indicator or stands in a flow collection, a
// tagged empty node standing alone, a null written as "null"); with
// `comments`, so must every comment text, in document order. No gtest, no
// recursion: usable from a fuzz harness.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::testing {

inline void mark_modified(YamlNode& root) {
  std::vector<YamlNode*> work{&root};
  while (!work.empty()) {
    YamlNode* node = work.back();
    work.pop_back();
    node->comments.modified = true;
    push_children(*node, work);
  }
}

// Every root written into one text, as a document's text is: "---" before a
// later root without its own marker, "..." before one with directives.
inline std::string emit_roots(
    const NodeList& roots,
    const EmitterSettings& settings = EmitterSettings::round_trip(NullStyle::Default)) {
  Emitter e(settings);
  if (!roots.empty() && roots.front().leading_bom) e.output.append("\xEF\xBB\xBF");
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (i != 0) {
      if (!roots[i].directives().empty()) {
        e.output.append("...\n");
      } else if (!roots[i].explicit_start) {
        e.output.append("---\n");
      }
    }
    emit_document(e, roots[i], i + 1 < roots.size());
  }
  apply_final_newline(e);
  return std::string(e.output.view());
}

inline std::string_view style_name(ScalarStyle s) {
  constexpr std::string_view kNames[] = {"plain", "single", "double", "literal", "folded"};
  return kNames[static_cast<int>(s)];
}

inline bool has_break(std::string_view text) {
  return text.find_first_of("\n\r") != std::string_view::npos;
}

// The style `a` may come back in. With `requoted` (a width or a quote
// preference), plain and quoted texts may also come back in the other
// quoted style.
inline bool style_may_become(ScalarStyle a, ScalarStyle b, std::string_view text,
                             bool requoted = false) {
  if (a == b) return true;
  if (requoted && a <= ScalarStyle::DoubleQuoted && b != ScalarStyle::Plain &&
      b <= ScalarStyle::DoubleQuoted) {
    return true;
  }
  switch (a) {
    case ScalarStyle::Plain:
      // Quoted where the plain form would read back as something else
      // (emit_plain); the text itself is compared anyway.
      return b <= ScalarStyle::DoubleQuoted;
    case ScalarStyle::SingleQuoted:
      return b == ScalarStyle::DoubleQuoted && has_break(text);
    case ScalarStyle::Literal:
    case ScalarStyle::Folded:
      return b == ScalarStyle::Literal || b == ScalarStyle::DoubleQuoted;
    default:
      return false;
  }
}

// Every comment text of a tree in document order: a node's head lines, its
// inline comment (before the head lines below it when it stands on the
// introducer line), its children's, its foot lines. A comment that moves to
// the node that composing gives it (the first entry's lines above a
// collection go to the collection) keeps its place in this order.
inline std::vector<std::string> comment_texts(const YamlNode& root) {
  std::vector<std::string> out;
  std::vector<std::pair<const YamlNode*, bool>> work{{&root, false}};
  while (!work.empty()) {
    auto [n, done] = work.back();
    work.pop_back();
    const Comments& c = n->comments;
    if (done) {
      for (const std::string& f : c.foot()) out.push_back(f);
      continue;
    }
    // The comment on the introducer line comes before the head lines
    // attached below it.
    const bool before = c.inline_before_value;
    for (const HeadComment& h : c.head()) {
      if (!before || !h.below_introducer) out.push_back(h.text);
    }
    if (c.inline_comment()) out.push_back(*c.inline_comment());
    for (const HeadComment& h : c.head()) {
      if (before && h.below_introducer) out.push_back(h.text);
    }
    work.emplace_back(n, true);
    const auto children = n->children();
    for (std::size_t i = children.size(); i-- > 0;) work.emplace_back(&children[i], false);
  }
  return out;
}

inline std::string join_comments(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += "[" + t + "]";
  return out;
}

// Empty when the trees agree, else the first difference found.
inline std::string compare_rewritten(const YamlNode& before, const YamlNode& after, bool comments,
                                     bool requoted = false) {
  if (comments) {
    const auto a = comment_texts(before);
    const auto b = comment_texts(after);
    if (a != b) return "comments " + join_comments(a) + " came back as " + join_comments(b);
  }
  std::vector<std::pair<const YamlNode*, const YamlNode*>> work{{&before, &after}};
  while (!work.empty()) {
    const YamlNode* a = work.back().first;
    const YamlNode* b = work.back().second;
    work.pop_back();
    const auto differ = [&](std::string what) {
      return what + " (node at line " + std::to_string(a->span.line + 1) + ", column " +
             std::to_string(a->span.column + 1) + ")";
    };
    if (a->anchor() != b->anchor()) return differ("anchor");
    if (a->tag() != b->tag()) return differ("tag");
    if (a->kind() == NodeKind::Null) {
      const bool ok = b->kind() == NodeKind::Null ||
                      (b->kind() == NodeKind::Scalar && !a->tag() && b->text() == "null" &&
                       b->scalar_style() == ScalarStyle::Plain) ||
                      (b->kind() == NodeKind::Scalar && a->tag() && b->text().empty() &&
                       b->scalar_style() == ScalarStyle::SingleQuoted);
      if (!ok) return differ("null came back as " + std::string(node_kind_name(b->kind())));
      continue;
    }
    if (a->kind() != b->kind()) {
      return differ(std::string(node_kind_name(a->kind())) + " came back as " +
                    std::string(node_kind_name(b->kind())));
    }
    switch (a->kind()) {
      case NodeKind::Scalar:
        if (a->text() != b->text()) {
          return differ("text '" + std::string(a->text()) + "' came back as '" +
                        std::string(b->text()) + "'");
        }
        if (!style_may_become(a->scalar_style(), b->scalar_style(), a->text(), requoted)) {
          return differ("style " + std::string(style_name(a->scalar_style())) + " came back " +
                        std::string(style_name(b->scalar_style())));
        }
        break;
      case NodeKind::Alias:
        if (a->text() != b->text()) return differ("alias name");
        break;
      case NodeKind::Sequence:
      case NodeKind::Mapping: {
        const auto ca = a->children();
        const auto cb = b->children();
        if (ca.size() != cb.size()) return differ("entry count");
        if (!ca.empty() && a->style != b->style) return differ("collection style");
        for (std::size_t i = ca.size(); i-- > 0;) work.emplace_back(&ca[i], &cb[i]);
        break;
      }
      case NodeKind::Null:
        break;
    }
  }
  return {};
}

}  // namespace ostrevane::testing
