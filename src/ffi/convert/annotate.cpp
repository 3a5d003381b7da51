#include "ffi/convert/annotate.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "ffi/convert/detail/node_py.hpp"
#include "ffi/convert/node_to_py.hpp"
#include "ffi/types/annotated.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"
#include "util/once_cell.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

// ---------------------------------------------------------------------------
// The package's annotated scalar classes, fetched once per process.

enum class ScalarClass : std::uint8_t { Str, Int, Float };

constexpr const char* kScalarClassNames[] = {
    "OstrevaneAnnotatedStr",
    "OstrevaneAnnotatedInt",
    "OstrevaneAnnotatedFloat",
};

std::array<OnceCell<PyObject>, 3> g_scalar_classes;

// Borrowed; the cell keeps the class. A failed import or a missing
// attribute leaves the cell empty, so a later call tries again.
PyResult<PyObject*> scalar_class(ScalarClass which) {
  OnceCell<PyObject>& cell = g_scalar_classes[static_cast<std::size_t>(which)];
  if (PyObject* cls = cell.get()) [[likely]] {
    return cls;
  }
  PyRef name = PyRef::steal(PyUnicode_FromString("ostrevane"));
  if (!name) return std::unexpected(PyError::fetch());
  PyRef module = PyRef::steal(PyImport_Import(name.get()));
  if (!module) return std::unexpected(PyError::fetch());
  PyRef cls = PyRef::steal(
      PyObject_GetAttrString(module.get(), kScalarClassNames[static_cast<std::size_t>(which)]));
  if (!cls) return std::unexpected(PyError::fetch());
  // The import may have run code that filled the cell meanwhile: the first
  // store wins.
  return cell.publish(cls.release(), [](PyObject* loser) { Py_DECREF(loser); });
}

// "plain", "single", "double", "literal", "folded".
constexpr std::string_view kStyleNames[] = {"plain", "single", "double", "literal", "folded"};

// The tag as it reads (its %TAG expansion), as the plain road reads it.
const std::string* tag_of(const YamlNode& node) noexcept { return node.read_tag(); }

// The directive that produced the node, else its own tag as written when
// it reads as a custom tag. The written text, not its %TAG expansion: it is
// where the value came from, and is never longer than the source it stands
// in (an expansion under a long prefix, copied into every annotation, would
// be).
const std::string* source_tag_of(const YamlNode& node) noexcept {
  const NodeExtras* extras = node.extras();
  if (extras == nullptr) return nullptr;
  if (extras->source) return &extras->source->tag;
  if (const std::string* tag = tag_of(node); tag != nullptr && is_custom_tag(*tag)) {
    return &*extras->tag;
  }
  return nullptr;
}

const std::string* source_target_of(const YamlNode& node) noexcept {
  const NodeExtras* extras = node.extras();
  return extras != nullptr && extras->source ? &extras->source->target : nullptr;
}

PyObject* optional_str(const std::string* text) noexcept {
  if (text == nullptr) return Py_NewRef(Py_None);
  return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "replace");
}

// ---------------------------------------------------------------------------
// The conversion. A failure is nullptr, with the error either raised in the
// interpreter or kept in `error_`; `take_error` hands over whichever it is.

class AnnotatedConverter {
 public:
  AnnotatedConverter(const YamlNode& root, const AnnotateSettings& settings,
                     PyTypeObject* dict_type, PyTypeObject* list_type)
      : root_(root), settings_(settings), dict_type_(dict_type), list_type_(list_type) {}

  PyObject* value(const YamlNode& node, unsigned depth);

  PyError take_error() {
    if (error_) return std::move(*error_);
    return PyError::fetch();
  }

 private:
  PyObject* child(const YamlNode& node, unsigned depth) {
    if ((depth & 7u) == 0) return with_stack_guard([&] { return value(node, depth); });
    return value(node, depth);
  }

