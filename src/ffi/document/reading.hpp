// Reading a document's trees from Python: item lookup, the plain values and
// views handed out for children, key listing, walk and source ranges. Shared
// by OstrevaneDocument and OstrevaneDocumentView (and later the cursor).
//
// Input: a DocumentReader, made inside one member call while the caller
// holds a borrow of the document; nodes of the reader's root found by the
// caller's walk (borrowed, valid for that call only). Output: new Python
// objects, or the Python error to raise.
//
// Key matching. A Python key designates the last pair whose key, a scalar or
// an empty node (None), converts to a value equal to it. An exact str key is
// matched without any Python call: a key node matches when its text equals
// the key's and it converts to a str under the document's rules. Other keys
// convert each candidate key node and call Python's equality; an Exception
// raised there counts as no match, while BaseExceptions that are not
// Exceptions (KeyboardInterrupt, SystemExit, the internal fault) propagate.
//
// Aliases follow the nearest definition before them in their own document
// (AnchorIndex); the index is built only when an alias is met.
//
// Lock held throughout; the caller's document borrow is held for every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "ffi/convert/node_to_py.hpp"
#include "ffi/document.hpp"
#include "roundtrip/anchors.hpp"
#include "roundtrip/document/path.hpp"

namespace ostrevane::ffi {

class DocumentReader {
 public:
  // `root` must be a valid index into the document's roots.
  DocumentReader(DocumentObject* doc, std::size_t root) noexcept
      : doc_(doc), root_(root), settings_{doc->data.resolver_mode, doc->data.timestamps} {}
  // The settings point into the reader's own index.
  DocumentReader(const DocumentReader&) = delete;
  DocumentReader& operator=(const DocumentReader&) = delete;

  [[nodiscard]] DocumentObject* document() const noexcept { return doc_; }
  [[nodiscard]] std::size_t root_index() const noexcept { return root_; }
  [[nodiscard]] const YamlNode& root() const noexcept { return doc_->data.roots[root_]; }
  [[nodiscard]] const NodeToPySettings& settings() const noexcept { return settings_; }

  // `node`, or for an alias the node its definition holds; nullptr for an
  // alias with no definition.
  [[nodiscard]] const YamlNode* followed(const YamlNode& node);

  // The node as a plain Python value. New reference. An alias builds the
  // anchor index once for all conversions of this reader (a walk meets many).
  // All conversions of one reader share one object cache (NodeToPyCache),
  // so each anchored node is converted once however many leaves and keys
  // repeat it; a reader lives for one member call, in which the tree does
  // not change.
  [[nodiscard]] PyResult<PyRef> to_py(const YamlNode& node) const;
  // The node as a dict key (node_to_py_key). New reference.
  [[nodiscard]] PyResult<PyRef> to_py_key(const YamlNode& node) const;

 private:
  const AnchorIndex& index() const;
  NodeToPyCache& cache() const;

  DocumentObject* doc_;
  std::size_t root_;
  mutable NodeToPySettings settings_;
  mutable std::optional<AnchorIndex> index_;
  mutable std::optional<NodeToPyCache> cache_;
};

// `key` as an unsigned 64-bit index: an int (bool included) or anything
// with __index__, from 0 to 2**64 - 1; nothing for other objects and values
// (their conversion error dropped), except that a BaseException which is
// not an Exception propagates.
[[nodiscard]] PyResult<std::optional<std::uint64_t>> unsigned_index(PyObject* key);

// A non-negative integer (anything with __index__, bool included, below
// 2**64) as an Index step, a str as a Key step; else TypeError "mapping keys
// must be str or int".
[[nodiscard]] PyResult<PathSegment> extract_path_segment(PyObject* key);

// What a failed step raises: IndexError "index out of range" on a sequence,
// else KeyError(str(key)).
[[nodiscard]] PyError index_or_key_error(NodeKind kind, PyObject* key);

// Whether `key_node` designates the Python `key` (see the header comment).
[[nodiscard]] PyResult<bool> key_node_matches(const DocumentReader& reader,
                                              const YamlNode& key_node, PyObject* key);

// The pair of `mapping` that `key` designates: the last match, or none.
[[nodiscard]] PyResult<std::optional<std::size_t>> find_matching_pair(const DocumentReader& reader,
                                                                      const YamlNode& mapping,
                                                                      PyObject* key);

// Every pair of `mapping` that `key` designates, in ascending order.
[[nodiscard]] PyResult<std::vector<std::size_t>> all_matching_pairs(const DocumentReader& reader,
                                                                    const YamlNode& mapping,
                                                                    PyObject* key);

// `node`[key], where `node` stands at `base`: a child collection as a new
// view whose path is `base` and the step taken, anything else as its value.
[[nodiscard]] PyResult<PyRef> node_getitem(DocumentReader& reader, const NodePath& base,
                                           const YamlNode& node, PyObject* key);

// What item access hands out for the child at `path`: aliases followed, a
// collection as a new OstrevaneDocumentView on `path`, anything else (an
// alias without definition: None) as its plain value.
[[nodiscard]] PyResult<PyRef> node_value_or_view(DocumentReader& reader, NodePath path,
                                                 const YamlNode& node);

// The distinct keys of a mapping, each once at its first occurrence
// (Python equality and hash decide), as a new list of plain values. A merge
// key is listed as "<<"; the keys it merges are not.
[[nodiscard]] PyResult<PyRef> mapping_keys_list(const DocumentReader& reader,
                                                const YamlNode& mapping);

// len(): a mapping's distinct keys, a sequence's items, 1 for anything else.
[[nodiscard]] PyResult<Py_ssize_t> node_length(const DocumentReader& reader, const YamlNode& node);

// Every leaf below `node` as (path tuple, value), paths relative to `node`;
// pairs whose key is not a scalar are skipped whole. A new list.
[[nodiscard]] PyResult<PyRef> walk_list(const DocumentReader& reader, const YamlNode& node);

// (line, column, end_line, end_column), all from 1. A new tuple.
[[nodiscard]] PyResult<PyRef> node_position_tuple(const YamlNode& node);

// The UTF-8 text of a str (a subclass included); nothing for other objects
// and for a str that has no UTF-8 form (no error stays set).
[[nodiscard]] std::optional<std::string_view> str_text(PyObject* obj) noexcept;

// The arguments of get(key, default), both required (borrowed).
struct GetArgs {
  PyObject* key;
  PyObject* fallback;
};
[[nodiscard]] PyResult<GetArgs> parse_get_args(PyObject* args, PyObject* kwargs);

// get(): the result, or `fallback` when the result is an Exception; other
// BaseExceptions and internal faults pass.
[[nodiscard]] PyResult<PyRef> value_or_default(PyResult<PyRef> result, PyObject* fallback);

// KeyError "stale view" and the like: a KeyError whose one argument is
// `text`.
[[nodiscard]] PyError key_error(std::string_view text);

}  // namespace ostrevane::ffi
