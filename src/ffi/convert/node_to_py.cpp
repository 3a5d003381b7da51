#include "ffi/convert/node_to_py.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "decode/decoder.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/convert/detail/list_build.hpp"
#include "ffi/convert/detail/node_py.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/passes/passes.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::string_view kMergeKey = "<<";

}  // namespace

namespace detail {

// ---------------------------------------------------------------------------
// Scalars.

bool is_ascii(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t bits = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    bits |= word;
  }
  for (; n > 0; ++p, --n) bits |= static_cast<unsigned char>(*p);
  return (bits & 0x8080808080808080ull) == 0;
}

PyObject* new_str(std::string_view text) noexcept {
  const auto len = static_cast<Py_ssize_t>(text.size());
  if (is_ascii(text)) [[likely]] {
    PyObject* str = PyUnicode_New(len, 127);
    if (str != nullptr && len > 0) std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
    return str;
  }
  return PyUnicode_DecodeUTF8(text.data(), len, "surrogatepass");
}

}  // namespace detail

namespace {

using detail::new_str;

// Whether aliases may read the node (an anchor of its own, or the one on
// the line of the directive that produced it); read through the inline
// extras pointer, which most nodes leave empty.
bool is_anchored(const YamlNode& node) noexcept { return defines_any_anchor(node); }

// The tag as it reads (its %TAG expansion), as the plain road reads it.
const std::string* tag_of(const YamlNode& node) noexcept { return node.read_tag(); }

}  // namespace

namespace detail {

// ---------------------------------------------------------------------------
// Merge keys on Python dicts. Sources are objects this conversion made (or
// shares through an alias); nothing runs Python code while they are read.

bool merge_into_py_dict(PyObject* target, PyObject* source, PyRef& leftover) {
  if (source == Py_None) return true;
  if (PyDict_Check(source)) {
    const Py_ssize_t size = PyDict_GET_SIZE(source);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(source, &pos, &key, &value)) {
      const int present = PyDict_Contains(target, key);
      if (present < 0) return false;
      if (!present && PyDict_SetItem(target, key, value) < 0) return false;
      if (PyDict_GET_SIZE(source) != size) {
        PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
        return false;
      }
    }
    return true;
  }
  if (PyList_Check(source)) {
    PyRef kept;
    const Py_ssize_t len = PyList_GET_SIZE(source);
    for (Py_ssize_t i = 0; i < len && i < PyList_GET_SIZE(source); ++i) {
      PyRef item = PyRef::borrow(PyList_GET_ITEM(source, i));
      PyRef item_leftover;
      if (!merge_into_py_dict(target, item.get(), item_leftover)) return false;
      if (!item_leftover) continue;
      if (!kept) {
        kept = PyRef::steal(PyList_New(0));
        if (!kept) return false;
      }
      if (PyList_Append(kept.get(), item_leftover.get()) < 0) return false;
    }
    leftover = std::move(kept);
    return true;
  }
  leftover = PyRef::borrow(source);
  return true;
}

bool preserve_merge_slot(PyObject* dict, PyObject* key, PyRef leftover, bool& slot_taken) {
  if (!slot_taken) {
    const int present = PyDict_Contains(dict, key);
    if (present < 0) return false;
    if (present) return true;
    if (PyDict_SetItem(dict, key, leftover.get()) < 0) return false;
    slot_taken = true;
    return true;
  }
  PyObject* current = PyDict_GetItemWithError(dict, key);
  if (current == nullptr) {
    if (PyErr_Occurred()) return false;
    return PyDict_SetItem(dict, key, leftover.get()) == 0;
  }
  PyRef slot = PyRef::borrow(current);
  if (!PyList_Check(current)) {
    slot = PyRef::steal(PyList_New(1));
    if (!slot) return false;
    PyList_SET_ITEM(slot.get(), 0, Py_NewRef(current));
    if (PyDict_SetItem(dict, key, slot.get()) < 0) return false;
  }
  if (!PyList_Check(leftover.get())) return PyList_Append(slot.get(), leftover.get()) == 0;
  const Py_ssize_t len = PyList_GET_SIZE(leftover.get());
  for (Py_ssize_t i = 0; i < len && i < PyList_GET_SIZE(leftover.get()); ++i) {
    if (PyList_Append(slot.get(), PyList_GET_ITEM(leftover.get(), i)) < 0) return false;
  }
  return true;
}

