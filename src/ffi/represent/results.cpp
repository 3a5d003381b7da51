// Callback results to nodes: the descriptor a `represent` callback returned
// becomes the object's node. A style the caller chose is honoured only when
// the text reads back unchanged in it (an untagged plain text also as the
// same string, not as null, a boolean, a number or a merge key), else
// refused with the reason; the
// automatic style is the default scalars' choice, and with a tag drops a
// standard tag that the written text implies anyway.
#include <array>
#include <string_view>

#include "emit_util/detail/unprintable.hpp"
#include "emit_util/plain_safety.hpp"
#include "emit_util/scalar_text.hpp"
#include "ffi/represent/descriptors.hpp"
#include "ffi/represent/represent.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::array<std::string_view, 5> kStyleNames = {"plain", "single", "double", "literal",
                                                         "folded"};

// Characters that open something other than a plain scalar wherever they
// stand first.
struct LeadIndicatorTable {
  bool at[256] = {};
  constexpr LeadIndicatorTable() {
    for (unsigned char c : std::string_view("!\"#%&'*,>@[]`{|}")) at[c] = true;
  }
};
constexpr LeadIndicatorTable kLeadIndicator;

// What the style checks need to know of a text, from one pass.
struct TextFacts {
  bool lf = false;
  bool cr = false;
  bool tab = false;
  bool other_control = false;  // a control character other than TAB, LF and CR
  bool unicode_break = false;  // NEL, U+2028 or U+2029
  // The first ' #' or ':' (at the end or before a space) after the first
  // character, as its refusal reason.
  std::string_view plain_marker;
};

TextFacts scan_text(std::string_view text) noexcept {
  TextFacts facts;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\n':
        facts.lf = true;
        continue;
      case '\r':
        facts.cr = true;
        continue;
      case '\t':
        facts.tab = true;
        continue;
      case '#':
        if (facts.plain_marker.empty() && i >= 1 && text[i - 1] == ' ') {
          facts.plain_marker = "it contains a ' #' comment starter";
        }
        continue;
      case ':':
        if (facts.plain_marker.empty() && i >= 1 && (i + 1 == n || text[i + 1] == ' ')) {
          facts.plain_marker = "it contains a ':' mapping indicator";
        }
        continue;
      default:
        if (ostrevane::detail::may_start_unprintable(c) &&
            ostrevane::detail::unprintable_at(text, i) != 0) {
          facts.other_control = true;
        } else if (ostrevane::detail::may_start_unicode_break(c) &&
                   ostrevane::detail::unicode_break_at(text, i) != 0) {
          facts.unicode_break = true;
        }
        continue;
    }
  }
  return facts;
}

// Only double quotes carry these to every reader (as escapes).
constexpr std::string_view kUnicodeBreakReason =
    "it contains U+0085, U+2028 or U+2029, which YAML 1.1 readers take for a line break";

std::string_view plain_refusal(std::string_view text) noexcept {
  if (text.empty()) return "an empty string has no plain rendering";
  const TextFacts facts = scan_text(text);
  if (facts.lf || facts.cr) return "a plain scalar cannot hold a line break";
  if (facts.unicode_break) return kUnicodeBreakReason;
  if (facts.tab || facts.other_control) return "it contains a tab or control character";
  if (text.starts_with("\xEF\xBB\xBF"))
    return "a leading byte order mark would be stripped on reload";
  if (text.front() == ' ' || text.back() == ' ') {
    return "leading or trailing spaces would be trimmed on reload";
  }
  const char first = text.front();
  if (kLeadIndicator.at[static_cast<unsigned char>(first)] ||
      ((first == '-' || first == '?' || first == ':') && (text.size() == 1 || text[1] == ' '))) {
    return "it begins with a YAML indicator";
  }
  if (text == "---" || text == "..." || text.starts_with("--- ") || text.starts_with("... ")) {
    return "it re-reads as a document marker";
  }
  return facts.plain_marker;
}

