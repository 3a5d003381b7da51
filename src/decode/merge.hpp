// Merge keys ("<<: *base", "<<: [*a, *b]") on finished Value trees.
//
// While decoding, every scalar that resolves as a merge becomes a merge
// marker; afterwards `apply_merges` rebuilds each mapping that holds one.
// Input and output are whole trees owned by the caller; the pass never fails.
// Subtrees shared through aliases are processed once and stay shared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "value/value.hpp"

namespace ostrevane {

inline constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

// Tagged("tag:yaml.org,2002:merge", String "<<"), all of it static text.
[[nodiscard]] Value merge_key_marker();

[[nodiscard]] inline bool is_merge_marker(const Value& v) noexcept {
  return v.kind() == ValueKind::Tagged && v.tag() == kMergeTag;
}

// Whether the loaded values keep their custom tags. When the loader drops
// them (no tag callback and no tag objects), merging must see what will be
// loaded: a tagged key and the same untagged key end up one dict key (else
// a merged key would overwrite the explicit one), and a tagged mapping is a
// mapping to merge. Kept, a tagged key is its own key and a tagged source
// is left under "<<". Called, the tags go to callbacks whose results decide
// what merges (a source that still is a mapping after its callback is
// merged), so merging waits for them: the merge keys stay in their mappings,
// as merge markers, for the conversion to apply. (Called tags reach Python
// with their %TAG expansions, which the alias budget then counts per use:
// util/alias_budget.hpp.)
enum class LoadedTags : std::uint8_t { Kept, Dropped, Called };

// Applies every merge key in `v` (with Called, leaves the merge keys of
// mappings in place); merge markers anywhere else, in keys, values and
// items, become the plain text "<<".
void apply_merges(Value& v, LoadedTags loaded_tags = LoadedTags::Kept);

// Replaces every merge marker anywhere in `v` by the text "<<".
void normalize_merge_tags(Value& v);

// Appends the identity of `v` as a merge key: unlike canonical_key it tells
// 1, true and 1.0 apart. Schema validation calls it with an empty buffer.
void value_key_string(std::string& out, const Value& v);

// value_key_string, except that a key the loaded dict takes for a number
// equal to another (1, true and 1.0) has that number's identity: the key
// identity merging uses.
void merged_key_string(std::string& out, const Value& v);

}  // namespace ostrevane
