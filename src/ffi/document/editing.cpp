#include "ffi/document/editing.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "ffi/convert/py_to_node.hpp"
#include "ffi/document.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/node.hpp"
#include "ffi/document/reading.hpp"
#include "ffi/document/view.hpp"
#include "ffi/entry_guard.hpp"
#include "roundtrip/document/stream_edit.hpp"
#include "roundtrip/edit.hpp"

namespace ostrevane::ffi {
namespace {

DocumentObject* as_doc(PyObject* self) noexcept { return reinterpret_cast<DocumentObject*>(self); }

// `key` as an unsigned 64-bit index, with the conversion's own error
// (TypeError for a non-integer, OverflowError for a negative or too large
// one).
PyResult<std::uint64_t> index_of(PyObject* key) {
  PyRef index = PyRef::steal(PyNumber_Index(key));
  if (!index) return std::unexpected(PyError::fetch());
  const unsigned long long n = PyLong_AsUnsignedLongLong(index.get());
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return std::unexpected(PyError::fetch());
  }
  return static_cast<std::uint64_t>(n);
}

PyError out_of_range() { return PyError::builtin(PyExc_IndexError, "index out of range"); }

// Where an edit happens: a container of root `root`, reached by `path`.
struct Place {
  DocumentObject* doc;
  std::size_t root;
  NodePath path;

