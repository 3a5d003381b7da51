// Schema validation on the roads of loads.
//
// Input: the composed documents of a load (borrowed; only the first one is
// validated), or the text to compose them from (the plain road, which
// decoded without node trees), the schema object (borrowed; nullptr when
// absent) and the ResolverMode the load reads its values in, so that the
// schema sees what loads returns. Output: success, the conversion error of
// a schema object the serialiser cannot convert (unchanged, e.g.
// OstrevaneUnserializableError), a composer error (OstrevaneParseError), or
// one OstrevaneSchemaError for the first failure: "schema validation
// failed: {message} at {path} (line {l}, column {c})" with the attributes
// schema_path, line and column (1-based). Lock held; runs no Python code
// beyond the schema's conversion.
#pragma once

#include <span>
#include <string_view>

#include "ffi/errors.hpp"
#include "resolver/resolver.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::ffi {

[[nodiscard]] PyResult<void> validate_documents_against_schema(std::span<const YamlNode> documents,
                                                               PyObject* schema, ResolverMode mode);

// Composes `text` again and validates its first document, empty or not, as
// the plain road returns it.
[[nodiscard]] PyResult<void> validate_text_against_schema(std::string_view text, PyObject* schema,
                                                          ResolverMode mode);

}  // namespace ostrevane::ffi
