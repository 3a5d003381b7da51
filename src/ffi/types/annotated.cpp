#include "ffi/types/annotated.hpp"

#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "directives/expand.hpp"
#include "ffi/args.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/tag.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

// What each instance adds behind its base object.
struct AnnotatedFields {
  Annotation* annotation;  // owned; null means empty
  BorrowCounter borrows;
};

// Both bases end on an 8-byte boundary, so the fields follow directly.
static_assert(sizeof(PyDictObject) % alignof(AnnotatedFields) == 0);
static_assert(sizeof(PyListObject) % alignof(AnnotatedFields) == 0);

struct AnnotatedDictObject {
  PyDictObject base;
  AnnotatedFields fields;
};
struct AnnotatedListObject {
  PyListObject base;
  AnnotatedFields fields;
};

AnnotatedFields& fields_of(PyObject* self) noexcept {
  if (PyDict_Check(self)) return reinterpret_cast<AnnotatedDictObject*>(self)->fields;
  return reinterpret_cast<AnnotatedListObject*>(self)->fields;
}

const Annotation& annotation_of(PyObject* self) noexcept {
  static const Annotation kEmpty;
  const Annotation* annotation = fields_of(self).annotation;
  return annotation != nullptr ? *annotation : kEmpty;
}

PyTypeObject* base_of(PyObject* self) noexcept {
  return PyDict_Check(self) ? &PyDict_Type : &PyList_Type;
}

// Stores `annotation` in a fresh instance (its fields still zeroed).
void install(PyObject* self, Annotation annotation) {
  AnnotatedFields& fields = fields_of(self);
  new (&fields.borrows) BorrowCounter();
  fields.annotation = new Annotation(std::move(annotation));
}

// Freeing an instance frees its items, which may be instances again: a
// chain nested a million levels deep would take a million nested calls.
// dict and list guard themselves with the interpreter's trashcan, but only
// for their own exact type, so ours needs its own: past a fixed nesting the
// trashcan keeps the object (which must be untracked first) and frees it
// later from the outermost level, so the native stack stays flat at any
// depth. A Python subclass of ours is guarded by the interpreter's subtype
// deallocator instead (the condition compares the class's deallocator).
void annotated_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, annotated_dealloc)
  PyTypeObject* type = Py_TYPE(self);
  AnnotatedFields& fields = fields_of(self);
  delete std::exchange(fields.annotation, nullptr);
  fields.borrows.~BorrowCounter();
  // The base's deallocator frees the object through the class's tp_free;
  // the reference every instance holds on its heap class is then ours to
  // drop.
  base_of(self)->tp_dealloc(self);
  Py_DECREF(type);
  Py_TRASHCAN_END
}

// Pickling, copying, repr and comparison of nested containers recurse in
// the interpreter's frames, which call one of our methods at every level
// and which no segment can take over. The interpreter's own guard counts
// levels, not bytes: on a small thread stack (and our levels cost more than
// a plain list's, since __reduce__ sends each one through a method call) it
// lets the stack overflow long before the count runs out. So each of these
// methods first checks that a level's worth of stack is left, and raises
// RecursionError, as the count would, when it is not.
PyResult<void> check_level_headroom(const char* doing) {
  if (!stack_headroom_below(limits::kInterpreterLevelHeadroom)) [[likely]] return {};
  return std::unexpected(PyError::builtin(
      PyExc_RecursionError, std::string("maximum recursion depth exceeded ") + doing));
}

PyObject* annotated_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    OSV_TRY(check_level_headroom("while getting the repr of an object"));
    PyRef text = PyRef::steal(base_of(self)->tp_repr(self));
    if (!text) return std::unexpected(PyError::fetch());
    return text;
  });
}

PyObject* annotated_richcompare(PyObject* self, PyObject* other, int op) {
  return guarded_call([&]() -> PyResult<PyRef> {
    OSV_TRY(check_level_headroom("in comparison"));
    PyRef result = PyRef::steal(base_of(self)->tp_richcompare(self, other, op));
    if (!result) return std::unexpected(PyError::fetch());
    return result;
  });
}

PyResult<PyRef> new_instance(PyTypeObject* base, PyTypeObject* type, Annotation annotation) {
  PyRef empty = PyRef::steal(PyTuple_New(0));
  if (!empty) return std::unexpected(PyError::fetch());
  PyRef self = PyRef::steal(base->tp_new(type, empty.get(), nullptr));
  if (!self) return std::unexpected(PyError::fetch());
  install(self.get(), std::move(annotation));
  return self;
}

