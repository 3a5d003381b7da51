#include "ffi/document/cursor.hpp"

#include <new>
#include <utility>

#include "ffi/entry_guard.hpp"

namespace ostrevane::ffi {

PyResult<PyRef> new_cursor_object(PyTypeObject* type, CursorData cursor) {
  PyObject* self = OSV_TRY(alloc_instance(type));
  CursorObject* object = reinterpret_cast<CursorObject*>(self);
  new (&object->cursor) CursorData(std::move(cursor));
  new (&object->borrows) BorrowCounter();
  return PyRef::steal(self);
}

void cursor_dealloc(PyObject* self) noexcept {
  GilEntry entry;
  CursorObject* object = reinterpret_cast<CursorObject*>(self);
  object->cursor.~CursorData();
  object->borrows.~BorrowCounter();
  free_instance(self);
}

}  // namespace ostrevane::ffi
