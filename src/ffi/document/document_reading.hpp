// The reading members of OstrevaneDocument: item access, get, in, len,
// keys, walk and range. The class table (ffi/document.cpp) lists them.
//
// A document with exactly one root reads like that root. A stream of
// several documents (or none) reads like a list of its documents: doc[i]
// hands out root i (a collection as a view on that root), `in` is False and
// len counts the roots; keys, walk and range look at the first root.
//
// Each runs through the entry guard and borrows the document by its rule in
// kDocumentBorrows.
#pragma once

#include "ffi/compat.hpp"

namespace ostrevane::ffi {

PyObject* document_subscript(PyObject* self, PyObject* key);
Py_ssize_t document_length(PyObject* self);
int document_contains(PyObject* self, PyObject* key);
PyObject* document_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* document_keys(PyObject* self, PyObject*);
PyObject* document_walk(PyObject* self, PyObject*);
PyObject* document_range(PyObject* self, PyObject*);

}  // namespace ostrevane::ffi