PyObject* annotated_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    if (!PyTuple_Check(args)) {
      PyError error = not_an_instance_error(args, "tuple");
      error.add_processing_note("_args");
      return std::unexpected(std::move(error));
    }
    if (kwargs != nullptr && kwargs != Py_None && !PyDict_Check(kwargs)) {
      PyError error = not_an_instance_error(kwargs, "dict");
      error.add_processing_note("_kwargs");
      return std::unexpected(std::move(error));
    }
    // The base's initialiser, which Python calls next, fills the contents
    // from the same arguments.
    PyTypeObject* base = PyType_IsSubtype(type, &PyDict_Type) ? &PyDict_Type : &PyList_Type;
    return new_instance(base, type, Annotation{});
  });
}

// ---------------------------------------------------------------------------
// Properties.

enum class Field : std::uintptr_t {
  Line,
  Column,
  File,
  EndLine,
  EndColumn,
  Offset,
  EndOffset,
  SourceTag,
  SourceTarget,
  IsSecret,
  IsEnvVar,
  IsInclude,
};

PyResult<PyRef> int_to_py(std::uint64_t value) {
  PyRef obj = PyRef::steal(PyLong_FromUnsignedLongLong(value));
  if (!obj) return std::unexpected(PyError::fault("could not create an int"));
  return obj;
}

PyResult<PyRef> bool_to_py(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyResult<PyRef> field_to_py(const Annotation& a, Field field) {
  switch (field) {
    case Field::Line:
      return int_to_py(a.line);
    case Field::Column:
      return int_to_py(a.column);
    case Field::File:
      return optional_text_to_py(a.file);
    case Field::EndLine:
      return int_to_py(a.end_line);
    case Field::EndColumn:
      return int_to_py(a.end_column);
    case Field::Offset:
      return int_to_py(a.offset);
    case Field::EndOffset:
      return int_to_py(a.end_offset);
    case Field::SourceTag:
      return optional_text_to_py(a.source_tag);
    case Field::SourceTarget:
      return optional_text_to_py(a.source_target);
    case Field::IsSecret:
      return bool_to_py(a.source_tag && *a.source_tag == "!secret");
    case Field::IsEnvVar:
      return bool_to_py(a.source_tag && *a.source_tag == "!env_var");
    case Field::IsInclude:
      return bool_to_py(is_include_tag(a.source_tag));
  }
  return PyRef::borrow(Py_None);
}

PyObject* annotated_get(PyObject* self, void* closure) {
  return guarded_call([&]() -> PyResult<PyRef> {
    SharedBorrow borrow = OSV_TRY(SharedBorrow::take(fields_of(self).borrows));
    return field_to_py(annotation_of(self),
                       static_cast<Field>(reinterpret_cast<std::uintptr_t>(closure)));
  });
}

void* field_closure(Field field) noexcept {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(field));
}

constexpr const char kOffsetDoc[] =
    "0-based byte offset of the node's first source character. With __end_offset__ it gives\n"
    "the exact source byte range, so the source bytes can be sliced directly.";
constexpr const char kEndOffsetDoc[] =
    "0-based byte offset just past the node's last source character (exact, from the end the\n"
    "scanner recorded).";
constexpr const char kEndLineDoc[] = "1-based end position, just past the block's last character.";
constexpr const char kSourceTagDoc[] =
    "The configuration or custom tag that produced this node (`!secret`, `!env_var`, an\n"
    "`!include` form, or a custom tag), or None. A provenance distinct from the node's own\n"
    "type tag.";
constexpr const char kSourceTargetDoc[] =
    "The directive argument that produced this node, or None. With __source_tag__ it\n"
    "reconstructs the directive.";
constexpr const char kIsSecretDoc[] =
    "Whether this node's value was produced by a `!secret` directive.";
constexpr const char kIsEnvVarDoc[] =
    "Whether this node's value was produced by an `!env_var` directive.";
constexpr const char kIsIncludeDoc[] =
    "Whether this node's value was produced by any `!include` directive.";

constexpr const char* kNoDoc = nullptr;

#define OSV_FIELD(name, field, doc) \
  { name, &annotated_get, nullptr, const_cast<char*>(doc), field_closure(Field::field) }