  PyObject* content(const YamlNode& node, unsigned depth);
  PyObject* tagged(const YamlNode& node, PyObject* obj);
  PyObject* scalar(const YamlNode& node);
  PyObject* annotated_scalar(ScalarClass which, PyObject* value, const YamlNode& node);
  PyObject* sequence(const YamlNode& node, unsigned depth);
  PyObject* mapping(const YamlNode& node, unsigned depth);
  PyObject* key(const YamlNode& node, unsigned depth);
  const YamlNode* alias_target(const YamlNode& alias);
  NodeToPyCache& plain_keys();
  Annotation annotation(const YamlNode& node);
  PyObject* file_name(const YamlNode& node) const noexcept {
    const std::uint32_t id = node.span.file_id;
    return id < settings_.file_names.size() ? settings_.file_names[id] : nullptr;
  }
  PyObject* style_name(ScalarStyle style);

  PyObject* fail(PyError error) {
    error_.emplace(std::move(error));
    return nullptr;
  }
  PyObject* unwrap(PyResult<PyRef> result) {
    if (!result) return fail(std::move(result.error()));
    return result->release();
  }

  const YamlNode& root_;
  const AnnotateSettings& settings_;
  PyTypeObject* dict_type_;
  PyTypeObject* list_type_;
  std::optional<AnchorIndex> index_;
  // Anchored nodes: the object made for each, which every alias of it gets.
  std::unordered_map<const YamlNode*, PyRef> objects_;
  std::array<PyRef, std::size(kStyleNames)> style_names_;
  // Collection keys; the cache reads plain_settings_ (declared first, so
  // that it outlives the cache).
  NodeToPySettings plain_settings_;
  std::optional<NodeToPyCache> plain_keys_;
  SharedTagStrs tag_strs_;
  std::optional<PyError> error_;
};

PyObject* AnnotatedConverter::value(const YamlNode& node, unsigned depth) {
  if (node.kind() == NodeKind::Alias) {
    const YamlNode* target = alias_target(node);
    if (target == nullptr) return Py_NewRef(Py_None);
    return child(*target, depth + 1);
  }
  // Anchored nodes (a directive's anchor included) give one object to
  // every alias of them.
  if (!defines_any_anchor(node)) [[likely]] {
    return tagged(node, content(node, depth));
  }
  if (const auto it = objects_.find(&node); it != objects_.end()) {
    return Py_NewRef(it->second.get());
  }
  PyObject* obj = tagged(node, content(node, depth));
  if (obj != nullptr) objects_.emplace(&node, PyRef::borrow(obj));
  return obj;
}

PyObject* AnnotatedConverter::tagged(const YamlNode& node, PyObject* obj) {
  if (obj == nullptr || settings_.tag_options == nullptr) return obj;
  const std::string* tag = tag_of(node);
  if (tag == nullptr || !is_custom_tag(*tag)) [[likely]]
    return obj;
  return unwrap(apply_tag_callbacks(*tag, node.tag_is_expanded(), PyRef::steal(obj),
                                    *settings_.tag_options, tag_strs_));
}

PyObject* AnnotatedConverter::content(const YamlNode& node, unsigned depth) {
  switch (node.kind()) {
    case NodeKind::Scalar:
      return scalar(node);
    case NodeKind::Sequence:
      return sequence(node, depth);
    case NodeKind::Mapping:
      return mapping(node, depth);
    case NodeKind::Null:
      if (const std::string* tag = tag_of(node)) {
        return unwrap(detail::resolved_scalar_to_py(settings_.mode, std::string_view(), true,
                                                    std::string_view(*tag)));
      }
      return Py_NewRef(Py_None);
    case NodeKind::Alias:
      break;
  }
  return Py_NewRef(Py_None);
}

