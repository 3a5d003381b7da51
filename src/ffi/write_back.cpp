#include "ffi/write_back.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directives/atomic_write.hpp"
#include "directives/paths.hpp"
#include "directives/write_back.hpp"
#include "roundtrip/document/document_text.hpp"

namespace ostrevane::ffi {
namespace {

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

std::string cannot_write(std::string_view path, const FileError& error) {
  std::string message = "cannot write ";
  message += utf8_lossy(path);
  message += ": ";
  message += error.description;
  return message;
}

// The document of dump_includes and dump_includes_map, borrowed shared for
// the call; both failures carry the note naming `doc`.
struct DocumentArgument {
  DocumentObject* doc;
  SharedBorrow held;
};

PyResult<DocumentArgument> extract_document_argument(PyObject* obj, std::string_view name) {
  DocumentObject* doc = OSV_TRY(as_document(obj));
  PyResult<SharedBorrow> held =
      doc != nullptr ? SharedBorrow::take(doc->borrows)
                     : std::unexpected(not_an_instance_error(obj, "OstrevaneDocument"));
  if (!held) {
    held.error().add_processing_note(name);
    return std::unexpected(std::move(held.error()));
  }
  return DocumentArgument{doc, std::move(*held)};
}

PyResult<WriteBackMap> outputs_for_python(const DocumentData& data) {
  Result<WriteBackMap, WriteBackError> map = collect_include_outputs(data);
  if (map) return std::move(*map);
  if (map.error().failure == WriteBackFailure::NoFileTable) {
    return std::unexpected(PyError::builtin(PyExc_ValueError, std::string(kNoFileTableMessage)));
  }
  return std::unexpected(include_error_to_py(map.error().include));
}

PyResult<void> append_path(PyObject* list, std::string_view path) {
  PyRef text = OSV_TRY(checked(path_to_str(path)));
  if (PyList_Append(list, text.get()) < 0) return std::unexpected(PyError::fetch());
  return {};
}

}  // namespace

PyResult<PyObject*> save_path_argument(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"path", nullptr};
  PyObject* path = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:save", const_cast<char**>(keywords), &path)) {
    return std::unexpected(PyError::fetch());
  }
  if (path == Py_None) return nullptr;
  if (!PyUnicode_Check(path)) {
    return std::unexpected(PyError::builtin(
        PyExc_TypeError,
        std::string("save() argument 'path' must be str or None, not ") + Py_TYPE(path)->tp_name));
  }
  return path;
}

PyResult<PyRef> save_document(const DocumentData& data, PyObject* path) {
  // Everything is decided before the first write: a refused edit, two
  // conflicting versions of one file, a main file without a target.
  Result<WriteBackMap, IncludeError> includes = include_outputs(data);
  if (!includes) return std::unexpected(include_error_to_py(includes.error()));

  std::optional<std::string> target;
  if (path != nullptr) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(path, &len);
    if (utf8 == nullptr) return std::unexpected(PyError::fetch());
    target.emplace(utf8, static_cast<std::size_t>(len));
  } else if (main_file_is_dirty(data)) {
    if (!data.origin) {
      return std::unexpected(PyError::builtin(
          PyExc_ValueError, "save() needs a path: this document was not loaded from a file"));
    }
    target = *data.origin;
  }
  std::optional<DocumentText> main_text;
  if (target) main_text.emplace(document_to_text(data));

  PyRef written = OSV_TRY(checked(PyList_New(0)));
  for (const WriteBackMap::Entry& entry : includes->entries()) {
    if (!entry.dirty) continue;
    Result<void, FileError> done = write_file_atomic_no_links(entry.path, entry.text);
    if (!done) {
      return std::unexpected(
          PyError::builtin(PyExc_OSError, cannot_write(entry.path, done.error())));
    }
    OSV_TRY(append_path(written.get(), entry.path));
  }
  if (target) {
    Result<void, FileError> done = write_file_atomic(*target, main_text->view());
    if (!done) {
      return std::unexpected(PyError::builtin(PyExc_OSError, cannot_write(*target, done.error())));
    }
    OSV_TRY(append_path(written.get(), *target));
  }
  return written;
}

PyResult<PyRef> dump_includes_impl(const CallArgs& call) {
  // include_dir was converted while the arguments were read and has no
  // further effect: files go where the document's file table says.
  DocumentArgument arg = OSV_TRY(extract_document_argument(call.positional(), "doc"));
  const WriteBackMap map = OSV_TRY(outputs_for_python(arg.doc->data));
  for (const WriteBackMap::Entry& entry : map.entries()) {
    Result<void, FileError> done = write_file_atomic_no_links(entry.path, entry.text);
    if (!done) {
      return std::unexpected(
          PyError::builtin(PyExc_ValueError, cannot_write(entry.path, done.error())));
    }
  }
  return PyRef::borrow(Py_None);
}

PyResult<PyRef> dump_includes_map_impl(const CallArgs& call) {
  DocumentArgument arg = OSV_TRY(extract_document_argument(call.positional(), "doc"));
  const WriteBackMap map = OSV_TRY(outputs_for_python(arg.doc->data));
  PyRef dict = OSV_TRY(checked(PyDict_New()));
  for (const WriteBackMap::Entry& entry : map.entries()) {
    PyRef key = OSV_TRY(checked(path_to_str(entry.path)));
    PyRef value = OSV_TRY(checked(
        PyBytes_FromStringAndSize(entry.text.data(), static_cast<Py_ssize_t>(entry.text.size()))));
    if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
      return std::unexpected(PyError::fetch());
    }
  }
  return dict;
}

}  // namespace ostrevane::ffi
