#include "ffi/schema_road.hpp"

#include <atomic>
#include <optional>

#include "ffi/convert/encode.hpp"
#include "roundtrip/composer/compose.hpp"
#include "schema/validator.hpp"

namespace ostrevane::ffi {

namespace {

std::atomic<bool> g_composed_only{false};
std::atomic<std::uint64_t> g_value_verdicts{0};

PyResult<void> validate_first(std::span<const YamlNode> documents, schema::PreparedSchema& schema,
                              ResolverMode mode, schema::MergeRule rule) {
  if (documents.empty()) return {};
  const std::optional<schema::SchemaError> failure =
      schema::validate_document(documents.front(), schema, mode, rule);
  if (!failure) return {};
  return std::unexpected(schema_error_to_py(failure->message, failure->path, failure->span.line,
                                            failure->span.column));
}

PyResult<std::shared_ptr<schema::PreparedSchema>> prepare_schema(PyObject* schema) {
  Value schema_value = OSV_TRY(encode_object_guarded(schema, EncodeOptions{}));
  return std::make_shared<schema::PreparedSchema>(std::move(schema_value));
}

}  // namespace

PyResult<void> validate_documents_against_schema(std::span<const YamlNode> documents,
                                                 PyObject* schema, ResolverMode mode) {
  if (schema == nullptr || documents.empty()) return {};
  const std::shared_ptr<schema::PreparedSchema> prepared = OSV_TRY(prepare_schema(schema));
  return validate_first(documents, *prepared, mode, schema::MergeRule::Tagged);
}

PyResult<void> validate_decoded_against_schema(std::string_view text, const DecodedStream& stream,
                                               PyObject* schema, ResolverMode mode) {
  if (schema == nullptr || stream.documents.empty()) return {};
  const std::shared_ptr<schema::PreparedSchema> prepared = OSV_TRY(prepare_schema(schema));
  // One that accepts everything needs no reading of the document.
  if (schema::schema_accepts_everything(prepared->value())) return {};
  // The decoded values stand for the composed tree when the pre-passes
  // would change nothing of it; a document that passes is then done. A
  // failure is reported from the composed tree, which knows positions.
  const Value& document = stream.documents.front();
  if (!g_composed_only.load(std::memory_order_relaxed) && !stream.saw_alias &&
      !stream.saw_merge && schema::value_tree_fits(document)) {
    g_value_verdicts.fetch_add(1, std::memory_order_relaxed);
    if (schema::value_passes(document, *prepared, mode)) return {};
  }
  // Empty documents are kept: the plain road returns the first document
  // even when it is empty (None), so that is the one to validate.
  // Comments play no part in validation: none are collected.
  Result<NodeList, ScanError> composed = compose_bare_documents(text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  return validate_first(*composed, *prepared, mode, schema::MergeRule::Decoded);
}

std::uint64_t set_composed_schema_road_for_test(bool composed_only) {
  g_composed_only.store(composed_only, std::memory_order_relaxed);
  return g_value_verdicts.load(std::memory_order_relaxed);
}

}  // namespace ostrevane::ffi
