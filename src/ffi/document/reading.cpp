#include "ffi/document/reading.hpp"

#include <ranges>
#include <utility>
#include <vector>

#include "ffi/document/view.hpp"
#include "resolver/resolver.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::string_view kMergeKey = "<<";

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

// The text a scalar key node converts to when it converts to a str, as
// node_to_py resolves it; nothing when it converts to anything else.
std::optional<std::string_view> str_value_of(const YamlNode& key,
                                             const NodeToPySettings& settings) noexcept {
  const std::string_view text = key.text();
  const bool plain = key.scalar_style() == ScalarStyle::Plain;
  const std::string* tag = key.read_tag();
  if (tag == nullptr) {
    if (!plain) return text;
    if (settings.timestamps && parse_timestamp(text)) return std::nullopt;
  }
  const ResolvedScalar r = resolve_scalar_kind(
      settings.mode, text, plain, tag ? OptionalTag(std::string_view(*tag)) : std::nullopt);
  if (r.kind == ResolvedScalar::Kind::Str) return text;
  if (r.kind == ResolvedScalar::Kind::Merge) return kMergeKey;
  return std::nullopt;
}

// Tests the pairs of `mapping` against `key`, in the order `pairs` gives,
// until `found(i)` returns true.
template <class Pairs, class Found>
PyResult<void> scan_matching_pairs(const DocumentReader& reader, const YamlNode& mapping,
                                   PyObject* key, Pairs&& pairs, Found&& found) {
  if (PyUnicode_CheckExact(key)) {
    if (const std::optional<std::string_view> text = str_text(key)) {
      for (const std::size_t i : pairs) {
        const YamlNode& k = mapping.key(i);
        // An empty key tagged !!str reads as "": a Null node, text empty.
        if (k.kind() != NodeKind::Scalar && k.kind() != NodeKind::Null) continue;
        // Resolving costs more than comparing: only a key with the same
        // text can match, or, when looking for "<<", any key that resolves
        // as a merge key (it converts to "<<").
        if (k.text() != *text && *text != kMergeKey) continue;
        const std::optional<std::string_view> value = str_value_of(k, reader.settings());
        if (value && *value == *text && found(i)) return {};
      }
      return {};
    }
  }
  for (const std::size_t i : pairs) {
    if (OSV_TRY(key_node_matches(reader, mapping.key(i), key)) && found(i)) return {};
  }
  return {};
}

// Collects the leaves below `node` into `out`; `path` holds the keys and
// indices above it. The path is kept as a stack of references and copied
// into each leaf's tuple, which a walk builds for every leaf.
PyResult<void> collect_path_values(const DocumentReader& reader, const YamlNode& node,
                                   std::vector<PyRef>& path, PyObject* out) {
  const auto descend = [&](PyRef step, const YamlNode& child) -> PyResult<void> {
    path.push_back(std::move(step));
    PyResult<void> walked =
        with_stack_guard([&] { return collect_path_values(reader, child, path, out); });
    path.pop_back();
    return walked;
  };
  switch (node.kind()) {
    case NodeKind::Sequence: {
      const auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        OSV_TRY(descend(OSV_TRY(checked(PyLong_FromSize_t(i))), items[i]));
      }
      return {};
    }
    case NodeKind::Mapping:
      for (std::size_t i = 0; i < node.pair_count(); ++i) {
        if (node.key(i).kind() != NodeKind::Scalar) continue;
        OSV_TRY(descend(OSV_TRY(reader.to_py(node.key(i))), node.value(i)));
      }
      return {};
    default:
      break;
  }
  PyRef value = OSV_TRY(reader.to_py(node));
  PyRef key_tuple = OSV_TRY(checked(PyTuple_New(static_cast<Py_ssize_t>(path.size()))));
  for (std::size_t i = 0; i < path.size(); ++i) {
    PyTuple_SET_ITEM(key_tuple.get(), static_cast<Py_ssize_t>(i), Py_NewRef(path[i].get()));
  }
  PyRef record = OSV_TRY(checked(PyTuple_New(2)));
  PyTuple_SET_ITEM(record.get(), 0, key_tuple.release());
  PyTuple_SET_ITEM(record.get(), 1, value.release());
  if (PyList_Append(out, record.get()) < 0) return std::unexpected(PyError::fetch());
  return {};
}

}  // namespace

