#include "ffi/document.hpp"

#include <charconv>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "ffi/convert/node_to_py.hpp"
#include "ffi/document/borrow_rules.hpp"
#include "ffi/document/document_cursors.hpp"
#include "ffi/document/document_reading.hpp"
#include "ffi/document/editing.hpp"
#include "ffi/document/tree_node.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/write_back.hpp"
#include "roundtrip/document/alias_expansion.hpp"
#include "roundtrip/document/document_text.hpp"

namespace ostrevane::ffi {
namespace {

// The borrow rules of every member: kDocumentBorrows (document/borrow_rules.hpp).

DocumentObject* as_doc(PyObject* self) noexcept { return reinterpret_cast<DocumentObject*>(self); }

PyResult<MemberBorrow> borrow(PyObject* self, BorrowRule rule) {
  return MemberBorrow::take(as_doc(self)->borrows, rule);
}

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

PyResult<PyRef> text_bytes(const DocumentData& data) {
  const DocumentText text = document_to_text(data);
  const std::string_view view = text.view();
  return checked(PyBytes_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size())));
}

// ---------------------------------------------------------------------------
// Members.

PyObject* document_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("__repr__")));
    char digits[24];
    const std::size_t roots = as_doc(self)->data.roots.size();
    char* end = std::to_chars(digits, digits + sizeof digits, roots).ptr;
    std::string text = "OstrevaneDocument(documents=";
    text.append(digits, end);
    text += ')';
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  });
}

PyObject* document_explicit_start(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("explicit_start")));
    const NodeList& roots = as_doc(self)->data.roots;
    return PyRef::borrow(!roots.empty() && roots.front().explicit_start ? Py_True : Py_False);
  });
}

PyObject* document_origin(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("origin")));
    const std::optional<std::string>& origin = as_doc(self)->data.origin;
    if (!origin) return PyRef::borrow(Py_None);
    return checked(
        PyUnicode_FromStringAndSize(origin->data(), static_cast<Py_ssize_t>(origin->size())));
  });
}

PyObject* document_set_origin(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    static const char* keywords[] = {"path", nullptr};
    PyObject* path = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:set_origin", const_cast<char**>(keywords),
                                     &path)) {
      return std::unexpected(PyError::fetch());
    }
    if (!PyUnicode_Check(path)) {
      return std::unexpected(PyError::builtin(
          PyExc_TypeError,
          std::string("set_origin() argument 'path' must be str, not ") + Py_TYPE(path)->tp_name));
    }
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(path, &len);
    if (utf8 == nullptr) return std::unexpected(PyError::fetch());
    std::string text(utf8, static_cast<std::size_t>(len));
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("set_origin")));
    as_doc(self)->data.origin = std::move(text);
    return PyRef::borrow(Py_None);
  });
}

PyObject* document_to_yaml(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("to_yaml")));
    return text_bytes(as_doc(self)->data);
  });
}

PyObject* document_to_dict(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("to_dict")));
    const DocumentData& data = as_doc(self)->data;
    const NodeToPySettings settings{data.resolver_mode, data.timestamps};
    if (data.roots.size() == 1) {
      const YamlNode& root = data.roots.front();
      return node_to_py(root, root, settings);
    }
    PyRef list = OSV_TRY(checked(PyList_New(static_cast<Py_ssize_t>(data.roots.size()))));
    for (std::size_t i = 0; i < data.roots.size(); ++i) {
      const YamlNode& root = data.roots[i];
      PyRef value = OSV_TRY(node_to_py(root, root, settings));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value.release());
    }
    return list;
  });
}

PyObject* document_to_tree(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("to_tree")));
    return document_tree(as_doc(self)->data);
  });
}

PyObject* document_save(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    PyObject* path = OSV_TRY(save_path_argument(args, kwargs));
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("save")));
    return save_document(as_doc(self)->data, path);
  });
}

// Instances hold no Python objects: nothing to untrack or visit.
void document_dealloc(PyObject* self) noexcept {
  DocumentObject* doc = as_doc(self);
  doc->data.~DocumentData();
  doc->borrows.~BorrowCounter();
  free_instance(self);
}

