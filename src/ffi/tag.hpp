// OstrevaneTag, and the class glue that the module's classes share.
//
// OstrevaneTag carries a value under a tag the module did not resolve:
// `loads` makes one with OPT_PASSTHROUGH_TAG when no callback takes the tag,
// and `dumps` writes one back out as "!tag value". An instance is immutable
// after construction: its tag text and its value never change.
//
// Shared glue:
// - class objects are created from slot lists on first use and kept for the
//   process; the first one stored wins (`lazy_type_object`);
// - instances with native contents that are not frozen carry a
//   BorrowCounter; a conflicting borrow fails at once with RuntimeError
//   "Already mutably borrowed" or "Already borrowed" instead of waiting (or
//   with the internal fault, where the member's BorrowRule says a conflict
//   is a broken invariant); each class keeps its members' rules in one table;
// - `free_instance`: the common end of deallocators;
// - `optional_text_to_py`: the getter body of optional text members of the
//   frozen classes (a str, or None).
//
// Everything here runs with the interpreter lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ffi/errors.hpp"
#include "util/once_cell.hpp"

namespace ostrevane::ffi {

// ---------------------------------------------------------------------------
// Borrow counters: 0 free, n > 0 while n shared borrows are held, -1 while one
// exclusive borrow is held.

// What a conflicting borrow raises: RuntimeError "Already mutably borrowed"
// (shared wanted under an exclusive borrow) or "Already borrowed" (exclusive
// wanted under any borrow); or, where a conflict is a broken invariant, the
// internal fault with the same text.
enum class BorrowConflict : std::uint8_t { RuntimeError, Fault };

enum class BorrowKind : std::uint8_t { None, Shared, Exclusive };

// How one member borrows its instance. Each class lists its members' rules in
// one table (see ffi/document.cpp), so the rules can be read in one place.
struct BorrowRule {
  BorrowKind kind;
  BorrowConflict conflict;
};

class BorrowCounter {
 public:
  [[nodiscard]] PyResult<void> acquire_shared(
      BorrowConflict conflict = BorrowConflict::RuntimeError) noexcept;
  [[nodiscard]] PyResult<void> acquire_exclusive(
      BorrowConflict conflict = BorrowConflict::RuntimeError) noexcept;
  void release_shared() noexcept { count_.fetch_sub(1, std::memory_order_release); }
  void release_exclusive() noexcept { count_.store(0, std::memory_order_release); }

 private:
  std::atomic<std::int64_t> count_{0};
};

// A shared borrow held for a scope.
class SharedBorrow {
 public:
  [[nodiscard]] static PyResult<SharedBorrow> take(
      BorrowCounter& counter, BorrowConflict conflict = BorrowConflict::RuntimeError) noexcept;
  SharedBorrow(SharedBorrow&& other) noexcept : counter_(std::exchange(other.counter_, nullptr)) {}
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  SharedBorrow& operator=(SharedBorrow&&) = delete;
  ~SharedBorrow() {
    if (counter_) counter_->release_shared();
  }

 private:
  explicit SharedBorrow(BorrowCounter* counter) noexcept : counter_(counter) {}
  BorrowCounter* counter_;
};

// An exclusive borrow held for a scope.
class ExclusiveBorrow {
 public:
  [[nodiscard]] static PyResult<ExclusiveBorrow> take(
      BorrowCounter& counter, BorrowConflict conflict = BorrowConflict::RuntimeError) noexcept;
  ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
      : counter_(std::exchange(other.counter_, nullptr)) {}
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
  ~ExclusiveBorrow() {
    if (counter_) counter_->release_exclusive();
  }

