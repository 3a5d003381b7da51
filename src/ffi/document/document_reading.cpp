#include "ffi/document/document_reading.hpp"

#include <optional>
#include <string_view>

#include "ffi/document.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/reading.hpp"
#include "ffi/entry_guard.hpp"

namespace ostrevane::ffi {
namespace {

DocumentObject* as_doc(PyObject* self) noexcept { return reinterpret_cast<DocumentObject*>(self); }

PyResult<MemberBorrow> borrow(PyObject* self, BorrowRule rule) {
  return MemberBorrow::take(as_doc(self)->borrows, rule);
}

PyResult<PyRef> getitem(PyObject* self, PyObject* key, BorrowRule rule) {
  MemberBorrow held = OSV_TRY(borrow(self, rule));
  DocumentObject* doc = as_doc(self);
  const NodeList& roots = doc->data.roots;
  if (roots.size() == 1) {
    DocumentReader reader(doc, 0);
    return node_getitem(reader, NodePath(), reader.root(), key);
  }
  const std::optional<std::uint64_t> number = OSV_TRY(unsigned_index(key));
  if (!number) {
    return std::unexpected(key_error("multi-document access requires an integer index"));
  }
  if (*number >= roots.size()) {
    return std::unexpected(PyError::builtin(PyExc_IndexError, "index out of range"));
  }
  // The view keeps the root's number, so that it and its children read
  // from this root.
  DocumentReader reader(doc, *number);
  return node_value_or_view(reader, NodePath(), reader.root());
}

}  // namespace

PyObject* document_subscript(PyObject* self, PyObject* key) {
  return guarded_call([&] { return getitem(self, key, document_borrow("__getitem__")); });
}

PyObject* document_get(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const GetArgs get = OSV_TRY(parse_get_args(args, kwargs));
    return value_or_default(getitem(self, get.key, document_borrow("get")), get.fallback);
  });
}

int document_contains(PyObject* self, PyObject* key) {
  return guarded_predicate([&]() -> PyResult<bool> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("__contains__")));
    const NodeList& roots = as_doc(self)->data.roots;
    if (roots.size() != 1) return false;
    const std::optional<std::string_view> text = str_text(key);
    return text && mapping_has_text_key(roots.front(), *text);
  });
}

Py_ssize_t document_length(PyObject* self) {
  return guarded_size([&]() -> PyResult<Py_ssize_t> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("__len__")));
    DocumentObject* doc = as_doc(self);
    if (doc->data.roots.size() != 1) return static_cast<Py_ssize_t>(doc->data.roots.size());
    DocumentReader reader(doc, 0);
    return node_length(reader, reader.root());
  });
}

PyObject* document_keys(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("keys")));
    DocumentObject* doc = as_doc(self);
    if (doc->data.roots.size() != 1) {
      return std::unexpected(PyError::builtin(
          PyExc_TypeError, "keys() is only available on a single mapping document"));
    }
    DocumentReader reader(doc, 0);
    if (reader.root().kind() != NodeKind::Mapping) {
      return std::unexpected(PyError::builtin(PyExc_TypeError, "node is not a mapping"));
    }
    return mapping_keys_list(reader, reader.root());
  });
}

PyObject* document_walk(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("walk")));
    DocumentObject* doc = as_doc(self);
    if (doc->data.roots.empty()) {
      PyObject* empty = PyList_New(0);
      if (empty == nullptr) return std::unexpected(PyError::fetch());
      return PyRef::steal(empty);
    }
    DocumentReader reader(doc, 0);
    return walk_list(reader, reader.root());
  });
}

PyObject* document_range(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("range")));
    const NodeList& roots = as_doc(self)->data.roots;
    if (roots.empty()) return PyRef::borrow(Py_None);
    return node_position_tuple(roots.front());
  });
}

}  // namespace ostrevane::ffi
