// CursorData: what a view or a cursor object of a document holds, and the
// instance layout, creation and destruction the two classes share.
//
// A cursor never holds a pointer into the tree: it holds the path from one
// of the document's roots to its node and walks it again in every member
// (see roundtrip/document/path.hpp). Every member goes: borrow, resolve,
// act, release; a node pointer lives only inside one member call.
//
// `root` says which root the path starts at: item access on a stream of
// several documents makes views on the later roots too, and their children
// must read from the same root.
//
// Ownership: the cursor owns its path and one strong reference to its
// OstrevaneDocument, which keeps the document alive. A cursor made from
// another one gets its own copy of the path. Lock held throughout.
#pragma once

#include <cstddef>

#include "ffi/document.hpp"
#include "roundtrip/document/path.hpp"

namespace ostrevane::ffi {

struct CursorData {
  NodePath path;
  PyRef document;  // an OstrevaneDocument
  std::size_t root = 0;

  [[nodiscard]] DocumentObject* doc() const noexcept {
    return reinterpret_cast<DocumentObject*>(document.get());
  }
  // The node the path designates now, or nullptr (stale). Valid only while
  // the caller holds a borrow of the document.
  [[nodiscard]] const YamlNode* resolve() const noexcept {
    return resolve_node_path(doc()->data.roots, root, path);
  }
};

// The instance layout of both cursor classes, OstrevaneDocumentView and
// OstrevaneNode: the cursor, then the object's own borrow counter.
struct CursorObject {
  PyObject_HEAD CursorData cursor;
  BorrowCounter borrows;
};

// A new instance of `type` (one of the two classes) holding `cursor`; on
// failure the cursor is destroyed.
[[nodiscard]] PyResult<PyRef> new_cursor_object(PyTypeObject* type, CursorData cursor);

// tp_dealloc of both classes.
void cursor_dealloc(PyObject* self) noexcept;

}  // namespace ostrevane::ffi