std::string_view block_refusal(std::string_view text, bool folded) noexcept {
  const TextFacts facts = scan_text(text);
  if (facts.cr) return "it contains a carriage return";
  if (facts.unicode_break) return kUnicodeBreakReason;
  if (facts.other_control) return "it contains a non-printable control character";
  if (folded && facts.lf) return "folding would rewrite its line breaks";
  const std::size_t first = text.find_first_not_of('\n');
  if (first != std::string_view::npos && (text[first] == ' ' || text[first] == '\t')) {
    return "its first line begins with whitespace";
  }
  return {};
}

// Why `style` cannot hold `text` so that it reads back unchanged; empty when
// it can.
std::string_view explicit_style_refusal(std::string_view text, ScalarStyle style) noexcept {
  switch (style) {
    case ScalarStyle::Plain:
      return plain_refusal(text);
    case ScalarStyle::SingleQuoted: {
      const TextFacts facts = scan_text(text);
      if (facts.lf || facts.cr) return "single quotes cannot hold a line break";
      if (facts.other_control) return "single quotes cannot escape a control character";
      if (facts.unicode_break) return kUnicodeBreakReason;
      return {};
    }
    case ScalarStyle::DoubleQuoted:
      return {};
    case ScalarStyle::Literal:
    case ScalarStyle::Folded:
      return block_refusal(text, style == ScalarStyle::Folded);
  }
  return {};
}

constexpr std::string_view kOtherValueReason =
    "a reader could take it for a value other than this string";

// An untagged plain text that passed plain_refusal reads back by the
// resolver: the writers' plain-safety rule (the one default strings follow)
// says whether some reader, under the output's mode, takes it for null, a
// boolean, a number, a merge key or the like. That rule also quotes every
// text opening with '-', '?' or ':', which plain_refusal lets through when a
// non-blank follows: of those, only numbers such as "-1" or "-.inf" read
// back as something else.
bool plain_reads_as_other_value(std::string_view text, ResolverMode mode) noexcept {
  const char first = text.front();
  if (first == '?' || first == ':') return false;
  if (first != '-') return plain_needs_quotes(text, mode);
  using Kind = ResolvedScalar::Kind;
  const Kind kind = resolve_scalar_kind(mode, text, true, std::nullopt).kind;
  return kind == Kind::Int || kind == Kind::BigInt || kind == Kind::Float ||
         resolves_as_number_11(text, mode);
}

PyError style_refused_error(ScalarStyle style, std::string_view reason) {
  std::string message = "a ";
  message += kStyleNames[static_cast<std::size_t>(style)];
  message += " scalar cannot represent this value without changing it on reload (";
  message += reason;
  message += "); use \"double\" or the default style";
  return PyError::builtin(PyExc_ValueError, std::move(message));
}

// Where a block scalar cannot stand (in a flow collection, as a key) it is
// double-quoted.
ScalarStyle in_context(ScalarStyle style, bool context) noexcept {
  if (context && (style == ScalarStyle::Literal || style == ScalarStyle::Folded)) {
    return ScalarStyle::DoubleQuoted;
  }
  return style;
}

