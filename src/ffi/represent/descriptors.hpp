// The descriptor classes that a `represent` callback of `dumps` may return:
// OstrevaneScalar, OstrevaneSequence and OstrevaneMapping.
//
// Input: constructor arguments from Python (a positional value, items or
// pairs; keyword-only tag, style or flow, and three comments). Output:
// immutable instances whose fields the represent road reads directly. The
// constructors check what needs no context (types, the style name, the
// comment text rules of roundtrip/comment_rules); what depends on the value
// being written is checked when it is written.
//
// Ownership: a scalar owns only texts and is not garbage-collected; a
// collection descriptor owns one reference to its `items` / `pairs` object
// (the given list or tuple itself, else a new list) and takes part in
// garbage collection (traverse, no clear). Instances never change, so no
// borrow counter guards them. Subclassing from Python is allowed. Lock held.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ffi/errors.hpp"
#include "roundtrip/comment_rules.hpp"

namespace ostrevane::ffi {

// -1 for "auto", else the ScalarStyle value ("plain" 0 ... "folded" 4).
inline constexpr std::int8_t kAutoScalarStyle = -1;

struct DescriptorComments {
  std::optional<std::string> comment;
  std::optional<std::string> comment_before;  // lines joined by LF
  std::optional<std::string> comment_after;   // lines joined by LF
};

struct ScalarDescriptor {
  PyObject_HEAD std::string value;
  std::optional<std::string> tag;
  std::int8_t style;
  DescriptorComments comments;
};

// One layout for OstrevaneSequence (items) and OstrevaneMapping (pairs).
struct CollectionDescriptor {
  PyObject_HEAD PyObject* items;  // owned, never NULL once constructed
  std::optional<std::string> tag;
  std::optional<bool> flow;
  DescriptorComments comments;
};

// The class objects, created on first use and kept for the process.
[[nodiscard]] PyResult<PyTypeObject*> scalar_type_object();
[[nodiscard]] PyResult<PyTypeObject*> sequence_type_object();
[[nodiscard]] PyResult<PyTypeObject*> mapping_type_object();

// `obj` as a descriptor of that class (exact or subclass), or nullptr.
[[nodiscard]] PyResult<ScalarDescriptor*> as_scalar_descriptor(PyObject* obj);
[[nodiscard]] PyResult<CollectionDescriptor*> as_sequence_descriptor(PyObject* obj);
[[nodiscard]] PyResult<CollectionDescriptor*> as_mapping_descriptor(PyObject* obj);

// The ValueError of a refused comment text.
[[nodiscard]] PyError comment_error_to_py(const CommentError& error);

}  // namespace ostrevane::ffi