PyGetSetDef g_annotated_getset[] = {
    OSV_FIELD("__line__", Line, kNoDoc),
    OSV_FIELD("__column__", Column, kNoDoc),
    OSV_FIELD("__file__", File, kNoDoc),
    OSV_FIELD("__end_line__", EndLine, kEndLineDoc),
    OSV_FIELD("__end_column__", EndColumn, kNoDoc),
    OSV_FIELD("__offset__", Offset, kOffsetDoc),
    OSV_FIELD("__end_offset__", EndOffset, kEndOffsetDoc),
    OSV_FIELD("__source_tag__", SourceTag, kSourceTagDoc),
    OSV_FIELD("__source_target__", SourceTarget, kSourceTargetDoc),
    OSV_FIELD("is_secret", IsSecret, kIsSecretDoc),
    OSV_FIELD("is_env_var", IsEnvVar, kIsEnvVarDoc),
    OSV_FIELD("is_include", IsInclude, kIsIncludeDoc),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

#undef OSV_FIELD

// ---------------------------------------------------------------------------
// Pickling.

PyResult<PyRef> optional_to_state(const std::optional<std::string>& text) {
  return optional_text_to_py(text);
}

PyResult<PyRef> annotation_state_tuple(const Annotation& a) {
  PyRef items[] = {
      OSV_TRY(int_to_py(a.line)),
      OSV_TRY(int_to_py(a.column)),
      OSV_TRY(optional_to_state(a.file)),
      OSV_TRY(int_to_py(a.end_line)),
      OSV_TRY(int_to_py(a.end_column)),
      OSV_TRY(optional_to_state(a.source_tag)),
      OSV_TRY(optional_to_state(a.source_target)),
      OSV_TRY(int_to_py(a.offset)),
      OSV_TRY(int_to_py(a.end_offset)),
  };
  constexpr Py_ssize_t kCount = std::size(items);
  PyRef tuple = PyRef::steal(PyTuple_New(kCount));
  if (!tuple) return std::unexpected(PyError::fault("could not create a tuple"));
  for (Py_ssize_t i = 0; i < kCount; ++i) PyTuple_SET_ITEM(tuple.get(), i, items[i].release());
  return tuple;
}

PyResult<std::uint64_t> state_int(PyObject* obj, std::uint64_t max) {
  if (!PyLong_Check(obj)) return std::unexpected(not_an_instance_error(obj, "int"));
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return std::unexpected(PyError::fetch());
  }
  if (value > max) {
    return std::unexpected(
        PyError::builtin(PyExc_OverflowError, "out of range integral type conversion attempted"));
  }
  return value;
}

PyResult<std::optional<std::string>> state_text(PyObject* obj) {
  if (obj == Py_None) return std::optional<std::string>();
  if (!PyUnicode_Check(obj)) return std::unexpected(not_an_instance_error(obj, "str"));
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) return std::unexpected(PyError::fetch());
  return std::optional<std::string>(std::in_place, utf8, static_cast<std::size_t>(size));
}

PyResult<Annotation> extract_annotation_state(PyObject* state) {
  if (!PyTuple_Check(state)) return std::unexpected(not_an_instance_error(state, "tuple"));
  constexpr Py_ssize_t kLength = 9;
  const Py_ssize_t length = PyTuple_GET_SIZE(state);
  if (length != kLength) {
    return std::unexpected(PyError::builtin(
        PyExc_ValueError, "expected tuple of length " + std::to_string(kLength) +
                              ", but got tuple of length " + std::to_string(length)));
  }
  const auto item = [&](Py_ssize_t i) { return PyTuple_GET_ITEM(state, i); };
  constexpr std::uint64_t kU32 = UINT32_MAX;
  constexpr std::uint64_t kU64 = UINT64_MAX;
  Annotation a;
  a.line = static_cast<std::uint32_t>(OSV_TRY(state_int(item(0), kU32)));
  a.column = static_cast<std::uint32_t>(OSV_TRY(state_int(item(1), kU32)));
  a.file = OSV_TRY(state_text(item(2)));
  a.end_line = static_cast<std::uint32_t>(OSV_TRY(state_int(item(3), kU32)));
  a.end_column = static_cast<std::uint32_t>(OSV_TRY(state_int(item(4), kU32)));
  a.source_tag = OSV_TRY(state_text(item(5)));
  a.source_target = OSV_TRY(state_text(item(6)));
  a.offset = OSV_TRY(state_int(item(7), kU64));
  a.end_offset = OSV_TRY(state_int(item(8), kU64));
  return a;
}

PyObject* annotated_setstate(PyObject* self, PyObject* state) {
  return guarded_call([&]() -> PyResult<PyRef> {
    AnnotatedFields& fields = fields_of(self);
    ExclusiveBorrow borrow = OSV_TRY(ExclusiveBorrow::take(fields.borrows));
    PyResult<Annotation> annotation = extract_annotation_state(state);
    if (!annotation) {
      annotation.error().add_processing_note("state");
      return std::unexpected(std::move(annotation.error()));
    }
    auto fresh = std::make_unique<Annotation>(std::move(*annotation));
    delete std::exchange(fields.annotation, fresh.release());
    return PyRef::borrow(Py_None);
  });
}