  [[nodiscard]] const YamlNode* find() const noexcept {
    return resolve_node_path(doc->data.roots, root, path);
  }
  // Found again for changing it: the caller checked it resolves, and the
  // exclusive borrow kept the tree as it was.
  [[nodiscard]] YamlNode& edit() const noexcept {
    return *resolve_node_path_for_edit(doc->data.roots, root, path);
  }
  [[nodiscard]] const YamlNode& root_node() const noexcept { return doc->data.roots[root]; }
};

// The container the edit changes: the node at the place, or, for an alias,
// the collection it refers to (the place moves to its definition). A
// missing node is `stale`; anything but a mapping or sequence TypeError.
PyResult<const YamlNode*> container(Place& place, const char* stale) {
  const YamlNode* node = place.find();
  if (node == nullptr) return std::unexpected(key_error(stale));
  if (node->kind() == NodeKind::Alias) {
    DocumentReader reader(place.doc, place.root);
    const YamlNode* target = reader.followed(*node);
    if (target != nullptr && target->is_collection()) {
      if (std::optional<NodePath> path = find_node_path(place.root_node(), *target)) {
        place.path = std::move(*path);
        node = target;
      }
    }
  }
  if (!node->is_collection()) {
    return std::unexpected(PyError::builtin(PyExc_TypeError, "node is not a mapping or sequence"));
  }
  return node;
}

// A container an edit left without entries gives up the comment lines after
// its last one (they have no place after "{}" or "[]").
void settle_emptied(const Place& place) {
  const YamlNode* node = place.find();
  if (node == nullptr || !node->children().empty() || node->comments.foot().empty()) return;
  std::size_t index = 0;
  if (YamlNode* parent =
          resolve_parent_for_edit(place.doc->data.roots, place.root, place.path, index)) {
    settle_lines(*parent, index);
  }
}

// The collection that holds the container at the place (nullptr for a
// root).
const YamlNode* outer_holder(const Place& place) noexcept {
  return resolve_holders(place.doc->data.roots, place.root, place.path).parent;
}

PyResult<void> set_item(Place place, PyObject* key, PyObject* value, const char* stale) {
  const YamlNode* node = OSV_TRY(container(place, stale));
  const PyToNodeSettings settings = to_node_settings(place.doc->data);
  if (node->kind() == NodeKind::Sequence) {
    const std::uint64_t index = OSV_TRY(index_of(key));
    if (index >= place.find()->item_count()) return std::unexpected(out_of_range());
    YamlNode fresh = OSV_TRY(py_to_node(value, settings));
    YamlNode& sequence = place.edit();
    OSV_TRY(refuse_replacement(place.root_node(), sequence.items()[index], fresh,
                               {&sequence, outer_holder(place)}));
    const std::uint32_t blanks = closing_blank_lines(sequence.items()[index]);
    replace_node(sequence.items()[index], std::move(fresh));
    drop_contradicted_tag(sequence.items()[index], settings.mode);
    settle_lines(sequence, index, blanks);
    return {};
  }
  YamlNode fresh = OSV_TRY(py_to_node(value, settings));
  std::optional<std::size_t> pair;
  {
    DocumentReader reader(place.doc, place.root);
    pair = OSV_TRY(find_matching_pair(reader, *place.find(), key));
  }
  if (!pair) {
    YamlNode fresh_key = OSV_TRY(py_to_node(key, settings));
    append_new_pair(place.edit(), std::move(fresh_key), std::move(fresh));
    return {};
  }
  YamlNode& mapping = place.edit();
  OSV_TRY(refuse_replacement(place.root_node(), mapping.value(*pair), fresh,
                             {&mapping, outer_holder(place)}));
  const std::uint32_t blanks = closing_blank_lines(mapping.value(*pair));
  replace_node(mapping.value(*pair), std::move(fresh));
  drop_contradicted_tag(mapping.value(*pair), settings.mode);
  settle_lines(mapping, 2 * *pair + 1, blanks);
  return {};
}

PyResult<void> delete_item(Place place, PyObject* key, const char* stale) {
  const YamlNode* node = OSV_TRY(container(place, stale));
  if (node->kind() == NodeKind::Sequence) {
    const std::uint64_t index = OSV_TRY(index_of(key));
    if (index >= place.find()->item_count()) return std::unexpected(out_of_range());
    YamlNode& sequence = place.edit();
    const Removal old{&sequence.items()[index], false};
    OSV_TRY(refuse_stranding(place.root_node(), std::span(&old, 1)));
    erase_item(sequence, index);
    settle_emptied(place);
    return {};
  }
  std::vector<std::size_t> pairs;
  {
    DocumentReader reader(place.doc, place.root);
    pairs = OSV_TRY(all_matching_pairs(reader, *place.find(), key));
  }
  if (pairs.empty()) {
    PyRef exc = PyRef::steal(PyObject_CallOneArg(PyExc_KeyError, key));
    if (!exc) return std::unexpected(PyError::fetch());
    return std::unexpected(PyError::from_object(std::move(exc)));
  }
  YamlNode& mapping = place.edit();
  std::vector<Removal> removals;
  removals.reserve(2 * pairs.size());
  for (const std::size_t i : pairs) {
    removals.push_back({&mapping.key(i), false});
    removals.push_back({&mapping.value(i), false});
  }
  OSV_TRY(refuse_stranding(place.root_node(), removals));
  erase_pairs(mapping, pairs);
  settle_emptied(place);
  return {};
}

// A stream of several documents, or none: doc[i] = value and del doc[i].
PyResult<void> edit_document_list(DocumentObject* doc, PyObject* key, PyObject* value) {
  const std::uint64_t index = OSV_TRY(index_of(key));
  DocumentData& data = doc->data;
  if (index >= data.roots.size()) return std::unexpected(out_of_range());
  if (value == nullptr) {
    remove_stream_document(data, static_cast<std::size_t>(index));
    return {};
  }
  YamlNode fresh = OSV_TRY(py_to_node(value, to_node_settings(data)));
  replace_stream_document(data, static_cast<std::size_t>(index), std::move(fresh));
  return {};
}

}  // namespace

PyResult<void> refuse_stranding(const YamlNode& root, std::span<const Removal> removals) {
  if (const std::optional<std::string> name = stranded_alias(root, removals)) {
    return std::unexpected(
        PyError::builtin(PyExc_ValueError, anchor_still_referenced_message(*name)));
  }
  return {};
}

PyResult<void> refuse_replacement(const YamlNode& root, const YamlNode& target,
                                  const YamlNode& replacement, PathHolders holders) {
  const Removal old{&target, true};
  OSV_TRY(refuse_stranding(root, std::span(&old, 1)));
  return refuse_unmergeable(root, target, replacement, holders);
}