PyResult<PyRef> resolved_scalar_to_py(ResolverMode mode, std::string_view text, bool plain,
                                      OptionalTag tag) {
  const ResolvedScalar r = resolve_scalar_kind(mode, text, plain, tag);
  PyObject* obj = nullptr;
  switch (r.kind) {
    case ResolvedScalar::Kind::Null:
      return PyRef::borrow(Py_None);
    case ResolvedScalar::Kind::Bool:
      return PyRef::borrow(r.boolean ? Py_True : Py_False);
    case ResolvedScalar::Kind::Int:
      obj = PyLong_FromLongLong(r.integer);
      break;
    case ResolvedScalar::Kind::Float:
      obj = PyFloat_FromDouble(r.number);
      break;
    case ResolvedScalar::Kind::BigInt:
      if (const std::optional<BigIntLiteral> literal = parse_big_int_literal(text)) {
        return py_int_from_digits(literal->digits, literal->base);
      }
      return py_int_from_digits(text, 10);
    case ResolvedScalar::Kind::Merge:
      obj = new_str(kMergeKey);
      break;
    case ResolvedScalar::Kind::Str:
      obj = new_str(text);
      break;
  }
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

}  // namespace detail

namespace detail {

// ---------------------------------------------------------------------------
// The conversion. A failure is nullptr, with the error either raised in the
// interpreter or kept in `error_`; `take_error` hands over whichever it is.
// The caches outlive a failure: they hold only objects completed before it.

class NodeConverter {
 public:
  NodeConverter(const YamlNode& root, const NodeToPySettings& settings)
      : root_(root), settings_(settings) {}

  PyObject* value(const YamlNode& node, unsigned depth);
  PyObject* key_of(const YamlNode& node) { return checked_key(node, 0); }

  PyError take_error() {
    if (error_) {
      PyError error = std::move(*error_);
      error_.reset();
      return error;
    }
    return PyError::fetch();
  }

 private:
  using ObjectCache = std::unordered_map<const YamlNode*, PyRef>;

  PyObject* child(const YamlNode& node, unsigned depth) {
    if ((depth & 7u) == 0) return with_stack_guard([&] { return value(node, depth); });
    return value(node, depth);
  }
  PyObject* child_key(const YamlNode& node, unsigned depth) {
    if ((depth & 7u) == 0) return with_stack_guard([&] { return key(node, depth); });
    return key(node, depth);
  }

  PyObject* content(const YamlNode& node, unsigned depth);
  // `obj` (consumed; may be nullptr) after the tag callbacks, when they apply.
  PyObject* tagged(const YamlNode& node, PyObject* obj);
  PyObject* scalar(const YamlNode& node);
  PyObject* resolved(std::string_view text, bool plain, OptionalTag tag);
  PyObject* sequence(const YamlNode& node, unsigned depth);
  PyObject* mapping(const YamlNode& node, unsigned depth);
  PyObject* alias(const YamlNode& node, unsigned depth);
  PyObject* key(const YamlNode& node, unsigned depth);
  // key() for the key of a pair, refused when it nests too deep.
  PyObject* checked_key(const YamlNode& node, unsigned depth);
  std::uint32_t key_height(const YamlNode& node, std::uint32_t level);
  std::uint32_t key_content_height(const YamlNode& node, std::uint32_t level);
  PyObject* key_content(const YamlNode& node, unsigned depth);
  const YamlNode* alias_target(const YamlNode& alias);

  PyObject* fail(PyError error) {
    error_.emplace(std::move(error));
    return nullptr;
  }
  PyObject* unwrap(PyResult<PyRef> result) {
    if (!result) return fail(std::move(result.error()));
    return result->release();
  }
  // Keeps `obj` (may be nullptr) as the object of `node`; returns a new
  // reference to it.
  static PyObject* remember(ObjectCache& cache, const YamlNode& node, PyObject* obj) {
    if (obj != nullptr) cache.emplace(&node, PyRef::borrow(obj));
    return obj;
  }