PyMethodDef g_document_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&document_get)),
     METH_VARARGS | METH_KEYWORDS, "get($self, key, default)\n--\n\n"},
    {"keys", reinterpret_cast<PyCFunction>(&document_keys), METH_NOARGS, "keys($self, /)\n--\n\n"},
    {"to_yaml", reinterpret_cast<PyCFunction>(&document_to_yaml), METH_NOARGS,
     "to_yaml($self, /)\n--\n\n"
     "Serialize the document back to YAML bytes, preserving structure.\n\n"
     "A document that is not modified is returned byte for byte as it was loaded;\n"
     "a modified one is re-emitted with its comments, styles and include\n"
     "directives kept."},
    {"set_origin",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&document_set_origin)),
     METH_VARARGS | METH_KEYWORDS,
     "set_origin($self, path)\n--\n\n"
     "Record the path this document was loaded from (used by `save`)."},
    {"range", reinterpret_cast<PyCFunction>(&document_range), METH_NOARGS,
     "range($self, /)\n--\n\n"
     "The 1-based source range `(start_line, start_col, end_line, end_col)` of the\n"
     "document's root node, or `None` for an empty document."},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&document_save)),
     METH_VARARGS | METH_KEYWORDS,
     "save($self, /, path=None)\n--\n\n"
     "Write the document back to disk, saving **only the changed files**.\n\n"
     "An included file is rewritten when something in its part of the tree was\n"
     "modified; the main file when something outside every included part was\n"
     "modified, or when `path` is given (a save-as, which leaves `origin` as it\n"
     "is). Each file is replaced atomically, keeping its permission bits.\n\n"
     "Returns the list of paths that were written."},
    {"to_dict", reinterpret_cast<PyCFunction>(&document_to_dict), METH_NOARGS,
     "to_dict($self, /)\n--\n\n"
     "Return the document as plain Python objects (a resolved snapshot)."},
    {"to_tree", reinterpret_cast<PyCFunction>(&document_to_tree), METH_NOARGS,
     "to_tree($self, /)\n--\n\n"
     "Snapshot one document's values and metadata in a single tree traversal.\n\n"
     "Returns an `OstrevaneTreeNode`, or `None` for an empty document; a stream of\n"
     "several documents is refused (load it with `loads_all`)."},
    {"walk", reinterpret_cast<PyCFunction>(&document_walk), METH_NOARGS,
     "walk($self, /)\n--\n\n"
     "Every scalar leaf of the first document as a `(path, value)` pair, `path` a\n"
     "tuple of mapping keys and sequence indices, for bulk edits through item access."},
    {"locate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&document_locate)),
     METH_VARARGS | METH_KEYWORDS,
     "locate($self, /, path)\n--\n\n"
     "Resolve a data path (mapping keys as `str`, sequence indices as `int`, the\n"
     "shape a validator reports) to a positioned [`OstrevaneNode`], scalar leaves\n"
     "included, or `None` when nothing stands there. The position is the value's\n"
     "own, not its key's. Addresses the first document of a stream."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_document_getset[] = {
    {"origin", &document_origin, nullptr, "The path this document was loaded from, if any.",
     nullptr},
    {"explicit_start", &document_explicit_start, nullptr,
     "Whether the first document used an explicit `---` start marker.\n\n"
     "Read from the parsed tree, so it holds before any edit too.",
     nullptr},
    {"node", &document_node, nullptr,
     "The root [`OstrevaneNode`] cursor: a handle from which any node of the tree\n"
     "is reached by indexing, as in `doc.node[\"server\"][\"port\"]`.",
     nullptr},
    {"anchors", &document_anchors, nullptr,
     "Every anchor name of the first document mapped to the [`OstrevaneNode`] that\n"
     "defines it (a name defined twice: its last definition).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kDocumentDoc[] =
    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\n"
    "Holds the rich AST (comments, styles, anchors, include boundaries) and, when\n"
    "loaded with includes, the `file_id` \xE2\x86\x92 source-path map used for write-back.";

PyType_Slot g_document_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&document_repr)},
    {Py_mp_subscript, reinterpret_cast<void*>(&document_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(&document_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(&document_length)},
    {Py_sq_contains, reinterpret_cast<void*>(&document_contains)},
    {Py_tp_methods, g_document_methods},
    {Py_tp_getset, g_document_getset},
    {0, nullptr},
};

// No tp_new: type_from_slots makes the class refuse instantiation, so every
// instance comes from new_document_object with its contents.
PyType_Spec g_document_spec = {
    "_ostrevane.OstrevaneDocument",
    static_cast<int>(sizeof(DocumentObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_document_slots,
};

OnceCell<PyObject> g_document_type;

}  // namespace

PyResult<PyTypeObject*> document_type_object() {
  return lazy_type_object(g_document_type, g_document_spec, "OstrevaneDocument");
}

PyResult<PyRef> new_document_object(DocumentData data) {
  PyTypeObject* type = OSV_TRY(document_type_object());
  PyObject* self = OSV_TRY(alloc_instance(type));
  DocumentObject* doc = as_doc(self);
  new (&doc->data) DocumentData(std::move(data));
  new (&doc->borrows) BorrowCounter();
  return PyRef::steal(self);
}

PyResult<DocumentObject*> as_document(PyObject* obj) {
  PyTypeObject* type = OSV_TRY(document_type_object());
  if (Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type)) return as_doc(obj);
  return nullptr;
}

PyResult<PyRef> document_text_for_dumps(DocumentObject* doc) {
  PyObject* self = reinterpret_cast<PyObject*>(doc);
  MemberBorrow held = OSV_TRY(borrow(self, document_borrow("dumps")));
  return text_bytes(doc->data);
}

PyResult<PyRef> document_json_values(DocumentObject* doc) {
  PyObject* self = reinterpret_cast<PyObject*>(doc);
  {
    MemberBorrow held = OSV_TRY(borrow(self, document_borrow("to_json")));
    if (doc->data.roots.empty()) return PyRef::borrow(Py_None);
    // to_dict shares one object among the aliases of a definition; the
    // writer would write it out at each of them. Checked here, before any
    // writer is handed the values, with the bounds of a view's to_yaml.
    for (const YamlNode& root : doc->data.roots) {
      Result<void, ExpansionLimitError> bounded =
          check_alias_expansion(root, root, "to_json() of this document");
      if (!bounded) {
        return std::unexpected(
            PyError::builtin(PyExc_ValueError, std::move(bounded.error().message)));
      }
    }
  }
  return checked(PyObject_CallMethod(self, "to_dict", nullptr));
}

}  // namespace ostrevane::ffi
