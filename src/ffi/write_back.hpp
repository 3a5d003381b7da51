// Writing a round-trip document's files: OstrevaneDocument.save and the
// module functions dump_includes and dump_includes_map.
//
// Input: a document's DocumentData, read under a shared borrow the caller
// holds (save) or that extract_document_argument takes (the module
// functions). Output: the files replaced on disk through
// directives/atomic_write.hpp, and the Python results (the written paths,
// None, or a dict of path to bytes). Every text, every target and every
// refusal is worked out before the first file is written, so a refused
// save or dump changes nothing on disk.
#pragma once

#include "ffi/args.hpp"
#include "ffi/document.hpp"

namespace ostrevane::ffi {

// The `path` argument of save: None or a str (borrowed, NULL for None);
// anything else is a TypeError naming `path`.
[[nodiscard]] PyResult<PyObject*> save_path_argument(PyObject* args, PyObject* kwargs);

// save(path=None) on `data`, which the caller holds borrowed: the list of
// written paths.
[[nodiscard]] PyResult<PyRef> save_document(const DocumentData& data, PyObject* path);

// dump_includes(doc, /, *, include_dir=None) and dump_includes_map(doc, /),
// their arguments already parsed.
[[nodiscard]] PyResult<PyRef> dump_includes_impl(const CallArgs& call);
[[nodiscard]] PyResult<PyRef> dump_includes_map_impl(const CallArgs& call);

}  // namespace ostrevane::ffi
