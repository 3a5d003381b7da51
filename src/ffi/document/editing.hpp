// Editing a document's trees from Python: item assignment and deletion on
// OstrevaneDocument and OstrevaneDocumentView.
//
// Input: the object, a Python key and, for assignment, a Python value.
// Output: the tree changed in place (roundtrip/edit.hpp does the node
// work), or the Python error to raise with the tree unchanged.
//
// - In a mapping, a key designates the pairs whose keys equal it by Python
//   equality (reading.hpp). Assignment replaces the value of the last of
//   them, or appends a new pair; deletion removes all of them.
// - In a sequence, a key is a non-negative integer below the item count;
//   a sequence never grows by assignment.
// - A stream of several documents (or none) is a list of its documents:
//   assigning doc[i] replaces document i whole, nothing of the old root
//   kept but the stream's %YAML directive; deleting it removes the document
//   and drops the loaded text, so the rest is written through the emitter
//   (roundtrip/document/stream_edit.hpp).
// - An edit that would change what an alias reads is refused with
//   ValueError before anything changes (roundtrip/edit.hpp): a deletion, or
//   an assignment that replaces a subtree holding an anchor (the replaced
//   node's own anchor stays with its place), that takes out the definition
//   an alias reads, whether no definition or an earlier one of the same
//   name would be left for it; and an assignment that would give a merge
//   key ("<<") something it cannot merge, as its value, an item of its
//   list, or through an alias ("<<: *m").
// - A view whose path ends at an alias edits the collection the alias
//   refers to, as its reads show it.
//
// Borrows: exclusive, by the rules of kDocumentBorrows and kViewBorrows.
// Python code runs inside (a key's __eq__ and __index__, a value's
// conversion) while they are held, so it cannot change the tree; each node
// is found again after it ran. Lock held throughout.
#pragma once

#include <span>

#include "ffi/convert/py_to_node.hpp"
#include "roundtrip/document/document_data.hpp"
#include "roundtrip/document/path.hpp"
#include "roundtrip/edit.hpp"

namespace ostrevane::ffi {

// How values assigned into `data`'s trees become nodes.
[[nodiscard]] PyToNodeSettings to_node_settings(const DocumentData& data) noexcept;

// ValueError when removing `removals` from `root`'s tree would leave an
// alias without its definition (anchor_still_referenced_message).
[[nodiscard]] PyResult<void> refuse_stranding(const YamlNode& root,
                                              std::span<const Removal> removals);

// refuse_stranding for `target` replaced by `replacement` (its own anchor
// staying with the place), then refuse_unmergeable.
[[nodiscard]] PyResult<void> refuse_replacement(const YamlNode& root, const YamlNode& target,
                                                const YamlNode& replacement, PathHolders holders);

// ValueError (unmergeable_replacement_message) when a merge key would read
// `replacement` in the place of `target` (held as `holders` says) and could
// not merge it.
[[nodiscard]] PyResult<void> refuse_unmergeable(const YamlNode& root, const YamlNode& target,
                                                const YamlNode& replacement, PathHolders holders);

// TypeError "cannot convert {repr} to a YAML node" when `value` is, or its
// lists and dicts (as py_to_node walks them) hold, an OstrevaneDocument, an
// OstrevaneDocumentView or an OstrevaneNode. Called before any borrow is
// taken: their repr reads the document, which the edit holds exclusively
// while it converts. Runs no Python code but that repr.
[[nodiscard]] PyResult<void> refuse_document_objects(PyObject* value);

// The mp_ass_subscript slots: `value` nullptr deletes.
int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value);
int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value);

}  // namespace ostrevane::ffi
