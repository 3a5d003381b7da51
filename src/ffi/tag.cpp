#include "ffi/tag.hpp"

#include <new>

#include "ffi/args.hpp"
#include "ffi/entry_guard.hpp"

namespace ostrevane::ffi {

// ---------------------------------------------------------------------------
// Borrow counters.

namespace {

PyError borrow_conflict(BorrowConflict conflict, const char* message) {
  if (conflict == BorrowConflict::Fault) return PyError::fault(message);
  return PyError::builtin(PyExc_RuntimeError, message);
}

}  // namespace

PyResult<void> BorrowCounter::acquire_shared(BorrowConflict conflict) noexcept {
  std::int64_t current = count_.load(std::memory_order_relaxed);
  do {
    if (current < 0) return std::unexpected(borrow_conflict(conflict, "Already mutably borrowed"));
  } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                         std::memory_order_relaxed));
  return {};
}

PyResult<void> BorrowCounter::acquire_exclusive(BorrowConflict conflict) noexcept {
  std::int64_t expected = 0;
  if (!count_.compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return std::unexpected(borrow_conflict(conflict, "Already borrowed"));
  }
  return {};
}

PyResult<SharedBorrow> SharedBorrow::take(BorrowCounter& counter,
                                          BorrowConflict conflict) noexcept {
  OSV_TRY(counter.acquire_shared(conflict));
  return SharedBorrow(&counter);
}

PyResult<ExclusiveBorrow> ExclusiveBorrow::take(BorrowCounter& counter,
                                                BorrowConflict conflict) noexcept {
  OSV_TRY(counter.acquire_exclusive(conflict));
  return ExclusiveBorrow(&counter);
}

PyResult<MemberBorrow> MemberBorrow::take(BorrowCounter& counter, BorrowRule rule) noexcept {
  switch (rule.kind) {
    case BorrowKind::None:
      return MemberBorrow(nullptr, rule.kind);
    case BorrowKind::Shared:
      OSV_TRY(counter.acquire_shared(rule.conflict));
      break;
    case BorrowKind::Exclusive:
      OSV_TRY(counter.acquire_exclusive(rule.conflict));
      break;
  }
  return MemberBorrow(&counter, rule.kind);
}

// ---------------------------------------------------------------------------
// Class glue.

PyResult<PyTypeObject*> lazy_type_object(OnceCell<PyObject>& cell, PyType_Spec& spec,
                                         const char* name, PyObject* bases) {
  if (PyObject* existing = cell.get()) [[likely]] {
    return reinterpret_cast<PyTypeObject*>(existing);
  }
  PyObject* fresh = type_from_slots(&spec, bases);
  if (fresh == nullptr) {
    PyErr_WriteUnraisable(nullptr);
    return std::unexpected(
        PyError::fault(std::string("failed to create type object for `") + name + "`"));
  }
  PyObject* stored = cell.publish(fresh, [](PyObject* loser) { Py_DECREF(loser); });
  return reinterpret_cast<PyTypeObject*>(stored);
}

namespace {

PyResult<PyRef> text_to_str(std::string_view text) {
  PyRef str = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (!str) return std::unexpected(PyError::fault("could not create a str"));
  return str;
}

}  // namespace

void free_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  if (free_fn == nullptr) {
    // Leaking the object is the only safe way out of a deallocator.
    raise_panic("PyBaseObject_Type should have tp_free");
    PyErr_WriteUnraisable(self);
  } else {
    free_fn(self);
  }
  Py_DECREF(type);
}

PyResult<PyObject*> alloc_instance(PyTypeObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc != nullptr ? alloc(type, 0) : PyType_GenericAlloc(type, 0);
  if (self == nullptr) return std::unexpected(PyError::fetch());
  return self;
}

PyResult<PyRef> optional_text_to_py(const std::optional<std::string>& text) {
  if (!text) return PyRef::borrow(Py_None);
  return text_to_str(*text);
}

// ---------------------------------------------------------------------------
// OstrevaneTag.

namespace {

OnceCell<PyObject> g_tag_type;

TagObject* as_tag(PyObject* self) noexcept { return reinterpret_cast<TagObject*>(self); }

// Frees what the instance owns and the instance itself. Shared by tracked and
// untracked classes; a tracked one is untracked by the caller first.
void release_tag(PyObject* self) noexcept {
  TagObject* tag = as_tag(self);
  Py_CLEAR(tag->tag);
  Py_CLEAR(tag->value);
  tag->borrows.~BorrowCounter();
  free_instance(self);
}

void tag_dealloc_tracked(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  release_tag(self);
}

void tag_dealloc_untracked(PyObject* self) noexcept { release_tag(self); }

void tag_dealloc(PyObject* self) noexcept {
  if (PyType_IS_GC(Py_TYPE(self))) {
    tag_dealloc_tracked(self);
  } else {
    tag_dealloc_untracked(self);
  }
}

int tag_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_tag(self)->value);
  return 0;
}

