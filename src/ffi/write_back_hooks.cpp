// Test-only entry points of write-back, compiled in with the test_hooks
// build option: they change a loaded document the way edits do (until the
// editing members exist, tests have no other way to dirty a tree), and make
// the next flush or close of a replaced file fail.
#include "ffi/write_back_hooks.hpp"

#ifdef OSTREVANE_TEST_HOOKS
#include <cerrno>
#include <string>

#include "directives/atomic_write.hpp"
#include "ffi/document.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/test_hooks.hpp"
#include "roundtrip/document/stream_edit.hpp"
#endif

namespace ostrevane::ffi {

#ifdef OSTREVANE_TEST_HOOKS
namespace {

PyError hook_error(std::string message) {
  return PyError::builtin(PyExc_ValueError, "test hook: " + std::move(message));
}

// The node at `path` (ints index sequences, strs match plain mapping keys).
PyResult<YamlNode*> walk(YamlNode& root, PyObject* path) {
  YamlNode* node = &root;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(path); ++i) {
    PyObject* step = PyTuple_GET_ITEM(path, i);
    if (PyLong_Check(step)) {
      const Py_ssize_t index = PyLong_AsSsize_t(step);
      if (node->kind() != NodeKind::Sequence || index < 0 ||
          static_cast<std::size_t>(index) >= node->item_count()) {
        return std::unexpected(hook_error("no such item"));
      }
      node = &node->items()[static_cast<std::size_t>(index)];
      continue;
    }
    const char* key = PyUnicode_AsUTF8(step);
    if (key == nullptr) return std::unexpected(PyError::fetch());
    YamlNode* found = nullptr;
    for (std::size_t p = 0; node->kind() == NodeKind::Mapping && p < node->pair_count(); ++p) {
      if (node->key(p).text() == key) found = &node->value(p);
    }
    if (found == nullptr) return std::unexpected(hook_error(std::string("no key ") + key));
    node = found;
  }
  return node;
}

// _edit_for_test(doc, root, path, how, text=None). how: "mark" sets the
// modified flag; "set" gives a scalar a new text in place (source kept);
// "replace" puts a new plain scalar there (source gone); "delete_root"
// removes the root and the loaded text, as deleting a document does.
PyResult<PyRef> edit_for_test(PyObject* args) {
  PyObject* obj = nullptr;
  Py_ssize_t root_index = 0;
  PyObject* path = nullptr;
  const char* how = nullptr;
  const char* text = nullptr;
  if (!PyArg_ParseTuple(args, "OnO!s|z", &obj, &root_index, &PyTuple_Type, &path, &how, &text)) {
    return std::unexpected(PyError::fetch());
  }
  DocumentObject* doc = OSV_TRY(as_document(obj));
  if (doc == nullptr) return std::unexpected(hook_error("not a document"));
  DocumentData& data = doc->data;
  if (root_index < 0 || static_cast<std::size_t>(root_index) >= data.roots.size()) {
    return std::unexpected(hook_error("no such root"));
  }
  const std::string_view mode = how;
  if (mode == "delete_root") {
    remove_stream_document(data, static_cast<std::size_t>(root_index));
    return PyRef::borrow(Py_None);
  }
  YamlNode* node = OSV_TRY(walk(data.roots[static_cast<std::size_t>(root_index)], path));
  if (mode == "set") {
    node->set_scalar(text != nullptr ? text : "", ScalarStyle::Plain);
  } else if (mode == "replace") {
    *node = YamlNode::scalar(text != nullptr ? text : "");
  } else if (mode != "mark") {
    return std::unexpected(hook_error("unknown edit"));
  }
  node->comments.modified = true;
  return PyRef::borrow(Py_None);
}

// _fail_next_write_for_test("fsync" or "close", errno)
PyResult<PyRef> fail_next_write_for_test(PyObject* args) {
  const char* step = nullptr;
  int errnum = 0;
  if (!PyArg_ParseTuple(args, "si", &step, &errnum)) return std::unexpected(PyError::fetch());
  const std::string_view name = step;
  if (name != "fsync" && name != "close") return std::unexpected(hook_error("unknown step"));
  fail_next_atomic_write_step(name == "fsync" ? AtomicWriteStep::Fsync : AtomicWriteStep::Close,
                              errnum);
  return PyRef::borrow(Py_None);
}

PyResult<PyRef> temp_file_counter_for_test(PyObject*) {
  PyObject* value = PyLong_FromUnsignedLongLong(temp_file_counter_value());
  if (value == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(value);
}

template <PyResult<PyRef> (*Body)(PyObject*)>
PyObject* entry(PyObject* /*self*/, PyObject* args) {
  return guarded_call([&] { return Body(args); });
}

PyMethodDef g_hooks[] = {
    {"_edit_for_test", entry<edit_for_test>, METH_VARARGS,
     "_edit_for_test(doc, root, path, how, text=None, /)\n--\n\nTest-only: dirty a document."},
    {"_fail_next_write_for_test", entry<fail_next_write_for_test>, METH_VARARGS,
     "_fail_next_write_for_test(step, errno, /)\n--\n\nTest-only: fail the next fsync or close."},
    {"_temp_file_counter_for_test", entry<temp_file_counter_for_test>, METH_VARARGS,
     "_temp_file_counter_for_test()\n--\n\nTest-only: the next temporary-name counter."},
};

}  // namespace

PyResult<void> add_write_back_hooks(PyObject* module) {
  return add_hook_functions(module, g_hooks);
}
#else
PyResult<void> add_write_back_hooks(PyObject*) { return {}; }
#endif

}  // namespace ostrevane::ffi
