// Node trees to JSON values: how schema checks see YAML data.
//
// Input: a YamlNode subtree (borrowed, read only; after the validation
// pre-passes, so normally alias-free) and the ResolverMode the load reads its
// scalars in. Output: an owned `Value` that uses only Null, Bool, Int, BigInt,
// Float, String, Sequence and Mapping, the model the schema itself is
// converted to, so both sides compare with json_equal. Scalars are typed here
// and nowhere else in validation: resolve_plain_scalar under the mode, with
// the node's tag; dates stay Strings; collection tags are ignored; a mapping
// keeps duplicate keys as separate pairs. Nothing fails.
#pragma once

#include <string>

#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"
#include "value/value.hpp"

namespace ostrevane::schema {

// The node alone, without its children: a collection gives an empty
// Sequence or Mapping. The instance value of the type, number and string
// checks.
[[nodiscard]] Value node_to_shallow_value(const YamlNode& node, ResolverMode mode);

// The whole subtree; every level through with_stack_guard. `cut_off`, when
// given, is set to true when the subtree holds a node that the pre-passes'
// limits cut off (see prepass.hpp), left alone otherwise.
[[nodiscard]] Value node_to_json_value_guarded(const YamlNode& node, ResolverMode mode,
                                               bool* cut_off = nullptr);

// The identity of a key node for merging: merged_key_string of its Value, so
// plain true and True are one key, and so are 1, true and 1.0; 1 and "1"
// are not.
[[nodiscard]] std::string node_key_string(const YamlNode& key, ResolverMode mode);

}  // namespace ostrevane::schema
