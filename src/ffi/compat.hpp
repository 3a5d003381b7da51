// The CPython API this module is written against, on every interpreter it
// builds for.
//
// The code uses the newer API by its real names. Where the headers of the
// interpreter being built for lack a function, this header supplies a small
// version of our own with the same name and contract; where they have it, the
// real one is used untouched (`#if PY_VERSION_HEX` picks). Every function here
// follows the reference conventions of the real one: "new" results are new
// references, "borrowed" arguments are not consumed.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <new>
#include <string>

// ---------------------------------------------------------------------------
// Exception state as one object (real API from 3.12).
#if PY_VERSION_HEX < 0x030C0000
// New reference to the raised exception (normalised, traceback attached), or
// NULL when none is set; clears the indicator.
static inline PyObject* PyErr_GetRaisedException(void) {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
}

// Sets `exc` (stolen; NULL clears) as the raised exception.
static inline void PyErr_SetRaisedException(PyObject* exc) {
  if (exc == nullptr) {
    PyErr_Clear();
    return;
  }
  PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc)));
  PyObject* tb = PyException_GetTraceback(exc);
  PyErr_Restore(type, exc, tb);
}
#endif

// ---------------------------------------------------------------------------
// Lookups that tell "absent" from "failed" (real API from 3.13).
#if PY_VERSION_HEX < 0x030D0000
// 1 and a new reference in *result when found, 0 and NULL when the key is
// absent, -1 and NULL with an exception set on failure.
static inline int PyDict_GetItemRef(PyObject* dict, PyObject* key, PyObject** result) {
  PyObject* item = PyDict_GetItemWithError(dict, key);
  if (item != nullptr) {
    *result = Py_NewRef(item);
    return 1;
  }
  *result = nullptr;
  return PyErr_Occurred() ? -1 : 0;
}

// As PyDict_GetItemRef, for attributes: AttributeError counts as absent.
static inline int PyObject_GetOptionalAttr(PyObject* obj, PyObject* name, PyObject** result) {
  *result = PyObject_GetAttr(obj, name);
  if (*result != nullptr) return 1;
  if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    return 0;
  }
  return -1;
}

static inline int PyObject_GetOptionalAttrString(PyObject* obj, const char* name,
                                                 PyObject** result) {
  PyObject* key = PyUnicode_FromString(name);
  if (key == nullptr) {
    *result = nullptr;
    return -1;
  }
  const int rc = PyObject_GetOptionalAttr(obj, key, result);
  Py_DECREF(key);
  return rc;
}

// 1 when the str `unicode` equals the UTF-8 text `s`, else 0; never fails (a
// str without a UTF-8 form compares unequal).
static inline int PyUnicode_EqualToUTF8AndSize(PyObject* unicode, const char* s,
                                               Py_ssize_t size) {
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(unicode, &len);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return 0;
  }
  return len == size && std::memcmp(utf8, s, static_cast<size_t>(size)) == 0;
}

static inline int PyUnicode_EqualToUTF8(PyObject* unicode, const char* s) {
  return PyUnicode_EqualToUTF8AndSize(unicode, s, static_cast<Py_ssize_t>(std::strlen(s)));
}
#endif

// ---------------------------------------------------------------------------
// PyUnicodeWriter (real API from 3.14): on older interpreters a small UTF-8
// builder that makes the str once, at the end.
#if PY_VERSION_HEX < 0x030E0000
struct PyUnicodeWriter {
  std::string utf8;
};

static inline PyUnicodeWriter* PyUnicodeWriter_Create(Py_ssize_t length) {
  auto* writer = new (std::nothrow) PyUnicodeWriter;
  if (writer == nullptr) {
    PyErr_NoMemory();
    return nullptr;
  }
  try {
    if (length > 0) writer->utf8.reserve(static_cast<size_t>(length));
  } catch (...) {
    delete writer;
    PyErr_NoMemory();
    return nullptr;
  }
  return writer;
}

static inline void PyUnicodeWriter_Discard(PyUnicodeWriter* writer) { delete writer; }

