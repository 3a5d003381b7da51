#include "ffi/represent/represent.hpp"

#include <charconv>
#include <unordered_map>

#include "ffi/args.hpp"
#include "ffi/compat.hpp"
#include "ffi/convert/special_types.hpp"
#include "ffi/represent/descriptors.hpp"
#include "ffi/tag.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

[[nodiscard]] std::unexpected<PyError> fetched() { return std::unexpected(PyError::fetch()); }

// Objects that can never be aliased: equal values of these kinds are
// written again, not shared.
bool is_tracked(PyObject* obj) noexcept {
  if (obj == Py_None || PyBool_Check(obj) || PyFloat_Check(obj) || PyLong_Check(obj) ||
      PyUnicode_Check(obj) || PyBytes_Check(obj)) {
    return false;
  }
  return !(PyTuple_Check(obj) && PyTuple_GET_SIZE(obj) == 0);
}

std::uint64_t address_of(PyObject* obj) noexcept {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(obj));
}

std::string address_text(std::uint64_t address) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, address).ptr;
  return std::string(digits, end);
}

// The address an anchor or alias name stands for: decimal digits with an
// optional leading "+", within 64 bits.
std::optional<std::uint64_t> address_from_text(std::string_view text) noexcept {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

PyError self_reference_error() {
  return PyError::builtin(PyExc_ValueError, "cannot serialize a value that refers only to itself");
}

PyError shared_tag_error() {
  return PyError::builtin(PyExc_ValueError,
                          "cannot attach a tag to a self-referential or shared value");
}

// ---------------------------------------------------------------------------
// Tags.

PyResult<YamlNode> represent_tagged(Representer& r, std::string tag, PyObject* value,
                                    std::uint32_t depth, bool in_flow, bool is_key) {
  OSV_TRY(validate_dump_tag(tag));
  YamlNode node = OSV_TRY(represent_object(r, value, depth + 1, in_flow, is_key));
  if (node.kind() == NodeKind::Alias) return std::unexpected(shared_tag_error());
  if (node.tag()) {
    return std::unexpected(
        encode_error("cannot attach a tag to a value that already carries a tag"));
  }
  if (const std::optional<std::string>& anchor = node.anchor()) {
    if (const std::optional<std::uint64_t> address = address_from_text(*anchor)) {
      if (r.aliased.contains(*address)) return std::unexpected(shared_tag_error());
      node.set_anchor(std::nullopt);
      r.seen.erase(*address);
    }
  }
  node.set_tag(written_dump_tag(tag));
  return node;
}

// The tag text and a new reference to the value of an OstrevaneTag.
PyResult<std::pair<std::string, PyRef>> read_tag_object(TagObject* tag) {
  SharedBorrow borrow = OSV_TRY(SharedBorrow::take(tag->borrows, BorrowConflict::Fault));
  return std::pair<std::string, PyRef>(std::string(tag_text(tag)), PyRef::borrow(tag_value(tag)));
}

// An OstrevaneTag (exact or subclass), or nullptr.
PyResult<TagObject*> as_tag_object(PyObject* obj) {
  PyTypeObject* type = OSV_TRY(tag_type_object());
  if (Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type)) {
    return reinterpret_cast<TagObject*>(obj);
  }
  return nullptr;
}

PyResult<YamlNode> represent_tag_object(Representer& r, TagObject* tag, std::uint32_t depth,
                                        bool in_flow, bool is_key) {
  auto [text, value] = OSV_TRY(read_tag_object(tag));
  return represent_tagged(r, std::move(text), value.get(), depth, in_flow, is_key);
}

PyResult<YamlNode> represent_tags_callback_result(Representer& r, PyObject* result,
                                                  std::uint32_t depth, bool in_flow, bool is_key) {
  if (TagObject* tag = OSV_TRY(as_tag_object(result))) {
    return represent_tag_object(r, tag, depth, in_flow, is_key);
  }
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    PyObject* tag = PyTuple_GET_ITEM(result, 0);
    if (!PyUnicode_Check(tag)) return std::unexpected(not_an_instance_error(tag, "str"));
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(tag, &len);
    if (utf8 == nullptr) return fetched();
    PyRef value = PyRef::borrow(PyTuple_GET_ITEM(result, 1));
    return represent_tagged(r, std::string(utf8, static_cast<std::size_t>(len)), value.get(), depth,
                            in_flow, is_key);
  }
  return std::unexpected(
      encode_error("a tags callback must return a OstrevaneTag or a (tag, value) tuple"));
}

// ---------------------------------------------------------------------------
// The default representation.

// The object represented one level deeper in this object's place.
PyResult<YamlNode> delegate(Representer& r, PyObject* other, std::uint32_t depth, bool in_flow,
                            bool is_key) {
  YamlNode node = OSV_TRY(represent_object(r, other, depth + 1, in_flow, is_key));
  r.delegated = true;
  return node;
}