  const YamlNode& root_;
  const NodeToPySettings& settings_;
  std::optional<AnchorIndex> index_;
  // Anchored nodes: their value objects and, for collections used as keys,
  // their key objects.
  ObjectCache values_;
  ObjectCache keys_;
  // Alias targets met inside keys: their height as keys.
  std::unordered_map<const YamlNode*, std::uint32_t> key_heights_;
  SharedTagStrs tag_strs_;
  std::optional<PyError> error_;
};

PyObject* NodeConverter::value(const YamlNode& node, unsigned depth) {
  if (!is_anchored(node) || node.kind() == NodeKind::Alias) [[likely]] {
    return tagged(node, content(node, depth));
  }
  if (const auto it = values_.find(&node); it != values_.end()) {
    return Py_NewRef(it->second.get());
  }
  return remember(values_, node, tagged(node, content(node, depth)));
}

PyObject* NodeConverter::tagged(const YamlNode& node, PyObject* obj) {
  if (settings_.tag_options == nullptr || obj == nullptr) [[likely]]
    return obj;
  if (node.kind() == NodeKind::Alias) return obj;
  const std::string* tag = tag_of(node);
  if (tag == nullptr || !is_custom_tag(*tag)) return obj;
  return unwrap(apply_tag_callbacks(*tag, node.tag_is_expanded(), PyRef::steal(obj),
                                    *settings_.tag_options, tag_strs_));
}

PyObject* NodeConverter::content(const YamlNode& node, unsigned depth) {
  switch (node.kind()) {
    case NodeKind::Scalar:
      return scalar(node);
    case NodeKind::Sequence:
      return sequence(node, depth);
    case NodeKind::Mapping:
      return mapping(node, depth);
    case NodeKind::Alias:
      return alias(node, depth);
    case NodeKind::Null:
      if (const std::string* tag = tag_of(node)) {
        return resolved(std::string_view(), true, std::string_view(*tag));
      }
      return Py_NewRef(Py_None);
  }
  return Py_NewRef(Py_None);
}

PyObject* NodeConverter::scalar(const YamlNode& node) {
  const std::string_view text = node.text();
  const bool plain = node.scalar_style() == ScalarStyle::Plain;
  const std::string* tag = tag_of(node);
  if (tag == nullptr) {
    if (!plain) return new_str(text);
    if (settings_.timestamps) {
      if (const std::optional<Timestamp> ts = parse_timestamp(text)) {
        // A timestamp the interpreter refuses reads as what its text says.
        if (PyResult<PyRef> obj = timestamp_to_py(*ts)) return obj->release();
      }
    }
    return resolved(text, true, std::nullopt);
  }
  return resolved(text, plain, std::string_view(*tag));
}

PyObject* NodeConverter::resolved(std::string_view text, bool plain, OptionalTag tag) {
  return unwrap(detail::resolved_scalar_to_py(settings_.mode, text, plain, tag));
}

PyObject* NodeConverter::sequence(const YamlNode& node, unsigned depth) {
  const auto items = node.items();
  return detail::build_list(items.size(),
                            [&](std::size_t i) { return child(items[i], depth + 1); });
}

// Explicit keys overwrite whatever a merge brought, before or after them; a
// merge only fills keys that are missing, so among several sources the
// first one to supply a key wins. Which objects aliases give does not depend
// on the order of conversion, so one loop serves mappings with and without
// merge keys.
PyObject* NodeConverter::mapping(const YamlNode& node, unsigned depth) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  bool slot_taken = false;
  for (std::size_t i = 0; i < node.pair_count(); ++i) {
    const YamlNode& key_node = node.key(i);
    if (is_merge_key(key_node)) [[unlikely]] {
      PyRef v = PyRef::steal(child(node.value(i), depth + 1));
      if (!v) return nullptr;
      if (!detail::merge_pair(
              dict.get(), v.get(), [&] { return checked_key(key_node, depth + 1); },
              slot_taken)) {
        return nullptr;
      }
      continue;
    }
    PyRef k = PyRef::steal(checked_key(key_node, depth + 1));
    if (!k) return nullptr;
    PyRef v = PyRef::steal(child(node.value(i), depth + 1));
    if (!v) return nullptr;
    if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    // A quoted or otherwise tagged "<<" replaced what the merges kept there.
    if (slot_taken && key_node.kind() == NodeKind::Scalar && key_node.text() == kMergeKey) {
      slot_taken = false;
    }
  }
  return dict.release();
}

const YamlNode* NodeConverter::alias_target(const YamlNode& alias) {
  if (settings_.index != nullptr) return settings_.index->target(alias);
  if (!index_) index_.emplace(root_);
  return index_->target(alias);
}

PyObject* NodeConverter::alias(const YamlNode& node, unsigned depth) {
  const YamlNode* target = alias_target(node);
  if (target == nullptr) return Py_NewRef(Py_None);
  return child(*target, depth + 1);
}

PyObject* NodeConverter::key(const YamlNode& node, unsigned depth) {
  const YamlNode* target = &node;
  if (node.kind() == NodeKind::Alias) {
    target = alias_target(node);
    if (target == nullptr) return Py_NewRef(Py_None);
  }
  if (!target->is_collection()) return value(*target, depth);
  if (!is_anchored(*target)) return key_content(*target, depth);
  if (const auto it = keys_.find(target); it != keys_.end()) {
    return Py_NewRef(it->second.get());
  }
  return remember(keys_, *target, key_content(*target, depth));
}

// A key becomes a tuple that the interpreter hashes and compares recursively
// with no depth check of its own, and aliases can make it far deeper than
// the composer lets any text nest: a key deeper than the nesting limit
// (levels counted as the decoder counts them, aliases expanded) is refused
// before it is built, as the plain decoder refuses it.
PyObject* NodeConverter::checked_key(const YamlNode& node, unsigned depth) {
  if ((node.kind() == NodeKind::Alias || node.is_collection()) &&
      with_stack_guard([&] { return key_height(node, 1); }) > limits::kMaxDepth) [[unlikely]] {
    return fail(located_error(ExcClass::ParseError,
                              "mapping key nests deeper than the maximum nesting depth (" +
                                  std::to_string(limits::kMaxDepth) + ")",
                              node.span.line, node.span.column, std::nullopt));
  }
  return child_key(node, depth);
}

