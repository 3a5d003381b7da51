// YAML 1.1 passes over node trees, and the head of an upgraded text.
#include <charconv>
#include <cmath>

#include "emit_util/plain_safety.hpp"
#include "emit_util/scalar_text.hpp"
#include "resolver/big_int.hpp"
#include "roundtrip/passes/passes.hpp"
#include "util/limits.hpp"

namespace ostrevane {

namespace {

OptionalTag tag_of(const YamlNode& node) noexcept {
  const std::string* tag = node.read_tag();
  if (tag == nullptr) return std::nullopt;
  return std::string_view(*tag);
}

void append_decimal(std::string& out, std::uint64_t n) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, r.ptr);
}

std::string int_text(std::int64_t n) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

// Pre-order over a tree with an explicit stack: the node, then its children
// in order (a mapping's key before its value).
template <class Node, class Visit>
void visit_preorder(Node& root, Visit&& visit) {
  std::vector<Node*> stack{&root};
  std::vector<Node*> children;
  while (!stack.empty()) {
    Node* node = stack.back();
    stack.pop_back();
    visit(*node);
    children.clear();
    push_children(*node, children);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
}

// The YAML 1.2 text of a BigInt, or nothing when it is too long to convert
// cheaply. Decimal conversion of a long literal in another base is
// quadratic: past the length where Python itself refuses decimal text, a
// non-negative value is written in hexadecimal, which YAML 1.2 reads as
// the same integer, and a negative one is left alone.
std::optional<std::string> big_int_text_12(const Value& v) {
  const std::string_view digits = v.text();
  const std::uint8_t base = v.big_int_base();
  if (base == 10 || big_int_decimal_digits_bound(digits, base) <= limits::kBigIntDecimalDigits) {
    return big_int_decimal_text(v);
  }
  if (digits.starts_with('-')) return std::nullopt;
  std::string hex = "0x";
  append_big_int_canonical(hex, digits, base);
  return hex;
}

// The new text of a plain scalar read as `r1` under YAML 1.1 and as `r2`
// under YAML 1.2, or nothing when the two mean the same (or `r1` is a
// string, which the caller handles).
std::optional<std::string> upgraded_text(const Value& r1, const Value& r2) {
  const bool same_kind = r1.kind() == r2.kind();
  switch (r1.kind()) {
    case ValueKind::Bool:
      if (same_kind && r1.as_bool() == r2.as_bool()) return std::nullopt;
      return std::string(r1.as_bool() ? "true" : "false");
    case ValueKind::Int:
      if (same_kind && r1.as_int() == r2.as_int()) return std::nullopt;
      return int_text(r1.as_int());
    case ValueKind::BigInt:
      if (same_kind && r1 == r2) return std::nullopt;
      return big_int_text_12(r1);
    case ValueKind::Float:
      // NaN never equals itself, so a 1.1 NaN is always written ".nan".
      if (same_kind && r1.as_float() == r2.as_float()) return std::nullopt;
      return format_float(r1.as_float());
    case ValueKind::Null:
      if (same_kind) return std::nullopt;
      return std::string("null");
    default:
      return std::nullopt;
  }
}

void upgrade_scalar(YamlNode& node, ResolverMode mode, bool prefer_double_quotes) {
  if (node.kind() != NodeKind::Scalar || node.scalar_style() != ScalarStyle::Plain) return;
  const OptionalTag tag = tag_of(node);
  const Value r1 = resolve_plain_scalar(mode, node.text(), true, tag);
  const Value r2 = resolve_plain_scalar(ResolverMode::Yaml12, node.text(), true, tag);
  if (r1.kind() == ValueKind::String) {
    if (r2.kind() == ValueKind::String) return;
    // A string under 1.1 that YAML 1.2 would read as something else: quoted,
    // it stays the string it was.
    ScalarStyle style =
        choose_assigned_style(node.text(), prefer_double_quotes, ResolverMode::Yaml12);
    if (style == ScalarStyle::Plain) style = ScalarStyle::DoubleQuoted;
    node.set_scalar_style(style);
    node.comments.modified = true;
    return;
  }
  std::optional<std::string> text = upgraded_text(r1, r2);
  if (!text) return;
  node.edit_text() = std::move(*text);
  node.comments.modified = true;
}

// The length of the line at `pos`, its LF included.
std::size_t line_length(std::string_view text, std::size_t pos) noexcept {
  const std::size_t lf = text.find('\n', pos);
  return lf == std::string_view::npos ? text.size() - pos : lf + 1 - pos;
}

// A line of blanks only, or a comment line.
bool is_blank_or_comment(std::string_view line) noexcept {
  for (const char c : line) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '#';
  }
  return true;
}