PyObject* tag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    static const char* keywords[] = {"tag", "value", nullptr};
    PyObject* tag_obj = nullptr;
    PyObject* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:OstrevaneTag", const_cast<char**>(keywords),
                                     &tag_obj, &value)) {
      return std::unexpected(PyError::fetch());
    }
    if (!PyUnicode_Check(tag_obj)) {
      PyError error = not_an_instance_error(tag_obj, "str");
      error.add_processing_note("tag");
      return std::unexpected(std::move(error));
    }
    PyResult<PyRef> made = new_tag_object(type, PyRef::borrow(tag_obj), PyRef::borrow(value));
    if (!made) made.error().add_processing_note("tag");
    return made;
  });
}

PyObject* tag_get_tag(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    SharedBorrow borrow = OSV_TRY(SharedBorrow::take(as_tag(self)->borrows));
    return PyRef::borrow(as_tag(self)->tag);
  });
}

PyObject* tag_get_value(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    SharedBorrow borrow = OSV_TRY(SharedBorrow::take(as_tag(self)->borrows));
    return PyRef::borrow(as_tag(self)->value);
  });
}

PyObject* tag_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    SharedBorrow borrow = OSV_TRY(SharedBorrow::take(as_tag(self)->borrows));
    const std::string_view text = tag_text(as_tag(self));
    std::string out;
    out.reserve(text.size() + 22);
    out += "OstrevaneTag('";
    out += text;
    out += "', ...)";
    return text_to_str(out);
  });
}

PyGetSetDef g_tag_getset[] = {
    {"tag", &tag_get_tag, nullptr, nullptr, nullptr},
    {"value", &tag_get_value, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kTagDoc[] =
    "OstrevaneTag(tag, value)\n--\n\n"
    "A custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and\n"
    "accepted by `dumps` to emit a `!tag value` back out.\n\n"
    "Holds the original tag (e.g. `!mytag`) and the resolved inner `value`.";

PyType_Slot g_tag_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTagDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&tag_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&tag_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(&tag_traverse)},
    {Py_tp_repr, reinterpret_cast<void*>(&tag_repr)},
    {Py_tp_getset, g_tag_getset},
    {0, nullptr},
};

// The value may hold the tag again (a list containing it), so instances take
// part in garbage collection; they never change, so clearing is left to the
// containers in such a cycle.
PyType_Spec g_tag_spec = {
    "_ostrevane.OstrevaneTag",
    static_cast<int>(sizeof(TagObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    g_tag_slots,
};

}  // namespace

PyResult<PyTypeObject*> tag_type_object() {
  return lazy_type_object(g_tag_type, g_tag_spec, "OstrevaneTag");
}

PyResult<PyRef> tag_text_str(std::string_view text) { return text_to_str(text); }

PyResult<PyRef> new_tag_object(PyTypeObject* type, std::string tag, PyRef value) {
  PyRef str = OSV_TRY(text_to_str(tag));
  return new_tag_object(type, std::move(str), std::move(value));
}

PyResult<PyRef> new_tag_object(PyTypeObject* type, PyRef tag, PyRef value) {
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(tag.get(), &len);
  if (utf8 == nullptr) return std::unexpected(PyError::fetch());
  if (!PyUnicode_CheckExact(tag.get())) {
    // .tag gives a plain str, whatever the caller passed.
    tag = PyRef::steal(PyUnicode_FromStringAndSize(utf8, len));
    if (!tag || PyUnicode_AsUTF8AndSize(tag.get(), &len) == nullptr) {
      return std::unexpected(PyError::fetch());
    }
  }
  PyObject* self = OSV_TRY(alloc_instance(type));
  TagObject* obj = as_tag(self);
  obj->tag = tag.release();
  obj->value = value.release();
  new (&obj->borrows) BorrowCounter();
  return PyRef::steal(self);
}

std::string_view tag_text(const TagObject* tag) noexcept {
  // The UTF-8 form was made (and is kept by the str) when the instance was.
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(tag->tag, &len);
  if (utf8 == nullptr) [[unlikely]] {
    PyErr_Clear();
    return {};
  }
  return {utf8, static_cast<std::size_t>(len)};
}

PyResult<TagObject*> downcast_tag(PyObject* obj) {
  PyResult<PyTypeObject*> type = tag_type_object();
  if (!type) return std::unexpected(std::move(type.error()));
  if (Py_TYPE(obj) == *type || PyType_IsSubtype(Py_TYPE(obj), *type)) return as_tag(obj);
  return std::unexpected(not_an_instance_error(obj, "OstrevaneTag"));
}

}  // namespace ostrevane::ffi