const AnchorIndex& DocumentReader::index() const {
  if (!index_) {
    index_.emplace(root());
    settings_.index = &*index_;
  }
  return *index_;
}

const YamlNode* DocumentReader::followed(const YamlNode& node) {
  if (node.kind() != NodeKind::Alias) return &node;
  return index().target(node);
}

NodeToPyCache& DocumentReader::cache() const {
  if (!cache_) cache_.emplace(root(), settings_);
  return *cache_;
}

PyResult<PyRef> DocumentReader::to_py(const YamlNode& node) const {
  if (node.kind() == NodeKind::Alias) static_cast<void>(index());
  return cache().value(node);
}

PyResult<PyRef> DocumentReader::to_py_key(const YamlNode& node) const {
  if (node.kind() == NodeKind::Alias) static_cast<void>(index());
  return cache().key(node);
}

std::optional<std::string_view> str_text(PyObject* obj) noexcept {
  if (!PyUnicode_Check(obj)) return std::nullopt;
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string_view(utf8, static_cast<std::size_t>(len));
}

PyError key_error(std::string_view text) {
  return PyError::builtin(PyExc_KeyError, std::string(text));
}

PyResult<std::optional<std::uint64_t>> unsigned_index(PyObject* key) {
  if (!PyIndex_Check(key)) return std::nullopt;
  PyRef index = PyRef::steal(PyNumber_Index(key));
  if (index) {
    const unsigned long long n = PyLong_AsUnsignedLongLong(index.get());
    if (!(n == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      return static_cast<std::uint64_t>(n);
    }
  }
  // The conversion's own error (OverflowError, an __index__ that fails)
  // gives way to the caller's; an interrupt does not.
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return std::unexpected(PyError::fetch());
  PyErr_Clear();
  return std::nullopt;
}

PyResult<PathSegment> extract_path_segment(PyObject* key) {
  if (PyIndex_Check(key)) {
    if (const std::optional<std::uint64_t> n = OSV_TRY(unsigned_index(key))) {
      return PathSegment::index(*n);
    }
  } else if (const std::optional<std::string_view> text = str_text(key)) {
    return PathSegment::key(std::string(*text));
  }
  return std::unexpected(PyError::builtin(PyExc_TypeError, "mapping keys must be str or int"));
}

PyError index_or_key_error(NodeKind kind, PyObject* key) {
  if (kind == NodeKind::Sequence) return PyError::builtin(PyExc_IndexError, "index out of range");
  PyRef text = PyRef::steal(PyObject_Str(key));
  if (!text) return PyError::fetch();
  PyRef exc = PyRef::steal(PyObject_CallOneArg(PyExc_KeyError, text.get()));
  if (!exc) return PyError::fetch();
  return PyError::from_object(std::move(exc));
}

PyResult<bool> key_node_matches(const DocumentReader& reader, const YamlNode& key_node,
                                PyObject* key) {
  // An empty key reads as None and is found like any scalar key; a
  // collection or alias key is not matched.
  if (key_node.kind() != NodeKind::Scalar && key_node.kind() != NodeKind::Null) return false;
  PyResult<PyRef> converted = reader.to_py(key_node);
  int equal = -1;
  if (converted) {
    equal = PyObject_RichCompareBool(converted->get(), key, Py_EQ);
    if (equal >= 0) return equal == 1;
    // An Exception of the key's __eq__ or __bool__ counts as no match;
    // KeyboardInterrupt, SystemExit and the internal fault go on.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return std::unexpected(PyError::fetch());
    PyErr_Clear();
    return false;
  }
  PyError error = std::move(converted.error());
  if (error.is_fault() || !error.matches(PyExc_Exception)) return std::unexpected(std::move(error));
  return false;
}

PyResult<std::optional<std::size_t>> find_matching_pair(const DocumentReader& reader,
                                                        const YamlNode& mapping, PyObject* key) {
  std::optional<std::size_t> match;
  const auto last_first =
      std::views::iota(std::size_t{0}, mapping.pair_count()) | std::views::reverse;
  OSV_TRY(scan_matching_pairs(reader, mapping, key, last_first, [&](std::size_t i) {
    match = i;
    return true;
  }));
  return match;
}

PyResult<std::vector<std::size_t>> all_matching_pairs(const DocumentReader& reader,
                                                      const YamlNode& mapping, PyObject* key) {
  std::vector<std::size_t> matches;
  OSV_TRY(scan_matching_pairs(reader, mapping, key,
                              std::views::iota(std::size_t{0}, mapping.pair_count()),
                              [&](std::size_t i) {
                                matches.push_back(i);
                                return false;
                              }));
  return matches;
}

PyResult<PyRef> node_getitem(DocumentReader& reader, const NodePath& base, const YamlNode& node,
                             PyObject* key) {
  if (node.kind() == NodeKind::Mapping) {
    const std::optional<std::size_t> pair = OSV_TRY(find_matching_pair(reader, node, key));
    if (!pair) return std::unexpected(index_or_key_error(node.kind(), key));
    // The step names the pair that matched, also when a later pair has the
    // same key text.
    PathSegment step = pair_step(node, *pair);
    return node_value_or_view(reader, base.extended(std::move(step)), node.value(*pair));
  }
  PathSegment step = OSV_TRY(extract_path_segment(key));
  const YamlNode* child = node_child(node, step);
  if (child == nullptr) return std::unexpected(index_or_key_error(node.kind(), key));
  return node_value_or_view(reader, base.extended(std::move(step)), *child);
}

PyResult<PyRef> node_value_or_view(DocumentReader& reader, NodePath path, const YamlNode& node) {
  const YamlNode* target = reader.followed(node);
  if (target == nullptr) return PyRef::borrow(Py_None);
  if (target->is_collection()) {
    return new_view_object(CursorData{std::move(path),
                                      PyRef::borrow(reinterpret_cast<PyObject*>(reader.document())),
                                      reader.root_index()});
  }
  return reader.to_py(*target);
}

PyResult<PyRef> mapping_keys_list(const DocumentReader& reader, const YamlNode& mapping) {
  PyRef keys = OSV_TRY(checked(PyList_New(0)));
  PyRef seen = OSV_TRY(checked(PyDict_New()));
  for (std::size_t i = 0; i < mapping.pair_count(); ++i) {
    const YamlNode& key = mapping.key(i);
    const bool scalar = key.kind() == NodeKind::Scalar || key.kind() == NodeKind::Null;
    PyRef hashable = OSV_TRY(scalar ? reader.to_py(key) : reader.to_py_key(key));
    const int present = PyDict_Contains(seen.get(), hashable.get());
    if (present < 0) return std::unexpected(PyError::fetch());
    if (present) continue;
    if (PyDict_SetItem(seen.get(), hashable.get(), Py_None) < 0) {
      return std::unexpected(PyError::fetch());
    }
    PyRef plain = scalar ? std::move(hashable) : OSV_TRY(reader.to_py(key));
    if (PyList_Append(keys.get(), plain.get()) < 0) return std::unexpected(PyError::fetch());
  }
  return keys;
}

PyResult<Py_ssize_t> node_length(const DocumentReader& reader, const YamlNode& node) {
  switch (node.kind()) {
    case NodeKind::Mapping: {
      PyRef keys = OSV_TRY(mapping_keys_list(reader, node));
      return PyList_GET_SIZE(keys.get());
    }
    case NodeKind::Sequence:
      return static_cast<Py_ssize_t>(node.item_count());
    default:
      return 1;
  }
}

PyResult<PyRef> walk_list(const DocumentReader& reader, const YamlNode& node) {
  PyRef out = OSV_TRY(checked(PyList_New(0)));
  std::vector<PyRef> path;
  OSV_TRY(with_stack_guard([&] { return collect_path_values(reader, node, path, out.get()); }));
  return out;
}

PyResult<PyRef> node_position_tuple(const YamlNode& node) {
  return checked(Py_BuildValue("(kkkk)", static_cast<unsigned long>(node.span.line) + 1,
                               static_cast<unsigned long>(node.span.column) + 1,
                               static_cast<unsigned long>(node.end_line) + 1,
                               static_cast<unsigned long>(node.end_column) + 1));
}

PyResult<GetArgs> parse_get_args(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"key", "default", nullptr};
  GetArgs parsed{nullptr, nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:get", const_cast<char**>(keywords),
                                   &parsed.key, &parsed.fallback)) {
    return std::unexpected(PyError::fetch());
  }
  return parsed;
}

PyResult<PyRef> value_or_default(PyResult<PyRef> result, PyObject* fallback) {
  if (result) return result;
  PyError& error = result.error();
  if (error.is_fault() || !error.matches(PyExc_Exception)) return result;
  return PyRef::borrow(fallback);
}

}  // namespace ostrevane::ffi
