#include "ffi/schema_road.hpp"

#include <optional>

#include "ffi/convert/encode.hpp"
#include "roundtrip/composer/compose.hpp"
#include "schema/validator.hpp"

namespace ostrevane::ffi {

namespace {

PyResult<void> validate_first(std::span<const YamlNode> documents, const Value& schema,
                              ResolverMode mode) {
  if (documents.empty()) return {};
  const std::optional<schema::SchemaError> failure =
      schema::validate_document(documents.front(), schema, mode);
  if (!failure) return {};
  return std::unexpected(schema_error_to_py(failure->message, failure->path, failure->span.line,
                                            failure->span.column));
}

}  // namespace

PyResult<void> validate_documents_against_schema(std::span<const YamlNode> documents,
                                                 PyObject* schema, ResolverMode mode) {
  if (schema == nullptr || documents.empty()) return {};
  const Value schema_value = OSV_TRY(encode_object_guarded(schema, EncodeOptions{}));
  return validate_first(documents, schema_value, mode);
}

PyResult<void> validate_text_against_schema(std::string_view text, PyObject* schema,
                                            ResolverMode mode) {
  if (schema == nullptr) return {};
  // The schema first: one that accepts everything needs no second reading
  // of the text.
  const Value schema_value = OSV_TRY(encode_object_guarded(schema, EncodeOptions{}));
  if (schema::schema_accepts_everything(schema_value)) return {};
  // Empty documents are kept: the plain road returns the first document
  // even when it is empty (None), so that is the one to validate.
  // Comments play no part in validation: none are collected.
  Result<NodeList, ScanError> composed = compose_bare_documents(text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  return validate_first(*composed, schema_value, mode);
}

}  // namespace ostrevane::ffi
