// OstrevaneDocumentView: a live proxy onto a nested mapping or sequence of an
// OstrevaneDocument, addressed by path.
//
// Input: a CursorData made by item access (node_value_or_view). Output: the
// Python object, which reads like the collection it designates: [], get,
// in, len, keys, walk, range, unwrap, to_dict, to_yaml and repr.
//
// Every member goes: take the view's borrow, then the document's (by the
// rules of kViewBorrows), walk the path, act, release. A path that no longer
// leads anywhere raises KeyError "stale view" (repr prints the stale form).
// A view whose path ends at an alias reads the content of the definition
// the alias refers to; its range stays the alias's own.
//
// The class has no constructor; instances hold no Python object but their
// document, which holds none, so they are not tracked by the garbage
// collector. Lock held throughout.
#pragma once

#include <string_view>

#include "ffi/document/cursor.hpp"

namespace ostrevane::ffi {

using ViewObject = CursorObject;

// Borrowed class object, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> document_view_type_object();

// A new view holding `cursor`; on failure the cursor is destroyed.
[[nodiscard]] PyResult<PyRef> new_view_object(CursorData cursor);

// `obj` (borrowed) is an OstrevaneDocumentView.
[[nodiscard]] PyResult<bool> is_document_view(PyObject* obj);

// What a writer is handed for `view`: the result of its to_dict method
// (raised unchanged), once the check of roundtrip/document/alias_expansion
// has found that writing it out with every alias expanded keeps the bounds
// of the view's to_yaml; else ValueError naming the bound, opened by
// `subject` ("dumps() of this node"). New reference.
[[nodiscard]] PyResult<PyRef> view_values_for_writer(PyObject* view, std::string_view subject);

}  // namespace ostrevane::ffi
