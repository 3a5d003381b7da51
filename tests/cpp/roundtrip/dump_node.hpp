// Test-only one-line form of node trees, for tables of expected results:
//   a  'a'  "a"  |a\n  >a\n     scalars by style (line feeds as \n)
//   *x  ~                       alias, null
//   seq[a,b]  fseq[a,b]         block and flow sequences
//   map{k:v}  fmap{k:v}         block and flow mappings; ?k for an explicit key
//   &x !t a                     anchor and tag before the node
// With comments, a node's comment fields follow it in parentheses, only
// those that are set: (b2 h[%top,text,^below] i"text"/3 iv pad1 c f[a,b] raw"..")
// for blank_before, head (% marks above_marker, ^ below_introducer), inline with its
// spaces, inline_before_value, value_pad, compact, foot and raw.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/node.hpp"

namespace ostrevane::testing {

inline void append_escaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
}

inline void append_comments(std::string& out, const Comments& c, bool with_raw) {
  std::string s;
  const auto sep = [&] {
    if (!s.empty()) s += ' ';
  };
  if (c.blank_before) sep(), s += "b" + std::to_string(c.blank_before);
  if (!c.head().empty()) {
    sep();
    s += "h[";
    for (std::size_t i = 0; i < c.head().size(); ++i) {
      if (i) s += ',';
      if (c.head()[i].above_marker) s += '%';
      if (c.head()[i].below_introducer) s += '^';
      s += c.head()[i].text;
    }
    s += ']';
  }
  if (c.inline_comment()) {
    sep();
    s += "i\"" + *c.inline_comment() + "\"/" + std::to_string(c.inline_spaces);
  }
  if (c.inline_before_value) sep(), s += "iv";
  if (c.value_pad) sep(), s += "pad" + std::to_string(c.value_pad);
  if (c.compact) sep(), s += "c";
  if (!c.foot().empty()) {
    sep();
    s += "f[";
    for (std::size_t i = 0; i < c.foot().size(); ++i) {
      if (i) s += ',';
      s += c.foot()[i];
    }
    s += ']';
  }
  if (with_raw && c.raw()) {
    sep();
    s += "raw\"";
    append_escaped(s, *c.raw());
    s += '"';
  }
  if (!s.empty()) out += "(" + s + ")";
}

// An explicit stack: trees of any depth. Each frame is a node still to
// print, or a piece of punctuation to write after the children before it.
inline std::string dump_node(const YamlNode& root, bool with_comments = false,
                             bool with_raw = false) {
  struct Item {
    const YamlNode* node;
    std::string_view text;  // written as is when node is null
  };
  std::string out;
  std::vector<Item> work{{&root, {}}};
  std::deque<std::string> closers;  // keeps the closing texts alive (a deque never moves them)
  while (!work.empty()) {
    const Item item = work.back();
    work.pop_back();
    if (item.node == nullptr) {
      out += item.text;
      continue;
    }
    const YamlNode& n = *item.node;
    if (n.explicit_key) out += '?';
    if (n.anchor()) out += "&" + *n.anchor() + " ";
    if (n.tag()) out += *n.tag() + " ";
    std::string suffix;
    if (with_comments) append_comments(suffix, n.comments, with_raw);
    switch (n.kind()) {
      case NodeKind::Scalar:
        switch (n.scalar_style()) {
          case ScalarStyle::Plain:
            break;
          case ScalarStyle::SingleQuoted:
            out += '\'';
            break;
          case ScalarStyle::DoubleQuoted:
            out += '"';
            break;
          case ScalarStyle::Literal:
            out += '|';
            break;
          case ScalarStyle::Folded:
            out += '>';
            break;
        }
        append_escaped(out, n.text());
        if (n.scalar_style() == ScalarStyle::SingleQuoted) out += '\'';
        if (n.scalar_style() == ScalarStyle::DoubleQuoted) out += '"';
        out += suffix;
        break;
      case NodeKind::Alias:
        out += "*" + std::string(n.text()) + suffix;
        break;
      case NodeKind::Null:
        out += "~" + suffix;
        break;
      case NodeKind::Sequence:
      case NodeKind::Mapping: {
        const bool map = n.kind() == NodeKind::Mapping;
        const bool flow = n.style == CollectionStyle::Flow;
        out += flow ? (map ? "fmap{" : "fseq[") : (map ? "map{" : "seq[");
        closers.push_back(std::string(map ? "}" : "]") + suffix);
        work.push_back({nullptr, closers.back()});
        const auto children = n.children();
        for (std::size_t i = children.size(); i-- > 0;) {
          work.push_back({&children[i], {}});
          if (i > 0) work.push_back({nullptr, map && i % 2 == 1 ? ":" : ","});
        }
        // Mapping: k0 ':' v0 ',' k1 ':' v1; the loop pushes in reverse.
        break;
      }
    }
  }
  return out;
}

inline std::string dump_nodes(const NodeList& roots, bool with_comments = false,
                              bool with_raw = false) {
  std::string out;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (i) out += " | ";
    out += dump_node(roots[i], with_comments, with_raw);
  }
  return out;
}

}  // namespace ostrevane::testing