 private:
  explicit ExclusiveBorrow(BorrowCounter* counter) noexcept : counter_(counter) {}
  BorrowCounter* counter_;
};

// The borrow a member's rule asks for, held for a scope (none for
// BorrowKind::None).
class MemberBorrow {
 public:
  [[nodiscard]] static PyResult<MemberBorrow> take(BorrowCounter& counter,
                                                   BorrowRule rule) noexcept;
  MemberBorrow(MemberBorrow&& other) noexcept
      : counter_(std::exchange(other.counter_, nullptr)), kind_(other.kind_) {}
  MemberBorrow(const MemberBorrow&) = delete;
  MemberBorrow& operator=(const MemberBorrow&) = delete;
  MemberBorrow& operator=(MemberBorrow&&) = delete;
  ~MemberBorrow() {
    if (counter_ == nullptr) return;
    if (kind_ == BorrowKind::Exclusive) {
      counter_->release_exclusive();
    } else {
      counter_->release_shared();
    }
  }

 private:
  MemberBorrow(BorrowCounter* counter, BorrowKind kind) noexcept : counter_(counter), kind_(kind) {}
  BorrowCounter* counter_;
  BorrowKind kind_;
};

// ---------------------------------------------------------------------------
// Lazy class objects.

// The class object kept in `cell`, created from `spec` on first use, with
// `bases` (a class or a tuple of classes, borrowed; NULL: object). Borrowed; the cell keeps it for
// the process. A class that cannot be created is an internal fault "failed to create type object
// for `{name}`" (the interpreter's error is reported as unraisable first).
[[nodiscard]] PyResult<PyTypeObject*> lazy_type_object(OnceCell<PyObject>& cell, PyType_Spec& spec,
                                                       const char* name, PyObject* bases = nullptr);

// The end of a deallocator, once the instance's contents are destroyed:
// frees the memory through its class's tp_free (a class without one is an
// internal fault, reported as unraisable; the object is leaked) and releases
// the reference the instance held on its heap class.
void free_instance(PyObject* self) noexcept;

// The common start of instance creation: memory for an instance of `type`
// from its tp_alloc (the base object's), contents not yet constructed. A
// new reference, or the allocation's error.
[[nodiscard]] PyResult<PyObject*> alloc_instance(PyTypeObject* type);

// The getter body of an optional text member of a frozen class: a new str,
// or None when the member is absent.
[[nodiscard]] PyResult<PyRef> optional_text_to_py(const std::optional<std::string>& text);

// ---------------------------------------------------------------------------
// OstrevaneTag.

struct TagObject {
  // An exact str, owned, never NULL, whose UTF-8 form is known to exist (a
  // str made from UTF-8, or one whose UTF-8 was asked for when the instance
  // was made): instances made for one tag text share one str, so a long tag
  // on many values is held once.
  PyObject_HEAD PyObject* tag;
  PyObject* value;  // owned, never NULL
  BorrowCounter borrows;
};

// Borrowed class object of OstrevaneTag, created on first use.
[[nodiscard]] PyResult<PyTypeObject*> tag_type_object();

// A new instance of `type` (OstrevaneTag or a subclass) holding `tag` and
// `value`; both are consumed, also on failure.
[[nodiscard]] PyResult<PyRef> new_tag_object(PyTypeObject* type, std::string tag, PyRef value);

// The same with the tag as a str (any str or subclass; an exact str is
// shared, not copied). A str without a UTF-8 form (lone surrogates) fails
// with the interpreter's UnicodeEncodeError.
[[nodiscard]] PyResult<PyRef> new_tag_object(PyTypeObject* type, PyRef tag, PyRef value);

// The str of a tag text as OstrevaneTag keeps it (decoded with replacement
// of invalid bytes). New reference.
[[nodiscard]] PyResult<PyRef> tag_text_str(std::string_view text);

// `obj` (borrowed) as a tag when it is an OstrevaneTag or a subclass, else
// TypeError "'{type}' object is not an instance of 'OstrevaneTag'".
[[nodiscard]] PyResult<TagObject*> downcast_tag(PyObject* obj);

// The tag text and the value (borrowed) of a tag. The instance is immutable,
// so no borrow is needed to read them.
[[nodiscard]] std::string_view tag_text(const TagObject* tag) noexcept;
[[nodiscard]] inline PyObject* tag_value(const TagObject* tag) noexcept { return tag->value; }

}  // namespace ostrevane::ffi