PyObject* annotated_reduce(PyObject* self, PyObject*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    OSV_TRY(check_level_headroom("while pickling or copying an object"));
    Annotation copy;
    {
      SharedBorrow borrow =
          OSV_TRY(SharedBorrow::take(fields_of(self).borrows, BorrowConflict::Fault));
      copy = annotation_of(self);
    }
    PyRef state = OSV_TRY(annotation_state_tuple(copy));
    PyRef no_args = PyRef::steal(PyTuple_New(0));
    if (!no_args) return std::unexpected(PyError::fetch());
    PyRef list_items = PyRef::borrow(Py_None);
    PyRef dict_items = PyRef::borrow(Py_None);
    if (PyDict_Check(self)) {
      PyRef pairs = PyRef::steal(PyObject_CallMethod(self, "items", nullptr));
      if (!pairs) return std::unexpected(PyError::fetch());
      dict_items = PyRef::steal(PyObject_GetIter(pairs.get()));
      if (!dict_items) return std::unexpected(PyError::fetch());
    } else {
      list_items = PyRef::steal(PyObject_GetIter(self));
      if (!list_items) return std::unexpected(PyError::fetch());
    }
    PyRef result =
        PyRef::steal(PyTuple_Pack(5, reinterpret_cast<PyObject*>(Py_TYPE(self)), no_args.get(),
                                  state.get(), list_items.get(), dict_items.get()));
    if (!result) return std::unexpected(PyError::fetch());
    return result;
  });
}

PyMethodDef g_annotated_methods[] = {
    {"__setstate__", &annotated_setstate, METH_O, nullptr},
    {"__reduce__", &annotated_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// The classes.

constexpr const char kDictDoc[] =
    "OstrevaneAnnotatedDict(*_args, **_kwargs)\n--\n\n"
    "A `dict` subclass carrying source-location metadata (`__line__`, `__column__`,\n"
    "`__file__`), returned for mappings in annotated mode.\n\n"
    "A genuine subclass, constructible with no arguments, that survives `copy`, `deepcopy`\n"
    "and `pickle` like any plain subclass, so consumers that rebuild it through its class or\n"
    "copy it can use it directly without converting it to a built-in `dict`. Its module is\n"
    "set so that pickle can locate the class.";

constexpr const char kListDoc[] =
    "OstrevaneAnnotatedList(*_args, **_kwargs)\n--\n\n"
    "A `list` subclass carrying source-location metadata (`__line__`, `__column__`,\n"
    "`__file__`), returned for sequences in annotated mode.\n\n"
    "A genuine subclass, constructible with no arguments, that survives `copy`, `deepcopy`\n"
    "and `pickle` like any plain subclass, so consumers that rebuild it through its class or\n"
    "copy it can use it directly without converting it to a built-in `list`. Its module is\n"
    "set so that pickle can locate the class.";

PyType_Slot g_dict_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDictDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&annotated_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&annotated_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&annotated_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&annotated_richcompare)},
    {Py_tp_getset, g_annotated_getset},
    {Py_tp_methods, g_annotated_methods},
    {0, nullptr},
};

PyType_Slot g_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(kListDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&annotated_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&annotated_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&annotated_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&annotated_richcompare)},
    {Py_tp_getset, g_annotated_getset},
    {Py_tp_methods, g_annotated_methods},
    {0, nullptr},
};

// No Py_TPFLAGS_HAVE_GC: it comes with the base, together with the base's
// tp_traverse; setting it here without a tp_traverse of our own would fail.
PyType_Spec g_dict_spec = {
    "ostrevane.OstrevaneAnnotatedDict",
    static_cast<int>(sizeof(AnnotatedDictObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    g_dict_slots,
};

PyType_Spec g_list_spec = {
    "ostrevane.OstrevaneAnnotatedList",
    static_cast<int>(sizeof(AnnotatedListObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    g_list_slots,
};

OnceCell<PyObject> g_dict_type;
OnceCell<PyObject> g_list_type;

}  // namespace

PyResult<PyTypeObject*> annotated_dict_type_object() {
  return lazy_type_object(g_dict_type, g_dict_spec, "OstrevaneAnnotatedDict",
                          reinterpret_cast<PyObject*>(&PyDict_Type));
}

PyResult<PyTypeObject*> annotated_list_type_object() {
  return lazy_type_object(g_list_type, g_list_spec, "OstrevaneAnnotatedList",
                          reinterpret_cast<PyObject*>(&PyList_Type));
}

PyResult<PyRef> new_annotated_dict(Annotation annotation, PyTypeObject* type) {
  return new_instance(&PyDict_Type, type, std::move(annotation));
}

PyResult<PyRef> new_annotated_list(Annotation annotation, PyTypeObject* type) {
  return new_instance(&PyList_Type, type, std::move(annotation));
}

}  // namespace ostrevane::ffi
