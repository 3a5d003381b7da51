// Schema validation on the roads of loads.
//
// Input: the composed documents of a load (borrowed; only the first one is
// validated), or the text to compose them from (the plain road, which
// decoded without node trees), the schema object (borrowed; nullptr when
// absent) and the ResolverMode the load reads its values in, so that the
// schema sees what loads returns. Output: success, the conversion error of
// a schema object the serialiser cannot convert (unchanged, e.g.
// OstrevaneUnserializableError), an OstrevaneSchemaError without position
// for a schema refused as such (nested past the depth limit, an object
// inside itself, more nodes than limits::kSchemaNodeBudget with each shared
// part counted at every place), a composer error (OstrevaneParseError), or
// one OstrevaneSchemaError for the first failure: "schema validation
// failed: {message} at {path} (line {l}, column {c})" with the attributes
// schema_path, line and column (1-based). Lock held; runs no Python code
// beyond the schema's conversion.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "decode/decoder.hpp"
#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

[[nodiscard]] PyResult<void> validate_documents_against_schema(std::span<const YamlNode> documents,
                                                               PyObject* schema, ResolverMode mode);

// The plain road: validates the first decoded document of `stream`, read
// from `text`. Its values are checked directly when they are what the
// composed tree would show (no alias, merge key or tag in the text, no
// timestamp, non-text or repeated key); a failure found there is reported
// at the position its node has in the composed text, read from the tokens
// up to that node (schema/locate.hpp) or, where they cannot tell, from the
// text composed again, without a second validation. Otherwise the text is composed again and its first document,
// empty or not, validated as the plain road returns it (merge keys as its
// decoder reads them).
[[nodiscard]] PyResult<void> validate_decoded_against_schema(std::string_view text,
                                                             const DecodedStream& stream,
                                                             PyObject* schema, ResolverMode mode);

// Test hook: with `composed_only`, the plain road always composes the text
// again. Returns how many documents the decoded values were checked for so
// far, and for how many failures found there the position was read from
// the tokens, without composing.
struct SchemaRoadCounts {
  std::uint64_t value_verdicts;
  std::uint64_t located_failures;
};
SchemaRoadCounts set_composed_schema_road_for_test(bool composed_only);

}  // namespace ostrevane::ffi
