// Passes over composed node trees: duplicate keys, YAML 1.1 against 1.2.
//
// Input: document roots as the composer (or directive expansion) made them,
// and the ResolverMode the text was loaded with. Output: the first repeated
// mapping key as a DecodeError, or one warning text per repeat; one warning
// per scalar whose type differs between the YAML 1.1 and 1.2 readings; and
// the upgrade, which rewrites plain scalars in place so that the tree means
// under YAML 1.2 what it meant under 1.1, marking each changed node
// `modified` so that the document is emitted again.
//
// Invariants: only the upgrade changes a tree; the other passes read it.
// Keys compare by `canonical_key` of the decoder on the Value a scalar
// resolves to, so two keys collide here exactly when the plain decoder (and
// Python's dict) would take them for one: 1, 1.0, 0x1 and true are one key,
// 2e19 and 20000000000000000000 are one key, the quoted '1' is another.
// Merge keys (the conversions' test: a "!!merge" tag, or an untagged plain "<<") are
// never reported; a quoted "<<" is an ordinary key. Each mapping's keys are
// built into one buffer reused for every mapping at the same depth; up to
// kLinearKeyCompare pairs compare linearly, larger mappings through a hash
// set. The walks run every level through with_stack_guard or keep an
// explicit stack, so no depth exhausts the native stack. Nothing here
// touches Python.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "decode/decoder.hpp"
#include "emit_util/output_buffer.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

// A merge key: a tag "!!merge" or "tag:yaml.org,2002:merge" (kind and text
// not looked at), or no tag and a plain Scalar whose text is exactly "<<".
[[nodiscard]] bool is_merge_key(const YamlNode& key) noexcept;

// A merge key as the plain decoder reads one under `mode`: a scalar or empty
// node that resolves to a merge, so a "!!merge" tag counts only under YAML
// 1.1 rules.
[[nodiscard]] bool is_decoded_merge_key(const YamlNode& key, ResolverMode mode) noexcept;

// ---- duplicate keys

// Appends the canonical key of `node` under `mode`: scalars by the value they
// resolve to (a tagged empty node like its empty text), aliases by name (not
// followed), sequences and mappings by their items and pairs in order.
void append_node_canonical_key(std::string& out, const YamlNode& node, ResolverMode mode);

// Mappings up to this many pairs compare their keys pairwise: cheaper than
// hashing for the small mappings that most documents hold.
inline constexpr std::size_t kLinearKeyCompare = 8;

// The canonical keys of one mapping, built into one buffer that is reused
// from mapping to mapping. A merge key gets no text and never repeats.
class MappingKeys {
 public:
  // `decoded_merges`: merge keys as is_decoded_merge_key reads them, instead
  // of is_merge_key.
  void build(const YamlNode& mapping, ResolverMode mode, bool decoded_merges = false);
  [[nodiscard]] bool is_merge(std::size_t i) const noexcept { return merge_[i]; }
  [[nodiscard]] std::string_view text(std::size_t i) const noexcept;
  // True when key i equals an earlier key. Asked for i = 0, 1, ... in order,
  // once each after build (large mappings remember the keys asked so far).
  [[nodiscard]] bool repeats_earlier(std::size_t i);
  // True when any key repeats; asked once, instead of repeats_earlier.
  [[nodiscard]] bool any_repeat();

 private:
  std::string keys_;
  std::vector<std::size_t> ends_;  // key i ends at ends_[i] in keys_
  std::vector<bool> merge_;
  std::unordered_set<std::string_view> seen_;
  bool hashed_ = false;
};

// The first repeated key over the roots in order (pre-order; within a
// mapping a repeat is found after anything inside the pairs before it): the
// error "duplicate mapping key: {}" at the repeated key's span, naming a
// scalar key by its text and any other key by its debug text.
[[nodiscard]] std::optional<DecodeError> find_first_duplicate_key(std::span<const YamlNode> roots,
                                                                  ResolverMode mode);

// One warning "duplicate mapping key '{}' at line {}, column {}; keeping the
// last value" per repeat (a key seen three times warns twice), appended in
// walk order.
void collect_duplicate_key_warnings(std::span<const YamlNode> roots, ResolverMode mode,
                                    std::vector<std::string>& warnings);

// ---- YAML 1.1 against YAML 1.2

// One warning "YAML 1.1 syntax '{}' resolves as {} in 1.1 but {} in 1.2 at
// line {}, column {}" per scalar whose type name differs between `mode` and
// YAML 1.2 (nothing when the 1.1 reading is a string), in pre-order over the
// roots, keys included.
void collect_1_1_warnings(std::span<const YamlNode> roots, ResolverMode mode,
                          std::vector<std::string>& warnings);

// Rewrites each plain scalar of the tree whose value under `mode` differs
// from its YAML 1.2 reading into the YAML 1.2 spelling of its `mode` value
// ("yes" to "true", "1_000" to "1000", "017" to "15", "1:30" to "90"), and
// marks it modified. A scalar that `mode` reads as a string but YAML 1.2 as
// something else ("0o17") keeps its text and gets the quoting style of an
// assigned string, so it stays a string. Nothing happens under YAML 1.2.
void upgrade_scalars_1_1(YamlNode& root, ResolverMode mode, bool prefer_double_quotes);

// The style of a string assigned into a tree: Plain when the text can stand
// plain under `mode`; else DoubleQuoted when double quotes are preferred or
// the text holds "'"; else SingleQuoted when the text fits one printable
// line, DoubleQuoted otherwise. With `timestamps` (the reader takes plain
// dates for timestamps), a text that looks like a date is never Plain.
[[nodiscard]] ScalarStyle choose_assigned_style(std::string_view text, bool prefer_double_quotes,
                                                ResolverMode mode,
                                                bool timestamps = false) noexcept;

// The head of an upgraded document's text, written to `out`: `text` with its
// leading %YAML directive lines removed and "%YAML 1.2\n" put after the
// comment lines that lead the text (after a byte-order mark; first when the
// text holds nothing else), followed by "---\n" unless the prologue ends at
// a document-start line. The prologue runs up to the first line that is not
// a directive, a comment or blank; other directives (%TAG) and the comment
// and blank lines stay where they were.
void write_upgraded_text(std::string_view text, OutputBuffer& out);

}  // namespace ostrevane