PyObject* AnnotatedConverter::scalar(const YamlNode& node) {
  const std::string_view text = node.text();
  const bool plain = node.scalar_style() == ScalarStyle::Plain;
  const std::string* tag = tag_of(node);
  const OptionalTag opt_tag = tag ? OptionalTag(*tag) : std::nullopt;
  if (plain && tag == nullptr && settings_.mode == ResolverMode::Yaml11Compat) {
    if (const std::optional<Timestamp> ts = parse_timestamp(text)) {
      // A timestamp the interpreter refuses reads as what its text says.
      if (PyResult<PyRef> obj = timestamp_to_py(*ts)) return obj->release();
    }
  }
  const ResolvedScalar r = resolve_scalar_kind(settings_.mode, text, plain, opt_tag);
  switch (r.kind) {
    case ResolvedScalar::Kind::Str:
    case ResolvedScalar::Kind::Merge: {
      // A merge marker that reaches here is an ordinary "<<" key's text.
      PyObject* str = detail::new_str(text);
      if (str == nullptr) return nullptr;
      return annotated_scalar(ScalarClass::Str, str, node);
    }
    case ResolvedScalar::Kind::Int:
      if (!settings_.annotate_numbers) break;
      if (PyObject* number = PyLong_FromLongLong(r.integer)) {
        return annotated_scalar(ScalarClass::Int, number, node);
      }
      return nullptr;
    case ResolvedScalar::Kind::Float:
      if (!settings_.annotate_numbers) break;
      if (PyObject* number = PyFloat_FromDouble(r.number)) {
        return annotated_scalar(ScalarClass::Float, number, node);
      }
      return nullptr;
    default:
      break;
  }
  return unwrap(detail::resolved_scalar_to_py(settings_.mode, text, plain, opt_tag));
}

PyObject* AnnotatedConverter::style_name(ScalarStyle style) {
  const auto i = static_cast<std::size_t>(style);
  PyRef& cached = style_names_[i < style_names_.size() ? i : 0];
  if (!cached) {
    const std::string_view name = kStyleNames[i < style_names_.size() ? i : 0];
    cached = PyRef::steal(PyUnicode_InternFromString(std::string(name).c_str()));
    if (!cached) return nullptr;
  }
  return cached.get();
}

// Calls the class with the eleven positional arguments; `value` is consumed.
PyObject* AnnotatedConverter::annotated_scalar(ScalarClass which, PyObject* value,
                                               const YamlNode& node) {
  PyRef value_ref = PyRef::steal(value);
  PyResult<PyObject*> cls = scalar_class(which);
  if (!cls) return fail(std::move(cls.error()));
  PyObject* style = style_name(node.scalar_style());
  if (style == nullptr) return nullptr;
  PyObject* file = file_name(node);
  PyRef args[] = {
      PyRef::steal(PyLong_FromUnsignedLong(node.span.line + 1UL)),
      PyRef::steal(PyLong_FromUnsignedLong(node.span.column + 1UL)),
      PyRef::steal(PyLong_FromUnsignedLong(node.end_line + 1UL)),
      PyRef::steal(PyLong_FromUnsignedLong(node.end_column + 1UL)),
      PyRef::steal(optional_str(source_tag_of(node))),
      PyRef::steal(optional_str(source_target_of(node))),
      PyRef::steal(PyLong_FromUnsignedLongLong(node.span.offset)),
      PyRef::steal(PyLong_FromUnsignedLongLong(node.end_offset)),
  };
  for (const PyRef& arg : args) {
    if (!arg) return nullptr;
  }
  PyObject* argv[] = {
      value_ref.get(), args[0].get(), args[1].get(), file != nullptr ? file : Py_None,
      args[2].get(),   args[3].get(), style,         args[4].get(),
      args[5].get(),   args[6].get(), args[7].get(),
  };
  return PyObject_Vectorcall(*cls, argv, std::size(argv), nullptr);
}

Annotation AnnotatedConverter::annotation(const YamlNode& node) {
  Annotation a;
  a.line = node.span.line + 1;
  a.column = node.span.column + 1;
  a.end_line = node.end_line + 1;
  a.end_column = node.end_column + 1;
  a.offset = node.span.offset;
  a.end_offset = node.end_offset;
  if (PyObject* file = file_name(node)) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(file, &size)) {
      a.file.emplace(utf8, static_cast<std::size_t>(size));
    } else {
      PyErr_Clear();
    }
  }
  if (const std::string* tag = source_tag_of(node)) a.source_tag = *tag;
  if (const std::string* target = source_target_of(node)) a.source_target = *target;
  return a;
}

