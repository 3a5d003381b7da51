// The members of OstrevaneDocument that hand out OstrevaneNode cursors:
// the root cursor (`node`), the cursor at a data path (`locate`) and the
// anchored nodes (`anchors`). All address the first document of a stream.
//
// `node` takes no borrow and works on a document without roots (the cursor
// then reports itself stale); `locate` and `anchors` borrow the document
// shared, a conflict being the internal fault (kDocumentBorrows). Paths are
// matched by key text and index alone, so no Python code runs while the
// document is borrowed. Lock held throughout.
#pragma once

#include "ffi/compat.hpp"

namespace ostrevane::ffi {

PyObject* document_node(PyObject* self, void*);
PyObject* document_anchors(PyObject* self, void*);
PyObject* document_locate(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace ostrevane::ffi
