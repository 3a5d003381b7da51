// OstrevaneDocument: the Python object of a round-trip document.
//
// Input: a DocumentData that the round-trip roads of loads and loads_all
// filled (src/roundtrip/document/document_data.hpp), moved in. Output: the
// instance Python sees, and the pieces dumps and to_json need (the type test,
// the text, whether there are roots).
//
// The class has no constructor: instances come only from loads and
// loads_all, so an instance without contents never exists. It holds no
// Python objects and is not tracked by the garbage collector. Members borrow
// the contents through the instance's BorrowCounter by the rules of one table
// (document.cpp, kDocumentBorrows). Everything here runs with the
// interpreter lock held.
#pragma once

#include "ffi/errors.hpp"
#include "ffi/tag.hpp"
#include "roundtrip/document/document_data.hpp"

namespace ostrevane::ffi {

struct DocumentObject {
  PyObject_HEAD DocumentData data;
  BorrowCounter borrows;
};

// Borrowed class object of OstrevaneDocument, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> document_type_object();

// A new OstrevaneDocument owning `data`; on failure the data is destroyed.
[[nodiscard]] PyResult<PyRef> new_document_object(DocumentData data);

// `obj` (borrowed) as a document when it is an OstrevaneDocument or a
// subclass, else nullptr.
[[nodiscard]] PyResult<DocumentObject*> as_document(PyObject* obj);

// The document branch of dumps: the document's text as bytes, under a
// shared borrow whose conflict is an internal fault.
[[nodiscard]] PyResult<PyRef> document_text_for_dumps(DocumentObject* doc);

// The document branch of to_json: what its to_dict method returns, or None
// (written as null) when the document has no root, which is seen under the
// same borrow. Under that borrow too, each root is checked as a view is for
// writers (roundtrip/document/alias_expansion.hpp): ValueError naming the
// bound when writing its values would expand aliases past it. New reference.
[[nodiscard]] PyResult<PyRef> document_json_values(DocumentObject* doc);

}  // namespace ostrevane::ffi