PyResult<void> refuse_unmergeable(const YamlNode& root, const YamlNode& target,
                                  const YamlNode& replacement, PathHolders holders) {
  if (const std::optional<std::string> name =
          unmergeable_replacement(root, target, replacement, holders.parent, holders.grandparent)) {
    return std::unexpected(
        PyError::builtin(PyExc_ValueError, unmergeable_replacement_message(*name)));
  }
  return {};
}

PyResult<void> refuse_document_objects(PyObject* value) {
  PyTypeObject* const live[] = {OSV_TRY(document_type_object()),
                                OSV_TRY(document_view_type_object()), OSV_TRY(node_type_object())};
  const auto is_live = [&](PyObject* obj) {
    for (PyTypeObject* type : live) {
      if (Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type)) return true;
    }
    return false;
  };
  // No Python code runs during the walk, so borrowed references stay valid.
  // Each container is looked into once: a list holding itself twice would
  // otherwise be walked 2**1000 times before the conversion's depth bound.
  std::vector<PyObject*> stack{value};
  std::unordered_set<PyObject*> seen;
  while (!stack.empty()) {
    PyObject* obj = stack.back();
    stack.pop_back();
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
        obj == Py_None || PyBool_Check(obj)) {
      continue;
    }
    const bool list = PyList_Check(obj);
    if (list || PyDict_Check(obj)) {
      if (!seen.insert(obj).second) continue;
      if (list) {
        for (Py_ssize_t i = PyList_GET_SIZE(obj); i > 0; --i) {
          stack.push_back(PyList_GET_ITEM(obj, i - 1));
        }
        continue;
      }
      const std::size_t first = stack.size();
      Py_ssize_t pos = 0;
      PyObject* key = nullptr;
      PyObject* item = nullptr;
      while (PyDict_Next(obj, &pos, &key, &item)) {
        stack.push_back(key);
        stack.push_back(item);
      }
      // Keys before values, pairs in order, as the conversion meets them.
      std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
      continue;
    }
    if (is_live(obj)) return std::unexpected(unconvertible_value_error(obj));
  }
  return {};
}

PyToNodeSettings to_node_settings(const DocumentData& data) noexcept {
  return {data.prefer_double_quotes, data.resolver_mode, data.timestamps};
}

int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
  return guarded_status([&]() -> PyResult<void> {
    if (value != nullptr) {
      OSV_TRY(refuse_document_objects(value));
      OSV_TRY(refuse_document_objects(key));
    }
    MemberBorrow held = OSV_TRY(MemberBorrow::take(
        as_doc(self)->borrows,
        value != nullptr ? document_borrow("__setitem__") : document_borrow("__delitem__")));
    DocumentObject* doc = as_doc(self);
    if (doc->data.roots.size() != 1) return edit_document_list(doc, key, value);
    Place place{doc, 0, NodePath()};
    // The root always resolves; the text is never used.
    constexpr const char* kNeverStale = "stale document";
    if (value == nullptr) return delete_item(std::move(place), key, kNeverStale);
    return set_item(std::move(place), key, value, kNeverStale);
  });
}

int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
  return guarded_status([&]() -> PyResult<void> {
    if (value != nullptr) {
      OSV_TRY(refuse_document_objects(value));
      OSV_TRY(refuse_document_objects(key));
    }
    ViewObject* view = reinterpret_cast<ViewObject*>(self);
    const ViewMemberRule rule =
        value != nullptr ? view_borrow("__setitem__") : view_borrow("__delitem__");
    MemberBorrow own = OSV_TRY(MemberBorrow::take(view->borrows, rule.view));
    DocumentObject* doc = view->cursor.doc();
    MemberBorrow document = OSV_TRY(MemberBorrow::take(doc->borrows, rule.document));
    Place place{doc, view->cursor.root, view->cursor.path.clone()};
    if (value == nullptr) return delete_item(std::move(place), key, "stale view");
    return set_item(std::move(place), key, value, "stale view");
  });
}

}  // namespace ostrevane::ffi
