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
// - Limits: more than limits::kNodeAliasDepth nested aliases, or more than
//   limits::kNodeAliasBudget nodes copied, cut the copy off. A node cut off
//   becomes an empty node marked by is_cut_off, which the validator reports
//   ("value could not be validated ...") instead of reading it as null; a
//   mapping whose merge source was cut off is cut off itself, since its
//   keys are unknown.
//
// Collections of the copy keep span and tag only (end = start, no comments,
// anchors, styles or flags). Every recursive step runs through
// with_stack_guard.
#pragma once

#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::schema {

// The document as validation sees it: aliases expanded, merge keys applied.
[[nodiscard]] YamlNode prepare_document(const YamlNode& root, ResolverMode mode);

// True for the empty nodes that stand where the limits cut the copy off.
[[nodiscard]] inline bool is_cut_off(const YamlNode& node) noexcept {
  return node.kind() == NodeKind::Null && node.synthetic;
}

}  // namespace ostrevane::schema
