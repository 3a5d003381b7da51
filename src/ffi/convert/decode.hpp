// Value trees to Python objects: the last step of the plain roads of loads
// and loads_all.
//
// Input: decoded documents (read only; the caller keeps them alive for the
// whole call and destroys them afterwards) and the TagOptions of the call.
// Output: new Python objects, or a PyError. Runs with the interpreter lock
// held; tag callbacks may run any Python code.
//
// - String mapping keys come from one process-wide cache of interned strs,
//   bounded and shared by every call (the KeyCache, hashed with seeded XXH3).
// - The cyclic collector is paused while a result is built and restored to
//   the caller's setting afterwards, on every path.
// - Texts that alias expansion shared (one text block, `text_identity()`)
//   become one Python str, and shared BigInt texts one int, so expanding
//   aliases never multiplies the memory of long strings. Containers are
//   never shared this way: each occurrence is its own list or dict.
// - Sequence and mapping keys become tuples; custom tags go through
//   `apply_tag_callbacks`. Merge keys that the decoder left for the
//   callbacks (LoadedTags::Called) are applied to the dicts by the rule of
//   the node-tree roads, after the callbacks of their sources.
// - Recursion runs through with_stack_guard every eighth level.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "decode/merge.hpp"
#include "ffi/errors.hpp"
#include "resolver/timestamp.hpp"
#include "value/value.hpp"

namespace ostrevane::ffi {

// The tag settings of loads and loads_all. Borrows both objects from the call.
struct TagOptions {
  PyObject* tags = nullptr;         // a dict or subclass, or NULL
  PyObject* tag_handler = nullptr;  // any object called with (name, value), or NULL
  bool passthrough_tag = false;     // OPT_PASSTHROUGH_TAG
};

// How the plain decoder leaves custom tags and merge keys for a load with
// these settings: without callbacks and tag objects the tags are dropped
// and the decoder merges; otherwise the conversion merges once the
// callbacks have made each merge source what it loads as (a source that
// still is a mapping is merged, as on the node-tree roads).
[[nodiscard]] inline LoadedTags loaded_tags_for(const TagOptions& options) noexcept {
  return options.tags == nullptr && options.tag_handler == nullptr && !options.passthrough_tag
             ? LoadedTags::Dropped
             : LoadedTags::Called;
}

// The object that replaces `value` (consumed on every path) under the tag
// `tag`: the `tags` entry of the tag's name called with the value, else the
// handler called with the name and the value, else an OstrevaneTag with
// pass-through, else the value itself. The name is the tag with a verbatim
// "!<...>" wrapper removed. Callback errors propagate unchanged.
[[nodiscard]] PyResult<PyRef> apply_tag_callbacks(std::string_view tag, PyRef value,
                                                  const TagOptions& options);

// The Python texts made for tag texts that many nodes share (a %TAG
// expansion, held once by every node that wrote the same tag), kept for one
// conversion of node trees: a long prefix under one handle becomes one str,
// not one per node. The shared texts must outlive the cache.
class SharedTagStrs {
 public:
  SharedTagStrs();
  ~SharedTagStrs();
  SharedTagStrs(const SharedTagStrs&) = delete;
  SharedTagStrs& operator=(const SharedTagStrs&) = delete;

 private:
  friend PyResult<PyRef> apply_tag_callbacks(std::string_view, bool, PyRef, const TagOptions&,
                                             SharedTagStrs&);
  struct Objects;
  std::unique_ptr<Objects> objects_;
};

// apply_tag_callbacks for node trees; `shared` says that `tag` is such a
// shared text, whose Python texts `strs` keeps by its address.
[[nodiscard]] PyResult<PyRef> apply_tag_callbacks(std::string_view tag, bool shared, PyRef value,
                                                  const TagOptions& options, SharedTagStrs& strs);

// One document (loads). New reference.
[[nodiscard]] PyResult<PyRef> value_to_python(const Value& document, const TagOptions& options);

// Every document into a new list (loads_all with tag callbacks). Each
// document is destroyed as soon as it is converted, so that a stream's Value
// trees and its Python objects are never all alive at once; the documents
// are left as nulls.
[[nodiscard]] PyResult<PyRef> documents_to_python(std::span<Value> documents,
                                                  const TagOptions& options);

// The documents of a stream into one list, converted one at a time as they
// are decoded (loads_all without tag callbacks). Lock held for every call.
// After the first failure later documents are ignored; finish() reports it.
class DocumentListBuilder {
 public:
  explicit DocumentListBuilder(const TagOptions& options);
  ~DocumentListBuilder();
  DocumentListBuilder(const DocumentListBuilder&) = delete;
  DocumentListBuilder& operator=(const DocumentListBuilder&) = delete;

  // Converts `document` (read only; the caller frees it afterwards) and
  // appends the object.
  void add(const Value& document);

  // The list of every document added, or the first failure.
  [[nodiscard]] PyResult<PyRef> finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The int of a BigInt literal in `base` (10, 16, 8 or 2); '_' are removed
// first. Decimal texts longer than the interpreter's int_max_str_digits fail
// with its ValueError (the limit guards against quadratic conversion); the
// power-of-two bases convert in linear time without that limit.
[[nodiscard]] PyResult<PyRef> py_int_from_digits(std::string_view digits, std::uint8_t base);

// datetime.date, or datetime.datetime (naive, or aware with a fixed offset).
[[nodiscard]] PyResult<PyRef> timestamp_to_py(const Timestamp& ts);

// A scalar Value as resolution produces it (Null, Bool, Int, BigInt, Float,
// String) as a Python object; any other kind gives None.
[[nodiscard]] PyResult<PyRef> resolved_to_py(const Value& scalar);

}  // namespace ostrevane::ffi
