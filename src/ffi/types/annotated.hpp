// OstrevaneAnnotatedDict and OstrevaneAnnotatedList: dict and list
// subclasses that carry the source position of the mapping or sequence
// they came from.
//
// Input: an Annotation (positions counted from 1, byte offsets from 0, the
// file name and the directive that produced the node), moved into a new
// instance by the annotated conversion, or left empty by the constructor.
// Output: instances that behave exactly as dict and list do, plus nine
// read-only annotation properties, is_secret / is_env_var / is_include, and
// __reduce__ / __setstate__ so that pickle, copy and deepcopy keep class,
// contents and annotation.
//
// Ownership: an instance owns its Annotation through one pointer; a null
// pointer is a valid empty annotation, so the zeroed memory of tp_alloc
// needs no constructor. The annotation holds no Python object, so the
// classes take the base class's garbage-collection support unchanged (they
// inherit Py_TPFLAGS_HAVE_GC and tp_traverse). Each instance has its own
// borrow counter: properties read under a shared borrow, __setstate__
// replaces the annotation under an exclusive one. The classes' __module__
// is "ostrevane", where the package re-exports them for pickle. Freeing
// goes through the interpreter's trashcan, as dict's and list's does, so
// instances nested to any depth are freed without deep native recursion;
// __reduce__, repr and comparison, through which the interpreter recurses
// into nested instances, raise RecursionError when the stack runs short.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

struct Annotation {
  std::uint32_t line = 0;  // from 1
  std::uint32_t column = 0;
  std::optional<std::string> file;
  std::uint32_t end_line = 0;
  std::uint32_t end_column = 0;
  std::optional<std::string> source_tag;
  std::optional<std::string> source_target;
  std::uint64_t offset = 0;  // bytes, from 0
  std::uint64_t end_offset = 0;
};

// Borrowed class objects, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> annotated_dict_type_object();
[[nodiscard]] PyResult<PyTypeObject*> annotated_list_type_object();

// A new empty instance of `type` (the class or a subclass) carrying
// `annotation`.
[[nodiscard]] PyResult<PyRef> new_annotated_dict(Annotation annotation, PyTypeObject* type);
[[nodiscard]] PyResult<PyRef> new_annotated_list(Annotation annotation, PyTypeObject* type);

}  // namespace ostrevane::ffi
