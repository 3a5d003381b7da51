#include "ffi/schema_road.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffi/convert/encode.hpp"
#include "roundtrip/composer/compose.hpp"
#include "schema/locate.hpp"
#include "schema/pointer.hpp"
#include "schema/validator.hpp"
#include "util/limits.hpp"

namespace ostrevane::ffi {

namespace {

std::atomic<bool> g_composed_only{false};
std::atomic<std::uint64_t> g_value_verdicts{0};
std::atomic<std::uint64_t> g_located_failures{0};

PyResult<void> validate_first(std::span<const YamlNode> documents, schema::PreparedSchema& schema,
                              ResolverMode mode, schema::MergeRule rule) {
  if (documents.empty()) return {};
  const std::optional<schema::SchemaError> failure =
      schema::validate_document(documents.front(), schema, mode, rule);
  if (!failure) return {};
  return std::unexpected(schema_error_to_py(failure->message, failure->path, failure->span.line,
                                            failure->span.column));
}

// True when converting `obj` (encode_object_guarded, default options) would
// give exactly `value`; false when it would not, or when that cannot be told
// without converting (any type but the exact dict, list, tuple, str, int
// within 64 bits, float, bool and None). Runs no Python code.
bool converts_to(PyObject* obj, const Value& value) {
  std::vector<std::pair<PyObject*, const Value*>> stack{{obj, &value}};
  while (!stack.empty()) {
    const auto [o, v] = stack.back();
    stack.pop_back();
    PyTypeObject* type = Py_TYPE(o);
    if (type == &PyUnicode_Type) {
      if (v->kind() != ValueKind::String) return false;
      std::string_view text;
      if (PyUnicode_IS_COMPACT_ASCII(o)) {
        text = std::string_view(static_cast<const char*>(PyUnicode_DATA(o)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(o)));
      } else {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
        if (utf8 == nullptr) {
          PyErr_Clear();
          return false;
        }
        text = std::string_view(utf8, static_cast<std::size_t>(size));
      }
      if (text != v->text()) return false;
    } else if (type == &PyLong_Type) {
      int overflow = 0;
      const long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
      if (overflow != 0 || v->kind() != ValueKind::Int || v->as_int() != n) return false;
    } else if (type == &PyFloat_Type) {
      if (v->kind() != ValueKind::Float || std::bit_cast<std::uint64_t>(v->as_float()) !=
                                               std::bit_cast<std::uint64_t>(PyFloat_AS_DOUBLE(o))) {
        return false;
      }
    } else if (type == &PyBool_Type) {
      if (v->kind() != ValueKind::Bool || v->as_bool() != (o == Py_True)) return false;
    } else if (o == Py_None) {
      if (v->kind() != ValueKind::Null) return false;
    } else if (type == &PyDict_Type) {
      if (v->kind() != ValueKind::Mapping ||
          v->pairs().size() != static_cast<std::size_t>(PyDict_GET_SIZE(o))) {
        return false;
      }
      Py_ssize_t pos = 0;
      PyObject* key = nullptr;
      PyObject* item = nullptr;
      for (const ValuePair& pair : v->pairs()) {
        if (!PyDict_Next(o, &pos, &key, &item)) return false;
        stack.emplace_back(key, &pair.key);
        stack.emplace_back(item, &pair.value);
      }
    } else if (type == &PyList_Type || type == &PyTuple_Type) {
      const Py_ssize_t n = type == &PyList_Type ? PyList_GET_SIZE(o) : PyTuple_GET_SIZE(o);
      if (v->kind() != ValueKind::Sequence || v->items().size() != static_cast<std::size_t>(n)) {
        return false;
      }
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = type == &PyList_Type ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i);
        stack.emplace_back(item, &v->items()[static_cast<std::size_t>(i)]);
      }
    } else {
      return false;
    }
  }
  return true;
}

// Schemas converted lately, by the address of the object they came from.
// An entry is reused only when the object still converts to exactly its
// value, so a schema changed in place, or a new object at a freed one's
// address, is converted anew. Lock held: entries are read and replaced only
// under it, and validation runs no Python code, so no other thread uses a
// prepared schema at the same time.
struct KeptSchema {
  const PyObject* object = nullptr;
  std::shared_ptr<schema::PreparedSchema> prepared;
};
std::array<KeptSchema, limits::kSchemaCacheEntries>* g_kept_schemas =
    new std::array<KeptSchema, limits::kSchemaCacheEntries>();
std::size_t g_next_kept = 0;