ScalarStyle quoted_for_tag(std::string_view text) noexcept {
  return is_single_line_printable(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

struct TaggedStyle {
  ScalarStyle style;
  bool keep_tag;
};

// The automatic style of a tagged text: a standard tag that the text's own
// plain reading (or, for "!!str", its quoting) expresses is dropped, any
// other tag stays on a quoted scalar.
TaggedStyle auto_style_with_tag(const Representer& r, std::string_view text, std::string_view tag,
                                bool context) noexcept {
  using Kind = ResolvedScalar::Kind;
  const Kind kind = resolve_scalar_kind(r.mode, text, true, std::nullopt).kind;
  if ((tag == "!!null" && kind == Kind::Null) || (tag == "!!bool" && kind == Kind::Bool) ||
      (tag == "!!int" && (kind == Kind::Int || kind == Kind::BigInt)) ||
      (tag == "!!float" && kind == Kind::Float)) {
    return {ScalarStyle::Plain, false};
  }
  if (tag == "!!str") {
    if (kind == Kind::Str) {
      return {in_context(choose_scalar_style(text, r.double_quotes, r.mode), context), false};
    }
    return {quoted_for_tag(text), false};
  }
  return {quoted_for_tag(text), true};
}

PyResult<YamlNode> scalar_result(const Representer& r, const ScalarDescriptor& d,
                                 std::uint32_t depth, bool in_flow, bool is_key) {
  std::optional<std::string> tag = OSV_TRY(shorten_tag(d.tag));
  const bool context = in_flow || is_key;
  ScalarStyle style = ScalarStyle::Plain;
  if (d.style != kAutoScalarStyle) {
    style = in_context(static_cast<ScalarStyle>(d.style), context);
    std::string_view reason = explicit_style_refusal(d.value, style);
    // A tag decides what a scalar reads back as, whatever its text.
    if (reason.empty() && style == ScalarStyle::Plain && !tag &&
        plain_reads_as_other_value(d.value, r.mode)) {
      reason = kOtherValueReason;
    }
    if (!reason.empty()) return std::unexpected(style_refused_error(style, reason));
  } else if (!tag) {
    style = in_context(choose_scalar_style(d.value, r.double_quotes, r.mode), context);
  } else {
    const TaggedStyle chosen = auto_style_with_tag(r, d.value, *tag, context);
    style = chosen.style;
    if (!chosen.keep_tag) tag.reset();
  }
  // Only "!!null" on the empty text gets here: written as nothing, that
  // text would vanish from a flow collection ("[, 1]" does not load), so it
  // becomes the null node that writes itself as such.
  const bool empty_plain = style == ScalarStyle::Plain && d.value.empty() && !tag;
  YamlNode node = new_node(empty_plain ? YamlNode::null() : YamlNode::scalar(d.value, style));
  if (tag) node.set_tag(std::move(tag));
  return apply_represent_comments(std::move(node), d.comments, depth == 0);
}

PyError pair_error(const char* message) { return PyError::builtin(PyExc_ValueError, message); }

// Every pair of an OstrevaneMapping, checked and taken before any is
// represented.
PyResult<OwnedPairs> collect_pairs(PyObject* pairs) {
  OwnedItems items = OSV_TRY(collect_iterable(pairs));
  OwnedPairs out;
  out.reserve(items.size());
  for (const PyRef& item : items) {
    if (!PyTuple_Check(item.get())) {
      return std::unexpected(pair_error("a OstrevaneMapping pair must be a (key, value) tuple"));
    }
    if (PyTuple_GET_SIZE(item.get()) != 2) {
      return std::unexpected(
          pair_error("a OstrevaneMapping pair must be a (key, value) tuple of exactly two items"));
    }
    out.emplace_back(PyRef::borrow(PyTuple_GET_ITEM(item.get(), 0)),
                     PyRef::borrow(PyTuple_GET_ITEM(item.get(), 1)));
  }
  return out;
}

}  // namespace

PyResult<YamlNode> apply_represent_result(Representer& r, PyObject* result, std::uint32_t depth,
                                          bool in_flow, bool is_key) {
  if (const ScalarDescriptor* scalar = OSV_TRY(as_scalar_descriptor(result))) {
    return scalar_result(r, *scalar, depth, in_flow, is_key);
  }
  if (const CollectionDescriptor* sequence = OSV_TRY(as_sequence_descriptor(result))) {
    OwnedItems items = OSV_TRY(collect_iterable(sequence->items));
    YamlNode node = OSV_TRY(represent_sequence(r, std::move(items), depth, sequence->tag,
                                               sequence->flow, in_flow, is_key));
    return apply_represent_comments(std::move(node), sequence->comments, depth == 0);
  }
  if (const CollectionDescriptor* mapping = OSV_TRY(as_mapping_descriptor(result))) {
    OwnedPairs pairs = OSV_TRY(collect_pairs(mapping->items));
    YamlNode node = OSV_TRY(represent_mapping(r, std::move(pairs), depth, mapping->tag,
                                              mapping->flow, in_flow, is_key));
    return apply_represent_comments(std::move(node), mapping->comments, depth == 0);
  }
  return std::unexpected(PyError::builtin(
      PyExc_TypeError,
      "a represent callback must return a ostrevane.OstrevaneScalar, ostrevane.OstrevaneSequence, "
      "ostrevane.OstrevaneMapping, or None"));
}

}  // namespace ostrevane::ffi