PyObject* AnnotatedConverter::sequence(const YamlNode& node, unsigned depth) {
  PyRef list = PyRef::steal(unwrap(new_annotated_list(annotation(node), list_type_)));
  if (!list) return nullptr;
  for (const YamlNode& item : node.items()) {
    PyRef obj = PyRef::steal(child(item, depth + 1));
    if (!obj || PyList_Append(list.get(), obj.get()) < 0) return nullptr;
  }
  return list.release();
}

// Values are converted before their keys. Explicit keys overwrite whatever
// a merge brought, before or after them; a merge only fills keys that are
// missing, so among several sources the first to supply a key wins.
PyObject* AnnotatedConverter::mapping(const YamlNode& node, unsigned depth) {
  PyRef dict = PyRef::steal(unwrap(new_annotated_dict(annotation(node), dict_type_)));
  if (!dict) return nullptr;
  bool has_merge = false;
  for (std::size_t i = 0; i < node.pair_count() && !has_merge; ++i) {
    has_merge = is_merge_key(node.key(i));
  }
  bool slot_taken = false;
  for (std::size_t i = 0; i < node.pair_count(); ++i) {
    const YamlNode& key_node = node.key(i);
    PyRef v = PyRef::steal(child(node.value(i), depth + 1));
    if (!v) return nullptr;
    if (has_merge && is_merge_key(key_node)) [[unlikely]] {
      if (!detail::merge_pair(
              dict.get(), v.get(), [&] { return child(key_node, depth + 1); }, slot_taken)) {
        return nullptr;
      }
      continue;
    }
    PyRef k = PyRef::steal(key(key_node, depth + 1));
    if (!k) return nullptr;
    if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    // A quoted or otherwise tagged "<<" replaced what the merges kept there.
    if (slot_taken && key_node.kind() == NodeKind::Scalar && key_node.text() == "<<") {
      slot_taken = false;
    }
  }
  return dict.release();
}

// A collection key (or an alias of one) is a plain tuple; any other key is
// converted as a value, so a string key is an OstrevaneAnnotatedStr.
PyObject* AnnotatedConverter::key(const YamlNode& node, unsigned depth) {
  const YamlNode* target = &node;
  if (node.kind() == NodeKind::Alias) {
    target = alias_target(node);
    if (target == nullptr) return Py_NewRef(Py_None);
  }
  if (!target->is_collection()) return child(node, depth);
  return unwrap(plain_keys().key(*target));
}

// Plain keys: no annotation and no tag callbacks. One cache for every key of
// the conversion, so a definition that many keys repeat is converted once,
// against the conversion's own anchor index.
NodeToPyCache& AnnotatedConverter::plain_keys() {
  if (!plain_keys_) {
    if (!index_) index_.emplace(root_);
    plain_settings_.mode = settings_.mode;
    plain_settings_.timestamps = settings_.mode == ResolverMode::Yaml11Compat;
    plain_settings_.index = &*index_;
    plain_keys_.emplace(root_, plain_settings_);
  }
  return *plain_keys_;
}

const YamlNode* AnnotatedConverter::alias_target(const YamlNode& alias) {
  if (!index_) index_.emplace(root_);
  return index_->target(alias);
}

}  // namespace

PyResult<PyRef> tree_to_annotated(const YamlNode& root, const AnnotateSettings& settings) {
  PyTypeObject* dict_type = OSV_TRY(annotated_dict_type_object());
  PyTypeObject* list_type = OSV_TRY(annotated_list_type_object());
  AnnotatedConverter converter(root, settings, dict_type, list_type);
  PyObject* obj = with_stack_guard([&] { return converter.value(root, 0); });
  if (obj == nullptr) return std::unexpected(converter.take_error());
  return PyRef::steal(obj);
}

}  // namespace ostrevane::ffi
