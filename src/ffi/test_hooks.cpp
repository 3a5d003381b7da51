#include "ffi/test_hooks.hpp"

#include "ffi/json_hooks.hpp"
#include "ffi/write_back_hooks.hpp"

#ifdef OSTREVANE_TEST_HOOKS
#include <new>

#include "ffi/entry_guard.hpp"
#include "ffi/schema_road.hpp"
#endif

namespace ostrevane::ffi {

#ifdef OSTREVANE_TEST_HOOKS
namespace {

struct TestSpan {
  std::uint32_t line;
  std::uint32_t column;
};

struct TestRecord {
  std::string message;
  TestSpan span;
  std::uint8_t category = 0;
};

std::string bytes_of(PyObject* obj) {
  if (PyBytes_Check(obj)) {
    return std::string(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
  }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
  if (utf8 == nullptr) throw InternalFault("test hook: expected bytes or str");
  return std::string(utf8, static_cast<std::size_t>(len));
}

PyResult<PyRef> error_for_test(PyObject* args) {
  const char* what = nullptr;
  PyObject* rest = nullptr;
  if (!PyArg_ParseTuple(args, "sO!", &what, &PyTuple_Type, &rest)) {
    return std::unexpected(PyError::fetch());
  }
  const std::string_view kind = what;
  const char* message = "";
  if (kind == "include") {
    // (kind, message, file, [(path, line)], (line, column) or None)
    int include_kind = 0;
    PyObject *file = nullptr, *chain = nullptr, *span = nullptr;
    if (!PyArg_ParseTuple(rest, "isOO!O", &include_kind, &message, &file, &PyList_Type, &chain,
                          &span)) {
      return std::unexpected(PyError::fetch());
    }
    IncludeError error;
    error.kind = static_cast<IncludeErrorKind>(include_kind);
    error.message = message;
    error.file = bytes_of(file);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(chain); ++i) {
      PyObject* path = nullptr;
      unsigned int line = 0;
      if (!PyArg_ParseTuple(PyList_GET_ITEM(chain, i), "OI", &path, &line)) {
        return std::unexpected(PyError::fetch());
      }
      error.include_chain.push_back({bytes_of(path), line});
    }
    if (span != Py_None) {
      unsigned int line = 0, column = 0;
      if (!PyArg_ParseTuple(span, "II", &line, &column)) return std::unexpected(PyError::fetch());
      error.span = ErrorSpan{0, 0, line, column};
    }
    return std::unexpected(include_error_to_py(error));
  }
  if (kind == "decode") {
    // (category, message, line, column, file or None)
    TestRecord record;
    unsigned int line = 0, column = 0;
    int category = 0;
    const char* file = nullptr;
    if (!PyArg_ParseTuple(rest, "isIIz", &category, &message, &line, &column, &file)) {
      return std::unexpected(PyError::fetch());
    }
    record = {message, {line, column}, static_cast<std::uint8_t>(category)};
    return std::unexpected(
        decode_error_to_py(record, file ? std::optional<std::string_view>(file) : std::nullopt));
  }
  if (kind == "scan" || kind == "duplicate") {
    unsigned int line = 0, column = 0;
    if (!PyArg_ParseTuple(rest, "sII", &message, &line, &column)) {
      return std::unexpected(PyError::fetch());
    }
    const TestRecord record{message, {line, column}, 0};
    return std::unexpected(kind == "scan" ? scan_error_to_py(record)
                                          : duplicate_key_error_to_py(record));
  }
  if (kind == "too_deep") return std::unexpected(too_deep_error());
  if (kind == "bad_alloc") throw std::bad_alloc();
  if (kind == "warn") {
    PyObject* texts = nullptr;
    if (!PyArg_ParseTuple(rest, "O!", &PyList_Type, &texts)) {
      return std::unexpected(PyError::fetch());
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(texts); ++i) {
      log_warning(bytes_of(PyList_GET_ITEM(texts, i)));
    }
    return PyRef::borrow(Py_None);
  }
  if (!PyArg_ParseTuple(rest, "s", &message)) return std::unexpected(PyError::fetch());
  if (kind == "encode") return std::unexpected(encode_error(message));
  if (kind == "unserializable") return std::unexpected(unserializable_error(message));
  if (kind == "input_decode") return std::unexpected(decode_error(message));
  if (kind == "fault") return std::unexpected(PyError::fault(message));
  if (kind == "throw") throw InternalFault(message);
  return std::unexpected(PyError::builtin(PyExc_ValueError, "unknown test hook case"));
}

PyObject* error_for_test_entry(PyObject* /*self*/, PyObject* args) {
  return guarded_call([&] { return error_for_test(args); });
}

PyObject* schema_road_for_test_entry(PyObject* /*self*/, PyObject* arg) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const int composed_only = PyObject_IsTrue(arg);
    if (composed_only < 0) return std::unexpected(PyError::fetch());
    const SchemaRoadCounts counts = set_composed_schema_road_for_test(composed_only != 0);
    PyRef pair = PyRef::steal(Py_BuildValue("(KK)", static_cast<unsigned long long>(counts.value_verdicts),
                                            static_cast<unsigned long long>(counts.located_failures)));
    if (!pair) return std::unexpected(PyError::fetch());
    return pair;
  });
}

PyMethodDef g_hooks[] = {
    {"_schema_road_for_test", schema_road_for_test_entry, METH_O,
     "_schema_road_for_test(composed_only, /)\n--\n\nTest-only: make the plain road of loads "
     "always compose the text to validate it; returns how many documents it validated from "
     "their decoded values so far, and for how many failures found there it read the position "
     "from the tokens without composing."},
    {"_error_for_test", error_for_test_entry, METH_VARARGS,
     "_error_for_test(case, args, /)\n--\n\nTest-only: raise what the converters build."},
};

}  // namespace

PyResult<void> add_hook_functions(PyObject* module, std::span<PyMethodDef> hooks) {
  for (PyMethodDef& def : hooks) {
    PyRef function = PyRef::steal(PyCMethod_New(&def, module, nullptr, nullptr));
    if (!function || PyModule_AddObjectRef(module, def.ml_name, function.get()) < 0) {
      return std::unexpected(PyError::fetch());
    }
  }
  return {};
}

PyResult<void> add_test_hooks(PyObject* module) {
  OSV_TRY(add_hook_functions(module, g_hooks));
  OSV_TRY(add_json_hooks(module));
  return add_write_back_hooks(module);
}
#else
PyResult<void> add_test_hooks(PyObject*) { return {}; }
#endif

}  // namespace ostrevane::ffi
