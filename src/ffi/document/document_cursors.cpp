#include "ffi/document/document_cursors.hpp"

#include <utility>
#include <vector>

#include "ffi/document.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/node.hpp"
#include "roundtrip/document/anchor_search.hpp"

namespace ostrevane::ffi {
namespace {

DocumentObject* as_doc(PyObject* self) noexcept { return reinterpret_cast<DocumentObject*>(self); }

PyResult<PyRef> cursor_at(PyObject* self, NodePath path) {
  return new_node_object(CursorData{std::move(path), PyRef::borrow(self), 0});
}

// `path` as steps: an iterable (not a str) of str keys and int indices,
// all converted before the document is borrowed.
PyResult<NodePath> data_path(PyObject* path) {
  if (PyUnicode_Check(path)) {
    return std::unexpected(PyError::builtin(
        PyExc_TypeError, "locate() takes a sequence of str/int path segments, not a str"));
  }
  PyRef iter = PyRef::steal(PyObject_GetIter(path));
  if (!iter) return std::unexpected(PyError::fetch());
  NodePath steps;
  while (PyRef item = PyRef::steal(PyIter_Next(iter.get()))) {
    steps.push(OSV_TRY(extract_path_segment(item.get())));
  }
  if (PyErr_Occurred()) return std::unexpected(PyError::fetch());
  return steps;
}

}  // namespace

PyObject* document_node(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    static_assert(document_borrow("node").kind == BorrowKind::None);
    return cursor_at(self, NodePath());
  });
}

PyObject* document_locate(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    static const char* keywords[] = {"path", nullptr};
    PyObject* path = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:locate", const_cast<char**>(keywords),
                                     &path)) {
      return std::unexpected(PyError::fetch());
    }
    NodePath steps = OSV_TRY(data_path(path));
    {
      MemberBorrow held =
          OSV_TRY(MemberBorrow::take(as_doc(self)->borrows, document_borrow("locate")));
      if (resolve_node_path(as_doc(self)->data.roots, 0, steps) == nullptr) {
        return PyRef::borrow(Py_None);
      }
    }
    return cursor_at(self, std::move(steps));
  });
}

PyObject* document_anchors(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    std::vector<AnchorEntry> entries;
    {
      MemberBorrow held =
          OSV_TRY(MemberBorrow::take(as_doc(self)->borrows, document_borrow("anchors")));
      const NodeList& roots = as_doc(self)->data.roots;
      if (!roots.empty()) entries = collect_anchors(roots.front());
    }
    PyObject* dict = PyDict_New();
    if (dict == nullptr) return std::unexpected(PyError::fetch());
    PyRef result = PyRef::steal(dict);
    // A name defined twice ends up at its last definition.
    for (AnchorEntry& entry : entries) {
      PyRef cursor = OSV_TRY(cursor_at(self, std::move(entry.path)));
      PyRef name = PyRef::steal(PyUnicode_DecodeUTF8(
          entry.name.data(), static_cast<Py_ssize_t>(entry.name.size()), "replace"));
      if (!name) return std::unexpected(PyError::fetch());
      if (PyDict_SetItem(dict, name.get(), cursor.get()) < 0) {
        return std::unexpected(PyError::fetch());
      }
    }
    return result;
  });
}

}  // namespace ostrevane::ffi