// Consumes the writer; new reference to the str, or NULL with an exception.
static inline PyObject* PyUnicodeWriter_Finish(PyUnicodeWriter* writer) {
  PyObject* result = PyUnicode_DecodeUTF8(writer->utf8.data(),
                                          static_cast<Py_ssize_t>(writer->utf8.size()), "strict");
  delete writer;
  return result;
}

// `size` -1 means NUL-terminated. The bytes must be UTF-8.
static inline int PyUnicodeWriter_WriteUTF8(PyUnicodeWriter* writer, const char* str,
                                            Py_ssize_t size) {
  if (size < 0) size = static_cast<Py_ssize_t>(std::strlen(str));
  try {
    writer->utf8.append(str, static_cast<size_t>(size));
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
  return 0;
}

static inline int PyUnicodeWriter_WriteChar(PyUnicodeWriter* writer, Py_UCS4 ch) {
  if (ch > 0x10FFFF) {
    PyErr_SetString(PyExc_ValueError, "character must be in range(0x110000)");
    return -1;
  }
  char buf[4];
  int n;
  if (ch < 0x80) {
    buf[0] = static_cast<char>(ch);
    n = 1;
  } else if (ch < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (ch >> 6));
    buf[1] = static_cast<char>(0x80 | (ch & 0x3F));
    n = 2;
  } else if (ch < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (ch >> 12));
    buf[1] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (ch & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (ch >> 18));
    buf[1] = static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (ch & 0x3F));
    n = 4;
  }
  return PyUnicodeWriter_WriteUTF8(writer, buf, n);
}

namespace ostrevane::ffi::detail {
// Writes `text`, a str or NULL after a failed conversion (a new reference,
// consumed either way).
inline int write_converted(PyUnicodeWriter* writer, PyObject* text) {
  if (text == nullptr) return -1;
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &len);
  const int rc = utf8 == nullptr ? -1 : PyUnicodeWriter_WriteUTF8(writer, utf8, len);
  Py_DECREF(text);
  return rc;
}
}  // namespace ostrevane::ffi::detail

// Writes str(obj) / repr(obj).
static inline int PyUnicodeWriter_WriteStr(PyUnicodeWriter* writer, PyObject* obj) {
  return ostrevane::ffi::detail::write_converted(writer, PyObject_Str(obj));
}

static inline int PyUnicodeWriter_WriteRepr(PyUnicodeWriter* writer, PyObject* obj) {
  return ostrevane::ffi::detail::write_converted(writer, PyObject_Repr(obj));
}
#endif

// ---------------------------------------------------------------------------
// Classes from slot lists, and freezing them.
namespace ostrevane::ffi {

// New reference to a heap type built from `spec` with the given bases (a type,
// a tuple of types, or NULL for object). Two traps of older interpreters are
// handled here, once for every class:
// - a name without a dot makes 3.11 warn (DeprecationWarning) at creation, so
//   names must carry their module ("_ostrevane.OstrevaneTag"); an undotted
//   name is refused with SystemError instead of warning at import;
// - a class without a tp_new slot would inherit object's constructor, so it
//   gets Py_TPFLAGS_DISALLOW_INSTANTIATION.
inline PyObject* type_from_slots(PyType_Spec* spec, PyObject* bases) {
  if (std::strchr(spec->name, '.') == nullptr) {
    PyErr_Format(PyExc_SystemError, "type name '%s' must be qualified by its module", spec->name);
    return nullptr;
  }
  bool has_new = false;
  for (const PyType_Slot* slot = spec->slots; slot->slot != 0; ++slot) {
    if (slot->slot == Py_tp_new) has_new = true;
  }
  if (!has_new) spec->flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  return PyType_FromSpecWithBases(spec, bases);
}

// Makes a class immutable: its attributes can no longer be set or deleted.
// 0 on success, -1 with an exception set.
inline int type_freeze(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030E0000
  return PyType_Freeze(type);
#else
  type->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
  PyType_Modified(type);
  return 0;
#endif
}

}  // namespace ostrevane::ffi