// The schema object as a Value. An object that appears in many places (a
// sub-schema built once and used again) is converted once and shared, so
// the work is that of the distinct objects; the schema's size as validation
// walks it, each place counting in full, is held to
// limits::kSchemaNodeBudget. Nesting past limits::kMaxDepth (counted at
// each place) and an object inside itself are refused as schema errors that
// name the place; any other failure is the serialiser's, unchanged.
PyResult<Value> convert_schema(PyObject* schema) {
  SharedObjects shared;
  EncodeOptions options;
  options.shared = &shared;
  PyResult<Value> value = encode_object_guarded(schema, options);
  if (!value) {
    const std::optional<SharedObjects::Fault>& fault = shared.fault();
    if (!fault) return value;
    std::string where = "#";
    std::string outer;
    for (std::size_t i = 0; i < fault->steps.size(); ++i) {
      if (i == fault->outer_steps) outer = where;
      schema::append_pointer_segment(where, fault->steps[i]);
    }
    std::string message;
    if (fault->kind == SharedObjects::Fault::Kind::TooDeep) {
      message = "schema exceeds the maximum nesting depth (" + std::to_string(limits::kMaxDepth) +
                ") at " + where;
    } else {
      message = "schema contains itself: the object at " + outer + " appears again at " + where +
                " (a recursive schema refers to itself with \"$ref\")";
    }
    return std::unexpected(PyError::lazy(ExcClass::SchemaError, std::move(message)));
  }
  if (count_nodes_up_to(*value, limits::kSchemaNodeBudget) > limits::kSchemaNodeBudget) {
    return std::unexpected(PyError::lazy(
        ExcClass::SchemaError, "schema expands to more than " +
                                   std::to_string(limits::kSchemaNodeBudget) +
                                   " nodes (a part used in several places counts at each)"));
  }
  return value;
}

PyResult<std::shared_ptr<schema::PreparedSchema>> prepare_schema(PyObject* schema) {
  auto& kept = *g_kept_schemas;
  KeptSchema* slot = nullptr;
  for (KeptSchema& entry : kept) {
    if (entry.object != schema) continue;
    if (converts_to(schema, entry.prepared->value())) return entry.prepared;
    slot = &entry;
    break;
  }
  Value schema_value = OSV_TRY(convert_schema(schema));
  auto prepared = std::make_shared<schema::PreparedSchema>(std::move(schema_value));
  if (count_nodes_up_to(prepared->value(), limits::kSchemaCacheNodes) <=
      limits::kSchemaCacheNodes) {
    if (slot == nullptr) {
      slot = &kept[g_next_kept];
      g_next_kept = (g_next_kept + 1) % kept.size();
    }
    *slot = KeptSchema{schema, prepared};
  } else if (slot != nullptr) {
    *slot = KeptSchema{};
  }
  return prepared;
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
  // would change nothing of it and no tag was read (a standard tag the
  // decoder resolves leaves no trace in the values): they are then
  // validated once, and a failure takes the position its node has in the
  // composed tree, found by the failure's steps from the tokens up to that
  // node (a whole tree for one position would cost many times the text).
  // Where the tokens cannot tell it for sure, the text is composed and the
  // node found there. Otherwise the composed tree is validated.
  const Value& document = stream.documents.front();
  const bool values_stand = !g_composed_only.load(std::memory_order_relaxed) &&
                            !stream.saw_alias && !stream.saw_merge && !stream.saw_tag &&
                            schema::value_tree_fits(document);
  std::optional<schema::ValueFailure> failure;
  if (values_stand) {
    g_value_verdicts.fetch_add(1, std::memory_order_relaxed);
    failure = schema::value_failure(document, *prepared, mode);
    if (!failure) return {};
    if (const std::optional<Span> at = schema::locate_node(text, failure->steps)) {
      g_located_failures.fetch_add(1, std::memory_order_relaxed);
      return std::unexpected(
          schema_error_to_py(failure->message, failure->path, at->line, at->column));
    }
  }
  // Empty documents are kept: the plain road returns the first document
  // even when it is empty (None), so that is the one to validate.
  // Comments play no part in validation: none are collected.
  Result<NodeList, ScanError> composed = compose_bare_documents(text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  if (failure && !composed->empty()) {
    if (const YamlNode* node = schema::node_at(composed->front(), failure->steps)) {
      return std::unexpected(schema_error_to_py(failure->message, failure->path, node->span.line,
                                                node->span.column));
    }
  }
  return validate_first(*composed, *prepared, mode, schema::MergeRule::Decoded);
}

SchemaRoadCounts set_composed_schema_road_for_test(bool composed_only) {
  g_composed_only.store(composed_only, std::memory_order_relaxed);
  return SchemaRoadCounts{g_value_verdicts.load(std::memory_order_relaxed),
                          g_located_failures.load(std::memory_order_relaxed)};
}

}  // namespace ostrevane::ffi