PyResult<YamlNode> scalar_node(Representer& r, PyResult<Value> value, bool in_flow, bool is_key) {
  if (!value) return std::unexpected(std::move(value.error()));
  return value_to_node_guarded(r, std::move(*value), in_flow || is_key);
}

OwnedItems snapshot(PyObject* const* items, Py_ssize_t n) {
  OwnedItems out;
  out.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) out.push_back(PyRef::borrow(items[i]));
  return out;
}

// The instance fields of a dataclass instance as (name, value) pairs, or
// nothing when `obj` is not one.
PyResult<std::optional<OwnedPairs>> dataclass_pairs(PyObject* obj) {
  OwnedPairs pairs;
  const bool is_dataclass =
      OSV_TRY(visit_dataclass_fields(obj, [&](PyObject* name, PyObject* value) -> PyResult<void> {
        pairs.emplace_back(PyRef::borrow(name), PyRef::borrow(value));
        return {};
      }));
  if (!is_dataclass) return std::nullopt;
  return pairs;
}

// Everything no callback answered for, the first matching rule deciding.
PyResult<YamlNode> represent_default(Representer& r, PyObject* obj, std::uint32_t depth,
                                     bool in_flow, bool is_key) {
  if (obj == Py_None) return new_node(YamlNode::null());
  if (PyBool_Check(obj) || PyFloat_Check(obj) || PyLong_Check(obj) || PyUnicode_Check(obj) ||
      PyBytes_Check(obj)) {
    return scalar_node(r, encode_object_guarded(obj, r.encode_options), in_flow, is_key);
  }
  if (PyDict_Check(obj)) {
    OwnedPairs pairs;
    pairs.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(obj)));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      pairs.emplace_back(PyRef::borrow(key), PyRef::borrow(value));
    }
    return represent_mapping(r, std::move(pairs), depth, std::nullopt, std::nullopt, in_flow,
                             is_key);
  }
  if (PyList_Check(obj)) {
    return represent_sequence(r, snapshot(PySequence_Fast_ITEMS(obj), PyList_GET_SIZE(obj)), depth,
                              std::nullopt, std::nullopt, in_flow, is_key);
  }
  if (PyTuple_Check(obj)) {
    return represent_sequence(r, snapshot(PySequence_Fast_ITEMS(obj), PyTuple_GET_SIZE(obj)), depth,
                              std::nullopt, std::nullopt, in_flow, is_key);
  }
  if (PyAnySet_Check(obj)) {
    return represent_sequence(r, OSV_TRY(collect_iterable(obj)), depth, std::nullopt, std::nullopt,
                              in_flow, is_key);
  }
  if (TagObject* tag = OSV_TRY(as_tag_object(obj))) {
    return represent_tag_object(r, tag, depth, in_flow, is_key);
  }
  if (PyObject* serializers = r.encode_options.serializers) {
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(serializers, reinterpret_cast<PyObject*>(Py_TYPE(obj)), &found) < 0) {
      return fetched();
    }
    if (PyRef callback = PyRef::steal(found)) {
      PyRef result = PyRef::steal(PyObject_CallOneArg(callback.get(), obj));
      if (!result) return fetched();
      return represent_tags_callback_result(r, result.get(), depth, in_flow, is_key);
    }
  }
  if (std::optional<Value> date = OSV_TRY(encode_datetime(obj, r.encode_options))) {
    return value_to_node_guarded(r, std::move(*date), in_flow || is_key);
  }
  if (OSV_TRY(is_enum_instance(obj))) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(obj, "value"));
    if (!value) return fetched();
    return delegate(r, value.get(), depth, in_flow, is_key);
  }
  if (!r.encode_options.passthrough_dataclass) {
    if (std::optional<OwnedPairs> pairs = OSV_TRY(dataclass_pairs(obj))) {
      return represent_mapping(r, std::move(*pairs), depth, std::nullopt, std::nullopt, in_flow,
                               is_key);
    }
  }
  if (r.encode_options.serialize_numpy) {
    if (PyRef plain = OSV_TRY(numpy_to_python(obj))) {
      return delegate(r, plain.get(), depth, in_flow, is_key);
    }
  }
  EncodeOptions without_default = r.encode_options;
  without_default.default_fn = nullptr;
  PyResult<Value> value = encode_object_guarded(obj, without_default);
  if (value) return value_to_node_guarded(r, std::move(*value), in_flow || is_key);
  PyObject* default_fn = r.encode_options.default_fn;
  PyObject* unserializable = OSV_TRY(exception_class(ExcClass::UnserializableError));
  if (default_fn == nullptr || !value.error().matches(unserializable)) {
    return std::unexpected(std::move(value.error()));
  }
  PyRef replacement = PyRef::steal(PyObject_CallOneArg(default_fn, obj));
  if (!replacement) return fetched();
  // The replacement is represented without `default`, so that a `default`
  // answering with another unserializable object cannot loop.
  r.encode_options.default_fn = nullptr;
  PyResult<YamlNode> node = delegate(r, replacement.get(), depth, in_flow, is_key);
  r.encode_options.default_fn = default_fn;
  return node;
}

