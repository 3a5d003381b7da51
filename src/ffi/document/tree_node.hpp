// OstrevaneTreeNode: an immutable snapshot of one document's tree.
//
// Input: the roots of a DocumentData, read under the document's shared
// borrow. Output: a tree of OstrevaneTreeNode objects made in one traversal;
// a collection's value is a tuple of child snapshots (a mapping's a tuple of
// (key, value) 2-tuples), a scalar's value is its Python value resolved as
// to_dict resolves it, an alias's value its name. Aliases and merge keys are
// shown as written, never expanded.
//
// Ownership: a snapshot owns copies of its texts and one reference to its
// value, and none to the document, so later edits never reach it. Snapshots
// hold only tuples and snapshots, so they form no reference cycles and are
// not tracked by the garbage collector. Frozen: getters only, no
// constructor. Each level of the traversal runs through with_stack_guard.
// Everything here runs with the interpreter lock held.
#pragma once

#include "ffi/errors.hpp"
#include "roundtrip/document/document_data.hpp"

namespace ostrevane::ffi {

// Borrowed class object of OstrevaneTreeNode, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> tree_node_type_object();

// The body of OstrevaneDocument.to_tree under its borrow: the snapshot of
// the single root, None without roots, ValueError with several. New
// reference.
[[nodiscard]] PyResult<PyRef> document_tree(const DocumentData& data);

}  // namespace ostrevane::ffi
