// Validation pre-passes: the tree a schema is meant to see.
//
// Input: the root of one composed document (borrowed, never touched) and the
// ResolverMode its scalars are read in. Output: a private, owned copy with
// every alias replaced by a copy of the node it means and every merge key
// ("<<") replaced by the pairs it merges in, which the validator reads:
// each node's kind, scalar text and style, tag and start position.
//
// - An alias means the nearest complete definition of its name before it
//   (AnchorIndex), the node loads gives it; the copy of that node takes the
//   alias's position, its children keep their own.
// - Merge keys follow loads: ordinary keys win over merged ones, an earlier
//   source over a later one, and inside one source the last value of a
//   repeated key wins (at the key's first position). What cannot be merged
//   stays under a plain "<<" key.
// - Which keys merge follows the road: the node roads merge every key
//   tagged "!!merge"; the plain road merges what its decoder merges, where
//   that tag counts only under YAML 1.1 rules (MergeRule).
// - Repeated keys follow loads too: keys that loads' dict takes for one
//   (Python-equal scalars: 1, 1.0 and 0x1; not '1' and 1) are one member, at
//   the first key's position, with the last value (and its position).
// - Limits: more than limits::kNodeAliasDepth nested aliases, or more than
//   AliasBudget::for_node_trees() allows (limits::kNodeAliasBudget nodes,
//   limits::kAliasByteBudget bytes of scalar and tag text) copied, cut the
//   copy off. A node cut off
//   becomes a cut-off marker (an alias without a name, which no composed
//   tree holds and no expanded one keeps), which the validator reports
//   ("value could not be validated ...") instead of reading it as null; a
//   mapping whose merge source was cut off is cut off itself, since its
//   keys are unknown.
// - A document without aliases, merge keys and repeated keys needs no copy
//   (needs_preparation): it is validated as it is, whatever its size.
//
// Collections of the copy keep span and tag only (end = start, no comments,
// anchors, styles or flags). Every recursive step runs through
// with_stack_guard.
#pragma once

#include <cstdint>

#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::schema {

// Which mapping keys are merge keys: is_merge_key (the node roads) or
// is_decoded_merge_key (the plain road's decoder).
enum class MergeRule : std::uint8_t { Tagged, Decoded };

[[nodiscard]] bool is_merge_key(const YamlNode& key, ResolverMode mode, MergeRule rule) noexcept;

// True when `root` holds an alias, a merge key or a mapping with a repeated
// key, so that validation must read prepare_document's copy instead of the
// tree itself.
[[nodiscard]] bool needs_preparation(const YamlNode& root, ResolverMode mode,
                                     MergeRule rule = MergeRule::Tagged);

// The document as validation sees it: aliases expanded, merge keys applied.
[[nodiscard]] YamlNode prepare_document(const YamlNode& root, ResolverMode mode,
                                        MergeRule rule = MergeRule::Tagged);

// True for the markers that stand where the limits cut the copy off.
[[nodiscard]] inline bool is_cut_off(const YamlNode& node) noexcept {
  return node.kind() == NodeKind::Alias && node.text().empty();
}

}  // namespace ostrevane::schema