PyResult<void> check_stack(std::uint32_t depth) {
  if (depth >= limits::kMaxDepth) return std::unexpected(too_deep_error());
  // 0: the thread's stack bounds are unknown; only the depth limit applies.
  const std::size_t left = ostrevane::detail::stack_remaining();
  if (left != 0 && left <= limits::kStackGuardThreshold) return std::unexpected(too_deep_error());
  return {};
}

// rename_anchors on one node, then its children in document order.
struct AnchorRenamer {
  const AddressSet& referenced;
  std::unordered_map<std::uint64_t, std::string> names;
  std::uint32_t counter = 0;

  void rename(YamlNode& node) {
    if (const std::optional<std::string>& anchor = node.anchor()) {
      const std::optional<std::uint64_t> address = address_from_text(*anchor);
      if (address && referenced.contains(*address)) {
        auto [it, fresh] = names.try_emplace(*address);
        if (fresh) it->second = numbered_name(++counter);
        node.set_anchor(it->second);
      } else {
        node.set_anchor(std::nullopt);
      }
    }
    if (node.kind() == NodeKind::Alias) {
      if (const std::optional<std::uint64_t> address = address_from_text(node.text())) {
        if (auto it = names.find(*address); it != names.end()) node.set_alias(it->second);
      }
    }
    for (YamlNode& child : node.children()) {
      // Only collections go deeper; the rest is done without the guard's
      // stack check.
      if (child.is_collection()) {
        with_stack_guard([&] { rename(child); });
      } else {
        rename(child);
      }
    }
  }

  static std::string numbered_name(std::uint32_t n) {
    std::string name = "id";
    char digits[10];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    const auto len = static_cast<std::size_t>(end - digits);
    if (len < 3) name.append(3 - len, '0');
    name.append(digits, len);
    return name;
  }
};

}  // namespace

PyResult<OwnedItems> collect_iterable(PyObject* obj) {
  PyRef iterator = PyRef::steal(PyObject_GetIter(obj));
  if (!iterator) return fetched();
  OwnedItems items;
  while (PyObject* item = PyIter_Next(iterator.get())) items.push_back(PyRef::steal(item));
  if (PyErr_Occurred()) return fetched();
  return items;
}

Representer::~Representer() {
  const bool locked = gil_held_here();
  for (PyObject* obj : keep_alive) {
    if (locked) {
      Py_DECREF(obj);
    } else {
      detail::defer_decref(obj);
    }
  }
}

YamlNode new_node(YamlNode node) noexcept {
  node.synthetic = true;
  return node;
}

PyResult<YamlNode> represent_object(Representer& r, PyObject* obj, std::uint32_t depth,
                                    bool in_flow, bool is_key) {
  OSV_TRY(check_stack(depth));
  const bool tracked = is_tracked(obj);
  const std::uint64_t address = address_of(obj);
  if (tracked) {
    if (!r.seen.empty() && r.seen.contains(address)) {
      r.aliased.insert(address);
      return new_node(YamlNode::alias(address_text(address)));
    }
    r.seen.insert(address);
    Py_INCREF(obj);
    r.keep_alive.push_back(obj);
  }
  PyRef answer = PyRef::steal(PyObject_CallOneArg(r.represent, obj));
  if (!answer) return fetched();
  YamlNode node = answer.get() != Py_None
                      ? OSV_TRY(apply_represent_result(r, answer.get(), depth, in_flow, is_key))
                      : OSV_TRY(represent_default(r, obj, depth, in_flow, is_key));
  const bool delegated = std::exchange(r.delegated, false);
  if (!tracked) return node;
  if (delegated || node.kind() == NodeKind::Alias || node.anchor()) {
    if (r.aliased.contains(address)) return std::unexpected(self_reference_error());
    r.seen.erase(address);
    return node;
  }
  node.set_anchor(address_text(address));
  return node;
}

void rename_anchors(YamlNode& root, const AddressSet& referenced) {
  AnchorRenamer renamer{referenced, {}, 0};
  with_stack_guard([&] { renamer.rename(root); });
}

PyResult<YamlNode> represent_root(const RepresentSettings& settings, PyObject* obj) {
  PyResult<YamlNode> root = [&]() -> PyResult<YamlNode> {
    Representer r(settings);
    PyResult<YamlNode> node = represent_object(r, obj, 0, false, false);
    if (node) rename_anchors(*node, r.aliased);
    return node;
  }();
  if (root) return root;
  if (!root.error().matches(PyExc_RecursionError)) return root;
  PyObject* cause = root.error().materialise();
  PyError error = too_deep_error();
  if (PyObject* exc = error.materialise(); exc != nullptr && cause != nullptr) {
    Py_INCREF(cause);
    PyException_SetCause(exc, cause);
  }
  return std::unexpected(std::move(error));
}

}  // namespace ostrevane::ffi
