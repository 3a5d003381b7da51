#include "ffi/schema_road.hpp"

#include <optional>

#include "ffi/convert/encode.hpp"
#include "roundtrip/composer/compose.hpp"
#include "schema/validator.hpp"

namespace ostrevane::ffi {

PyResult<void> validate_documents_against_schema(std::span<const YamlNode> documents,
                                                 PyObject* schema, ResolverMode mode) {
  if (schema == nullptr || documents.empty()) return {};
  const Value schema_value = OSV_TRY(encode_object_guarded(schema, EncodeOptions{}));
  const std::optional<schema::SchemaError> failure =
      schema::validate_document(documents.front(), schema_value, mode);
  if (!failure) return {};
  return std::unexpected(schema_error_to_py(failure->message, failure->path, failure->span.line,
                                            failure->span.column));
}

PyResult<void> validate_text_against_schema(std::string_view text, PyObject* schema,
                                            ResolverMode mode) {
  if (schema == nullptr) return {};
  Result<NodeList, ScanError> composed = compose_documents(text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  return validate_documents_against_schema(*composed, schema, mode);
}

}  // namespace ostrevane::ffi