bool is_comment_line(std::string_view line) noexcept {
  const std::size_t at = line.find_first_not_of(" \t");
  return at != std::string_view::npos && line[at] == '#';
}

bool is_document_start(std::string_view line) noexcept {
  if (!line.starts_with("---")) return false;
  return line.size() == 3 || line[3] == '\n' || line[3] == '\r' || line[3] == ' ';
}

}  // namespace

void collect_1_1_warnings(std::span<const YamlNode> roots, ResolverMode mode,
                          std::vector<std::string>& warnings) {
  if (mode == ResolverMode::Yaml12) return;
  for (const YamlNode& root : roots) {
    visit_preorder(root, [&](const YamlNode& node) {
      if (node.kind() != NodeKind::Scalar) return;
      const auto diff = resolution_difference(
          mode, node.text(), node.scalar_style() == ScalarStyle::Plain, tag_of(node));
      if (!diff) return;
      std::string text = "YAML 1.1 syntax '";
      text.append(node.text());
      text.append("' resolves as ").append(diff->first);
      text.append(" in 1.1 but ").append(diff->second);
      text.append(" in 1.2 at line ");
      append_decimal(text, std::uint64_t{node.span.line} + 1);
      text.append(", column ");
      append_decimal(text, std::uint64_t{node.span.column} + 1);
      warnings.push_back(std::move(text));
    });
  }
}

void upgrade_scalars_1_1(YamlNode& root, ResolverMode mode, bool prefer_double_quotes) {
  if (mode == ResolverMode::Yaml12) return;
  visit_preorder(root, [&](YamlNode& node) { upgrade_scalar(node, mode, prefer_double_quotes); });
}

ScalarStyle choose_assigned_style(std::string_view text, bool prefer_double_quotes,
                                  ResolverMode mode, bool timestamps) noexcept {
  if (!plain_needs_quotes(text, mode) && !(timestamps && looks_like_timestamp(text))) {
    return ScalarStyle::Plain;
  }
  if (prefer_double_quotes || text.find('\'') != std::string_view::npos) {
    return ScalarStyle::DoubleQuoted;
  }
  return is_single_line_printable(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

void write_upgraded_text(std::string_view text, OutputBuffer& out) {
  const std::size_t start = text.size() > 2 && text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  // The prologue: directives, comments and blank lines before the first
  // "---" or content line. Its %YAML lines go and the rest stays; a comment
  // above the old directive must not leave that directive behind the new
  // "---". Comment lines that lead the text, above every directive, "---"
  // and content line, stay above the new directive, where the emitter keeps
  // a root's lines that stood above its marker (and where a schema
  // reference is looked for); a text of comments alone gets it first.
  std::vector<std::string_view> removed;
  std::size_t pos = start;
  std::size_t insert_at = start;
  bool leading_comment = false;  // a comment line before every directive
  bool marked = false;           // a directive or the end of the prologue seen
  bool document_start = false;
  while (pos < text.size()) {
    const std::string_view line = text.substr(pos, line_length(text, pos));
    const bool directive = line.starts_with('%');
    const bool prologue = directive || is_blank_or_comment(line);
    if (!marked && (directive || !prologue)) {
      marked = true;
      if (leading_comment) insert_at = pos;
    }
    if (!prologue) {
      document_start = is_document_start(line);
      break;
    }
    if (line.starts_with("%YAML")) removed.push_back(line);
    leading_comment = leading_comment || (!marked && is_comment_line(line));
    pos += line.size();
  }
  out.reserve(out.size() + text.size() + 16);
  out.append(text.substr(0, insert_at));
  out.append("%YAML 1.2\n");
  if (!document_start) out.append("---\n");
  std::size_t kept_from = insert_at;
  for (const std::string_view line : removed) {
    const auto at = static_cast<std::size_t>(line.data() - text.data());
    out.append(text.substr(kept_from, at - kept_from));
    kept_from = at + line.size();
  }
  out.append(text.substr(kept_from));
}

}  // namespace ostrevane