// Levels of `node` as a key, at `level` below the key's top: exact while
// the key stays within the limit, else some value past it (the walk stops
// there, so a hostile key costs at most the limit's depth of recursion).
std::uint32_t NodeConverter::key_height(const YamlNode& node, std::uint32_t level) {
  if (level > limits::kMaxDepth) return limits::kMaxDepth + 1;
  if (node.kind() != NodeKind::Alias) {
    if ((level & 7u) == 0) return with_stack_guard([&] { return key_content_height(node, level); });
    return key_content_height(node, level);
  }
  const YamlNode* target = alias_target(node);
  if (target == nullptr) return 1;
  if (const auto it = key_heights_.find(target); it != key_heights_.end()) return it->second;
  const std::uint32_t height = with_stack_guard([&] { return key_content_height(*target, level); });
  // A walk cut short at the limit measured only part of the target.
  if (level + height - 1 <= limits::kMaxDepth) key_heights_.emplace(target, height);
  return height;
}

std::uint32_t NodeConverter::key_content_height(const YamlNode& node, std::uint32_t level) {
  std::uint32_t below = 0;
  if (node.kind() == NodeKind::Sequence) {
    for (const YamlNode& item : node.items()) {
      below = std::max(below, key_height(item, level + 1));
      if (level + below > limits::kMaxDepth) break;
    }
  } else if (node.kind() == NodeKind::Mapping) {
    for (std::size_t i = 0; i < node.pair_count() && level + below <= limits::kMaxDepth; ++i) {
      below = std::max(
          {below, key_height(node.key(i), level + 1), key_height(node.value(i), level + 1)});
    }
  }
  return below + 1;
}

// A collection as a hashable key: a sequence as the tuple of its items, a
// mapping as the tuple of its (key, value) pairs, merge keys not applied.
PyObject* NodeConverter::key_content(const YamlNode& node, unsigned depth) {
  if (node.kind() == NodeKind::Sequence) {
    const auto items = node.items();
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyObject* item = child_key(items[i], depth + 1);
      if (item == nullptr) return nullptr;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
  }
  PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(node.pair_count())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < node.pair_count(); ++i) {
    PyObject* k = child_key(node.key(i), depth + 1);
    if (k == nullptr) return nullptr;
    PyObject* v = child_key(node.value(i), depth + 1);
    if (v == nullptr) {
      Py_DECREF(k);
      return nullptr;
    }
    PyObject* pair = PyTuple_Pack(2, k, v);
    Py_DECREF(k);
    Py_DECREF(v);
    if (pair == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair);
  }
  return tuple.release();
}

}  // namespace detail

namespace {

PyResult<PyRef> converted_value(detail::NodeConverter& converter, const YamlNode& node) {
  PyObject* obj = with_stack_guard([&] { return converter.value(node, 0); });
  if (obj == nullptr) return std::unexpected(converter.take_error());
  return PyRef::steal(obj);
}

PyResult<PyRef> converted_key(detail::NodeConverter& converter, const YamlNode& node) {
  PyObject* obj = with_stack_guard([&] { return converter.key_of(node); });
  if (obj == nullptr) return std::unexpected(converter.take_error());
  return PyRef::steal(obj);
}

}  // namespace

NodeToPyCache::NodeToPyCache(const YamlNode& root, const NodeToPySettings& settings)
    : converter_(std::make_unique<detail::NodeConverter>(root, settings)) {}

NodeToPyCache::~NodeToPyCache() = default;

PyResult<PyRef> NodeToPyCache::value(const YamlNode& node) {
  return converted_value(*converter_, node);
}

PyResult<PyRef> NodeToPyCache::key(const YamlNode& node) {
  return converted_key(*converter_, node);
}

PyResult<PyRef> node_to_py(const YamlNode& root, const YamlNode& node,
                           const NodeToPySettings& settings) {
  detail::NodeConverter converter(root, settings);
  return converted_value(converter, node);
}

PyResult<PyRef> node_to_py_key(const YamlNode& root, const YamlNode& node,
                               const NodeToPySettings& settings) {
  detail::NodeConverter converter(root, settings);
  return converted_key(converter, node);
}

PyResult<PyRef> tree_to_python(const YamlNode& root, ResolverMode mode,
                               const TagOptions& tag_options) {
  const NodeToPySettings settings{mode, mode == ResolverMode::Yaml11Compat, &tag_options};
  return node_to_py(root, root, settings);
}

}  // namespace ostrevane::ffi
