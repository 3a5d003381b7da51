#include "ffi/convert/encode.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <limits>
#include <memory>
#include <optional>

#include "ffi/args.hpp"
#include "ffi/convert/detail/grapheme_extend.hpp"
#include "ffi/convert/special_types.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/options.hpp"
#include "ffi/tag.hpp"
#include "scanner/input_decode.hpp"
#include "util/limits.hpp"
#include "util/once_cell.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

constexpr std::uint32_t kGuardEvery = 8;

[[nodiscard]] std::unexpected<PyError> fetched() { return std::unexpected(PyError::fetch()); }

// ---------------------------------------------------------------------------
// Attribute names, interned once for the process.

enum class Name : std::uint8_t {
  Isoformat,
  Value,
  DataclassFields,
  FieldType,
  FieldName,
  Fspath,
  Tolist,
  Item,
  IsFinite,
  AsTuple,
  Format,
  Module,
  Count,
};

constexpr std::array<const char*, static_cast<std::size_t>(Name::Count)> kNameTexts = {
    "isoformat", "value",     "__dataclass_fields__", "_field_type", "name", "__fspath__", "tolist",
    "item",      "is_finite", "as_tuple",             "__format__",  "__module__",
};

std::array<OnceCell<PyObject>, static_cast<std::size_t>(Name::Count)> g_names;

// Borrowed interned str, kept for the process.
PyResult<PyObject*> name_object(Name name) {
  OnceCell<PyObject>& cell = g_names[static_cast<std::size_t>(name)];
  if (PyObject* cached = cell.get()) [[likely]] {
    return cached;
  }
  PyObject* fresh = PyUnicode_InternFromString(kNameTexts[static_cast<std::size_t>(name)]);
  if (fresh == nullptr) return fetched();
  return cell.publish(fresh, [](PyObject* loser) { Py_DECREF(loser); });
}

// 1 and the attribute, 0 when absent (AttributeError), -1 on another error.
PyResult<PyRef> optional_attr(PyObject* obj, Name name) {
  PyObject* key = OSV_TRY(name_object(name));
  PyObject* raw = nullptr;
  if (PyObject_GetOptionalAttr(obj, key, &raw) < 0) return fetched();
  return PyRef::steal(raw);
}

PyResult<PyRef> call_method_no_args(PyObject* obj, Name name) {
  PyObject* key = OSV_TRY(name_object(name));
  PyRef result = PyRef::steal(PyObject_CallMethodNoArgs(obj, key));
  if (!result) return fetched();
  return result;
}

// UTF-8 of a str; its error (unpaired surrogates) is left to the caller.
std::optional<std::string_view> utf8_of(PyObject* str) noexcept {
  Py_ssize_t len = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &len);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(len));
}

// The bare __name__ of a type, as UTF-8 text.
PyResult<std::string> type_name(PyTypeObject* type) {
  PyRef name = PyRef::steal(PyType_GetName(type));
  if (!name) return fetched();
  PyRef text = PyRef::steal(PyObject_Str(name.get()));
  if (!text) return fetched();
  std::optional<std::string_view> utf8 = utf8_of(text.get());
  if (!utf8) return fetched();
  return std::string(*utf8);
}

// The type's __module__: AttributeError when missing, TypeError when not a str.
PyResult<std::string> type_module_name(PyTypeObject* type) {
  PyObject* key = OSV_TRY(name_object(Name::Module));
  PyRef module = PyRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), key));
  if (!module) return fetched();
  if (!PyUnicode_Check(module.get())) {
    return std::unexpected(not_an_instance_error(module.get(), "str"));
  }
  std::optional<std::string_view> utf8 = utf8_of(module.get());
  if (!utf8) return fetched();
  return std::string(*utf8);
}

// ---------------------------------------------------------------------------
// Scalars.

PyError too_deep() {
  return encode_error("object is too deeply nested to serialize (possible self-reference)");
}

PyResult<Value> encode_str(PyObject* str) {
  // A compact ASCII str stores its text as the UTF-8 bytes it is.
  if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]] {
    return Value::string(std::string_view(static_cast<const char*>(PyUnicode_DATA(str)),
                                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))));
  }
  std::optional<std::string_view> utf8 = utf8_of(str);
  if (!utf8) {
    PyErr_Clear();
    return std::unexpected(encode_error(
        "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode "
        "(or recover the original bytes and handle them explicitly) before dumping"));
  }
  return Value::string(*utf8);
}

PyResult<Value> encode_int(PyObject* obj) {
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) [[likely]] {
    if (small == -1 && PyErr_Occurred()) return fetched();
    return Value::integer(small);
  }
  // Beyond 64 bits: the decimal digits of int(obj), so an int subclass with
  // its own __str__ is still written as its number.
  PyRef as_int = PyRef::steal(PyNumber_Long(obj));
  if (!as_int) return fetched();
  PyRef text = PyRef::steal(PyObject_Str(as_int.get()));
  if (!text) return fetched();
  std::optional<std::string_view> digits = utf8_of(text.get());
  if (!digits) return fetched();
  return Value::big_int(*digits, 10);
}

PyResult<Value> encode_bytes(PyObject* obj) {
  const std::string_view bytes(PyBytes_AS_STRING(obj),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
  if (!validate_utf8(bytes)) {
    return std::unexpected(encode_error(
        "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) "
        "before dumping"));
  }
  return Value::string(bytes);
}

// None and the exact types str, int, float and bool: converting them runs no
// Python code, so a container holding only these needs no snapshot and no
// stack guard.
inline bool is_plain(PyObject* obj) noexcept {
  PyTypeObject* type = Py_TYPE(obj);
  return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
         obj == Py_None || type == &PyBool_Type;
}

inline PyResult<Value> encode_plain(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) return encode_str(obj);
  if (type == &PyLong_Type) return encode_int(obj);
  if (type == &PyFloat_Type) return Value::floating(PyFloat_AS_DOUBLE(obj));
  if (type == &PyBool_Type) return Value::boolean(obj == Py_True);
  return Value::null();
}

// Replaces the Null in `slot` by make()'s result, constructed right there.
// Assigning a returned Value would copy it as one 16-byte word just after
// Value::string wrote it in smaller pieces; the processor cannot forward
// those stores to that load, and the stall cost a tenth of to_json's time.
// A Null owns nothing, so it is overwritten without being destroyed.
template <class Make>
[[gnu::always_inline]] inline void build_in_place(Value& slot, Make&& make) {
  try {
    ::new (static_cast<void*>(&slot)) Value(make());
  } catch (...) {
    ::new (static_cast<void*>(&slot)) Value();
    throw;
  }
}

// A str's text as a view of the str's own UTF-8 bytes, with one reference
// to the str kept in `kept` so that the bytes outlive the tree.
inline void view_str_text(PyObject* str, std::string_view text, Value& slot, KeptStrs& kept) {
  build_in_place(slot, [&] { return Value::borrowed_string(text); });
  if (slot.text_is_borrowed()) kept.keep(str);
}

// The common plain objects, written straight into a container's slot: ASCII
// str, int within 64 bits, float, bool, None. False leaves the rest (and
// every error) to encode_plain.
[[gnu::always_inline]] inline bool encode_plain_fast(PyObject* obj, Value& slot,
                                                     const EncodeOptions& options) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    if (!PyUnicode_IS_COMPACT_ASCII(obj)) return false;
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(obj)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)));
    if (options.arena != nullptr) {
      build_in_place(slot, [&] { return Value::string(text, *options.arena); });
    } else {
      build_in_place(slot, [&] { return Value::string(text); });
    }
    return true;
  }
  if (type == &PyLong_Type) {
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow != 0) return false;
    build_in_place(slot, [&] { return Value::integer(small); });
    return true;
  }
  if (type == &PyFloat_Type) {
    build_in_place(slot, [&] { return Value::floating(PyFloat_AS_DOUBLE(obj)); });
    return true;
  }
  if (type == &PyBool_Type) {
    build_in_place(slot, [&] { return Value::boolean(obj == Py_True); });
    return true;
  }
  return obj == Py_None;  // the slot already holds Null
}

// Records that the tree now holds a part from the heap (see EncodeOptions).
inline void note_outside_arena(const EncodeOptions& options) noexcept {
  if (options.outside_arena != nullptr) *options.outside_arena = true;
}

// The plain objects encode_plain_fast leaves (non-ASCII str, int beyond 64
// bits) and their errors. Out of line, so that the fast path inlined into
// the container loops carries no error handling.
[[gnu::noinline]] PyResult<void> encode_plain_rest(PyObject* obj, Value& slot,
                                                   const EncodeOptions& options) {
  if (options.kept_strs != nullptr && Py_TYPE(obj) == &PyUnicode_Type) {
    // A str that is not ASCII would be copied to the heap: its UTF-8 form,
    // which CPython keeps with the str for as long as the str lives, is
    // viewed instead. (An ASCII str's copy into the arena costs less than
    // keeping a reference, as measured.)
    if (std::optional<std::string_view> utf8 = utf8_of(obj)) {
      view_str_text(obj, *utf8, slot, *options.kept_strs);
      return {};
    }
    PyErr_Clear();  // unpaired surrogates: encode_plain reports them
  }
  slot = OSV_TRY(encode_plain(obj));
  note_outside_arena(options);
  return {};
}

// Converts a plain object into a fresh Null slot.
[[gnu::always_inline]] inline PyResult<void> encode_plain_into(PyObject* obj, Value& slot,
                                                               const EncodeOptions& options) {
  if (encode_plain_fast(obj, slot, options)) [[likely]] {
    return {};
  }
  return encode_plain_rest(obj, slot, options);
}

// ---------------------------------------------------------------------------
// Shared objects (see SharedObjects).

}  // namespace

struct SharedObjects::Impl {
  struct Entry {
    PyRef object;             // keeps the address taken while the table lives
    Value value;              // the conversion every place of the object shares
    std::uint32_t reach = 0;  // levels below the object's own that its conversion met
    bool done = false;        // false while the object is being converted
  };
  // The objects being converted, outermost first.
  struct Frame {
    PyObject* object;
    std::uint32_t depth;
    std::uint32_t deepest;  // the deepest level met inside it so far
  };
  // Entries by object address: open addressing over indexes into
  // `entries`, kept at most half full. (A node-based map cost a heap block
  // per object and made converting a large schema four times slower.)
  static constexpr std::uint32_t kFree = std::numeric_limits<std::uint32_t>::max();
  std::vector<Entry> entries;
  std::vector<std::uint32_t> slots = std::vector<std::uint32_t>(64, kFree);
  std::vector<Frame> frames;
  std::optional<Fault> fault;

  // The slot that holds `obj`'s entry, or the free slot where it would go.
  std::size_t position(const PyObject* obj) const noexcept {
    const std::size_t mask = slots.size() - 1;
    std::size_t at = static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(obj) >> 4) *
                                              0x9E3779B97F4A7C15ull) &
                     mask;
    while (slots[at] != kFree && entries[slots[at]].object.get() != obj) at = (at + 1) & mask;
    return at;
  }
  // The entry of `obj`, or nullptr.
  const Entry* find(const PyObject* obj) const noexcept {
    const std::uint32_t index = slots[position(obj)];
    return index == kFree ? nullptr : &entries[index];
  }
  // The entry of `obj`; nullptr when it had none and a new one was made
  // (entries.back()). One probe for both.
  const Entry* find_or_add(PyObject* obj) {
    std::size_t at = position(obj);
    if (slots[at] != kFree) return &entries[slots[at]];
    if (2 * (entries.size() + 1) > slots.size()) {
      slots.assign(2 * slots.size(), kFree);
      for (std::uint32_t i = 0; i < entries.size(); ++i) {
        slots[position(entries[i].object.get())] = i;
      }
      at = position(obj);
    }
    slots[at] = static_cast<std::uint32_t>(entries.size());
    entries.push_back(Entry{PyRef::borrow(obj), Value(), 0, false});
    return nullptr;
  }

  // A value converted at `depth` inside the innermost object.
  void reached(std::uint32_t depth) noexcept {
    if (!frames.empty() && frames.back().deepest < depth) frames.back().deepest = depth;
  }
};

SharedObjects::SharedObjects() : impl_(std::make_unique<Impl>()) {}
SharedObjects::~SharedObjects() = default;
const std::optional<SharedObjects::Fault>& SharedObjects::fault() const noexcept {
  return impl_->fault;
}

namespace {

using SharedTable = SharedObjects::Impl;

std::string key_step(PyObject* key) {
  if (!PyUnicode_Check(key)) return {};
  std::optional<std::string_view> text = utf8_of(key);
  if (!text) {
    PyErr_Clear();
    return {};
  }
  return std::string(*text);
}

// The step from `parent` to `child`: the first place of the child in the
// order the conversion reads the parent. Nothing when the parent is not a
// dict, list or tuple, or no longer holds the child. Runs no Python code.
std::optional<std::string> step_to(PyObject* parent, PyObject* child) {
  if (PyDict_Check(parent)) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(parent, &pos, &key, &value)) {
      if (key == child || value == child) return key_step(key);
    }
  } else if (PyList_Check(parent) || PyTuple_Check(parent)) {
    const bool list = PyList_Check(parent);
    const Py_ssize_t n = list ? PyList_GET_SIZE(parent) : PyTuple_GET_SIZE(parent);
    for (Py_ssize_t i = 0; i < n; ++i) {
      if ((list ? PyList_GET_ITEM(parent, i) : PyTuple_GET_ITEM(parent, i)) == child) {
        return std::to_string(i);
      }
    }
  }
  return std::nullopt;
}

// The steps to `obj` met inside the first `frames` objects being converted.
std::vector<std::string> steps_to(const SharedTable& table, std::size_t frames, PyObject* obj) {
  std::vector<std::string> steps;
  for (std::size_t i = 1; i <= frames; ++i) {
    PyObject* child = i < frames ? table.frames[i].object : obj;
    if (std::optional<std::string> step = step_to(table.frames[i - 1].object, child)) {
      steps.push_back(std::move(*step));
    }
  }
  return steps;
}

// Continues `steps` from `obj`, converted before and now placed at `depth`,
// down to a place inside it at the nesting limit: at each level a child
// whose conversion reaches that far.
void descend_to_limit(const SharedTable& table, PyObject* obj, std::uint32_t depth,
                      std::vector<std::string>& steps) {
  const auto reaches_limit = [&](PyObject* child, std::uint32_t at) {
    if (at >= limits::kMaxDepth) return true;
    const SharedTable::Entry* found = table.find(child);
    return found != nullptr && found->done && at + found->reach >= limits::kMaxDepth;
  };
  while (depth < limits::kMaxDepth) {
    PyObject* next = nullptr;
    std::string step;
    if (PyDict_Check(obj)) {
      Py_ssize_t pos = 0;
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      while (next == nullptr && PyDict_Next(obj, &pos, &key, &value)) {
        if (reaches_limit(key, depth + 1)) {
          next = key;
        } else if (reaches_limit(value, depth + 1)) {
          next = value;
        }
        if (next != nullptr) step = key_step(key);
      }
    } else if (PyList_Check(obj) || PyTuple_Check(obj)) {
      const bool list = PyList_Check(obj);
      const Py_ssize_t n = list ? PyList_GET_SIZE(obj) : PyTuple_GET_SIZE(obj);
      for (Py_ssize_t i = 0; i < n && next == nullptr; ++i) {
        PyObject* item = list ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i);
        if (reaches_limit(item, depth + 1)) {
          next = item;
          step = std::to_string(i);
        }
      }
    }
    if (next == nullptr) return;
    steps.push_back(std::move(step));
    obj = next;
    ++depth;
  }
}

void record_fault(SharedTable& table, SharedObjects::Fault fault) {
  if (!table.fault) table.fault = std::move(fault);
}

// The nesting limit met by `obj` at `options.depth`.
PyError too_deep(PyObject* obj, const EncodeOptions& options) {
  if (options.shared != nullptr) {
    SharedTable& table = options.shared->impl();
    record_fault(table, {SharedObjects::Fault::Kind::TooDeep,
                         steps_to(table, table.frames.size(), obj)});
  }
  return too_deep();
}

// ---------------------------------------------------------------------------
// Containers.

// Conversions write into a Null slot of the parent's list rather than
// return their Value: containers are then built in place (see
// build_in_place), and the slot stays Null when the conversion fails.
PyResult<void> encode_into(PyObject* obj, const EncodeOptions& options, Value& slot);

inline PyResult<void> encode_guarded_into(PyObject* obj, const EncodeOptions& options,
                                          Value& slot) {
  return with_stack_guard([&] { return encode_into(obj, options, slot); });
}

// One container item. Plain objects are converted directly; the stack is
// measured at every 8th level only, as the decoder does: eight levels of
// these frames stay far below the guard's threshold, and the measure costs a
// thread-local lookup per container.
inline PyResult<void> encode_child_into(PyObject* obj, const EncodeOptions& child, Value& slot) {
  if (child.depth < limits::kMaxDepth && is_plain(obj)) {
    return encode_plain_into(obj, slot, child);
  }
  if ((child.depth & (kGuardEvery - 1)) != 0) return encode_into(obj, child, slot);
  return encode_guarded_into(obj, child, slot);
}

// An empty list with room for `n` items, in the call's arena if it has one.
template <class T>
SharedList<T> new_list(const EncodeOptions& options, std::size_t n) {
  if (options.arena != nullptr) return SharedList<T>::in_arena(*options.arena, n);
  SharedList<T> list;
  if (n != 0) list.reserve(n);
  return list;
}

// New references to a run of objects, released at scope end: what a
// container held when its conversion began, whatever callbacks do to it.
class Snapshot {
 public:
  explicit Snapshot(std::size_t capacity) : capacity_(capacity < kInline ? kInline : capacity) {
    if (capacity > kInline) {
      heap_ = std::make_unique<PyObject*[]>(capacity);
      data_ = heap_.get();
    }
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() {
    for (std::size_t i = 0; i < size_; ++i) Py_DECREF(data_[i]);
  }
  // The capacity comes from the container's size with no Python code run
  // since; more items than that is a broken invariant, never an overrun.
  void push(PyObject* borrowed) {
    if (size_ == capacity_) throw InternalFault("container grew while it was being read");
    data_[size_++] = Py_NewRef(borrowed);
  }
  std::size_t size() const noexcept { return size_; }
  PyObject* operator[](std::size_t i) const noexcept { return data_[i]; }

 private:
  static constexpr std::size_t kInline = 16;
  PyObject* inline_[kInline];
  std::unique_ptr<PyObject*[]> heap_;
  PyObject** data_ = inline_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

PyResult<void> encode_list(PyObject* list, const EncodeOptions& child, Value& slot) {
  const std::size_t n = static_cast<std::size_t>(PyList_GET_SIZE(list));
  ValueList items = new_list<Value>(child, n);
  std::size_t i = 0;
  if (child.depth < limits::kMaxDepth) {
    for (; i < n; ++i) {
      PyObject* item = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i));
      if (!is_plain(item)) break;
      OSV_TRY(encode_plain_into(item, items.emplace_back(), child));
    }
  }
  if (i < n) {
    // No Python code has run yet, so the rest of the list is as it was at
    // the start; from here callbacks may change it, so keep what it holds.
    Snapshot rest(n - i);
    for (std::size_t j = i; j < n; ++j) {
      rest.push(PyList_GET_ITEM(list, static_cast<Py_ssize_t>(j)));
    }
    for (std::size_t j = 0; j < rest.size(); ++j) {
      OSV_TRY(encode_child_into(rest[j], child, items.emplace_back()));
    }
  }
  build_in_place(slot, [&] { return Value::sequence(std::move(items)); });
  return {};
}

// An exact tuple cannot change and is kept alive by whoever handed it to us,
// so its items are read in place.
PyResult<void> encode_tuple(PyObject* tuple, const EncodeOptions& child, Value& slot) {
  const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
  ValueList items = new_list<Value>(child, static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    OSV_TRY(encode_child_into(PyTuple_GET_ITEM(tuple, i), child, items.emplace_back()));
  }
  build_in_place(slot, [&] { return Value::sequence(std::move(items)); });
  return {};
}

// Reads the dict's own storage (PyDict_Next), never an overridden items().
PyResult<void> encode_dict(PyObject* dict, const EncodeOptions& child, Value& slot) {
  const std::size_t n = static_cast<std::size_t>(PyDict_GET_SIZE(dict));
  ValuePairList pairs = new_list<ValuePair>(child, n);
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  bool rest = false;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (child.depth >= limits::kMaxDepth || !is_plain(key) || !is_plain(value)) {
      rest = true;
      break;
    }
    ValuePair& pair = pairs.emplace_back();
    OSV_TRY(encode_plain_into(key, pair.key, child));
    OSV_TRY(encode_plain_into(value, pair.value, child));
  }
  if (rest) {
    // As in encode_list: the pairs left are those of the dict at the start.
    Snapshot held(2 * (n - pairs.size()));
    do {
      held.push(key);
      held.push(value);
    } while (PyDict_Next(dict, &pos, &key, &value));
    for (std::size_t j = 0; j < held.size(); j += 2) {
      ValuePair& pair = pairs.emplace_back();
      OSV_TRY(encode_child_into(held[j], child, pair.key));
      OSV_TRY(encode_child_into(held[j + 1], child, pair.value));
    }
  }
  build_in_place(slot, [&] { return Value::mapping(std::move(pairs)); });
  return {};
}

// Drains `iterable`'s iterator, converting each item as it comes.
PyResult<void> encode_iterable(PyObject* iterable, const EncodeOptions& child, Value& slot) {
  PyRef iterator = PyRef::steal(PyObject_GetIter(iterable));
  if (!iterator) return fetched();
  ValueList items;
  for (;;) {
    PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
    if (!item) {
      if (PyErr_Occurred()) return fetched();
      break;
    }
    OSV_TRY(encode_child_into(item.get(), child, items.emplace_back()));
  }
  build_in_place(slot, [&] { return Value::sequence(std::move(items)); });
  note_outside_arena(child);
  return {};
}

// ---------------------------------------------------------------------------
// Tags.

PyResult<Value> encode_tag_object(TagObject* tag, const EncodeOptions& options) {
  std::string text;
  PyRef value;
  {
    SharedBorrow borrow = OSV_TRY(SharedBorrow::take(tag->borrows));
    text = std::string(tag_text(tag));
    value = PyRef::borrow(tag_value(tag));
  }
  OSV_TRY(validate_dump_tag(text));
  Value inner = OSV_TRY(encode_object_guarded(value.get(), options));
  return attach_tag(written_dump_tag(text), std::move(inner));
}

PyResult<TagObject*> as_tag_object(PyObject* obj) {
  PyTypeObject* tag_type = OSV_TRY(tag_type_object());
  if (Py_TYPE(obj) != tag_type && !PyType_IsSubtype(Py_TYPE(obj), tag_type)) return nullptr;
  return reinterpret_cast<TagObject*>(obj);
}

PyResult<Value> encode_tags_callback_result(PyObject* result, const EncodeOptions& options) {
  if (TagObject* tag = OSV_TRY(as_tag_object(result))) return encode_tag_object(tag, options);
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    PyObject* tag = PyTuple_GET_ITEM(result, 0);
    if (!PyUnicode_Check(tag)) return std::unexpected(not_an_instance_error(tag, "str"));
    std::optional<std::string_view> text = utf8_of(tag);
    if (!text) return fetched();
    // Converting the value may run Python code; the tag is kept as a copy.
    std::string owned(*text);
    OSV_TRY(validate_dump_tag(owned));
    Value inner = OSV_TRY(encode_object_guarded(PyTuple_GET_ITEM(result, 1), options));
    return attach_tag(written_dump_tag(owned), std::move(inner));
  }
  return std::unexpected(
      encode_error("a tags callback must return a OstrevaneTag or a (tag, value) tuple"));
}

// ---------------------------------------------------------------------------
// Special types.

// Length of the UTC offset that ends an isoformat() text: "Z", or
// ±HH:MM with optional :SS and .ffffff (Python writes seconds and
// microseconds of an offset when it has them); 0 when there is none.
std::size_t offset_suffix_length(std::string_view text) noexcept {
  if (!text.empty() && text.back() == 'Z') return 1;
  const auto digits = [](std::string_view s, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
  };
  for (const std::size_t len : {std::size_t{16}, std::size_t{9}, std::size_t{6}}) {
    if (text.size() < len) continue;
    const std::string_view s = text.substr(text.size() - len);
    if ((s[0] != '+' && s[0] != '-') || !digits(s, 1, 2) || s[3] != ':' || !digits(s, 4, 2)) {
      continue;
    }
    if (len >= 9 && (s[6] != ':' || !digits(s, 7, 2))) continue;
    if (len == 16 && (s[9] != '.' || !digits(s, 10, 6))) continue;
    return len;
  }
  return 0;
}

}  // namespace

MaybeValue encode_datetime(PyObject* obj, const EncodeOptions& options) {
  PyObject* key = OSV_TRY(name_object(Name::Isoformat));
  PyRef isoformat = PyRef::steal(PyObject_GetAttr(obj, key));
  if (!isoformat) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (options.passthrough_datetime) return std::nullopt;
  PyRef result = PyRef::steal(PyObject_CallNoArgs(isoformat.get()));
  if (!result) return fetched();
  if (!PyUnicode_Check(result.get())) return std::nullopt;
  std::optional<std::string_view> text = utf8_of(result.get());
  if (!text) {
    PyErr_Clear();
    return std::nullopt;
  }
  const std::size_t suffix_len = offset_suffix_length(*text);
  std::string_view body = text->substr(0, text->size() - suffix_len);
  std::string_view suffix = text->substr(body.size());
  const bool has_t = body.find('T') != std::string_view::npos;
  if (options.omit_microseconds) body = body.substr(0, body.find('.'));
  if (options.naive_utc && suffix.empty() && has_t) suffix = "+00:00";
  if (options.utc_z && suffix == "+00:00") suffix = "Z";
  std::string out;
  out.reserve(body.size() + suffix.size());
  out.append(body).append(suffix);
  return Value::string(out);
}

PyResult<bool> is_enum_instance(PyObject* obj) {
  const std::string meta = OSV_TRY(type_name(Py_TYPE(reinterpret_cast<PyObject*>(Py_TYPE(obj)))));
  return meta == "EnumType" || meta == "EnumMeta";
}

namespace {

// A field of __dataclass_fields__ that is instance data: its _field_type is
// the marker named "_FIELD" (ClassVar and InitVar pseudo-fields carry other
// markers), as dataclasses.fields() decides. An entry without a _field_type
// is not from the dataclasses module and counts as a field.
PyResult<bool> is_real_dataclass_field(PyObject* field) {
  PyRef field_type = OSV_TRY(optional_attr(field, Name::FieldType));
  if (!field_type) return true;
  PyRef marker = OSV_TRY(optional_attr(field_type.get(), Name::FieldName));
  return marker && PyUnicode_Check(marker.get()) &&
         PyUnicode_EqualToUTF8(marker.get(), "_FIELD") == 1;
}

}  // namespace

PyResult<bool> visit_dataclass_fields(PyObject* obj, const DataclassFieldVisitor& visit) {
  PyRef fields = OSV_TRY(optional_attr(obj, Name::DataclassFields));
  if (!fields || PyType_Check(obj)) return false;
  PyRef iterator = PyRef::steal(PyObject_GetIter(fields.get()));
  if (!iterator) return fetched();
  for (;;) {
    PyRef name = PyRef::steal(PyIter_Next(iterator.get()));
    if (!name) {
      if (PyErr_Occurred()) return fetched();
      break;
    }
    if (!PyUnicode_Check(name.get())) {
      return std::unexpected(not_an_instance_error(name.get(), "str"));
    }
    // A dict (what the dataclasses module makes) maps each name to its
    // field, whose kind decides; a tuple, list or other iterable holds only
    // names, each of which is a field.
    if (PyDict_Check(fields.get())) {
      PyRef field = PyRef::steal(PyObject_GetItem(fields.get(), name.get()));
      if (!field) return fetched();
      if (!OSV_TRY(is_real_dataclass_field(field.get()))) continue;
    }
    PyRef attr = PyRef::steal(PyObject_GetAttr(obj, name.get()));
    if (!attr) return fetched();
    OSV_TRY(visit(name.get(), attr.get()));
  }
  return true;
}

namespace {

MaybeValue encode_dataclass(PyObject* obj, const EncodeOptions& options) {
  ValuePairList pairs;
  const bool is_dataclass =
      OSV_TRY(visit_dataclass_fields(obj, [&](PyObject* name, PyObject* value) -> PyResult<void> {
        Value key = OSV_TRY(encode_str(name));
        pairs.emplace_back(std::move(key), OSV_TRY(encode_object_guarded(value, options)));
        return {};
      }));
  if (!is_dataclass) return std::nullopt;
  return Value::mapping(std::move(pairs));
}

// numpy.ndarray and numpy.generic, or nothing when numpy cannot be imported.
struct NumpyTypes {
  PyObject* ndarray = nullptr;  // strong, kept for the process
  PyObject* generic = nullptr;
};
OnceCell<NumpyTypes> g_numpy_types;

const NumpyTypes& numpy_types() {
  if (NumpyTypes* cached = g_numpy_types.get()) [[likely]] {
    return *cached;
  }
  auto* fresh = new NumpyTypes;
  PyRef module = PyRef::steal(PyImport_ImportModule("numpy"));
  PyRef ndarray = module ? PyRef::steal(PyObject_GetAttrString(module.get(), "ndarray")) : PyRef();
  PyRef generic = ndarray ? PyRef::steal(PyObject_GetAttrString(module.get(), "generic")) : PyRef();
  if (generic) {
    fresh->ndarray = ndarray.release();
    fresh->generic = generic.release();
  } else {
    PyErr_Clear();
  }
  return *g_numpy_types.publish(fresh, [](NumpyTypes* loser) {
    Py_XDECREF(loser->ndarray);
    Py_XDECREF(loser->generic);
    delete loser;
  });
}

// Whether a class named numpy.ndarray or numpy.generic is among the type's
// bases: only then is numpy imported and asked.
bool has_numpy_base(PyTypeObject* type) noexcept {
  PyObject* mro = type->tp_mro;
  if (mro == nullptr || !PyTuple_Check(mro)) return false;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
    const std::string_view name =
        reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i))->tp_name;
    if (name == "numpy.ndarray" || name == "numpy.generic") return true;
  }
  return false;
}

}  // namespace

// The plain Python form of a numpy object (tolist(), else item()), or
// nothing when `obj` is not one.
PyResult<PyRef> numpy_to_python(PyObject* obj) {
  if (!has_numpy_base(Py_TYPE(obj))) return PyRef();
  const NumpyTypes& numpy = numpy_types();
  if (numpy.ndarray == nullptr) return PyRef();
  int is_numpy = PyObject_IsInstance(obj, numpy.ndarray);
  if (is_numpy == 0) is_numpy = PyObject_IsInstance(obj, numpy.generic);
  if (is_numpy < 0) return fetched();
  if (is_numpy == 0) return PyRef();
  // A failing tolist() and item() both: not a numpy value we can read.
  for (const Name method : {Name::Tolist, Name::Item}) {
    PyResult<PyRef> result = call_method_no_args(obj, method);
    if (result) return std::move(*result);
  }
  return PyRef();
}

namespace {

MaybeValue encode_numpy(PyObject* obj, const EncodeOptions& options) {
  PyRef plain = OSV_TRY(numpy_to_python(obj));
  if (!plain) return std::nullopt;
  return OSV_TRY(encode_object_guarded(plain.get(), options));
}

// Digits of a finite decimal's fixed-point text (sign and point left out),
// from its coefficient and exponent: as_tuple() gives both without making
// the text.
PyResult<std::uint64_t> decimal_fixed_digits(PyObject* obj) {
  PyRef parts = OSV_TRY(call_method_no_args(obj, Name::AsTuple));
  if (!PyTuple_Check(parts.get()) || PyTuple_GET_SIZE(parts.get()) != 3) {
    return std::unexpected(not_an_instance_error(parts.get(), "tuple"));
  }
  PyObject* digits = PyTuple_GET_ITEM(parts.get(), 1);
  PyObject* exponent = PyTuple_GET_ITEM(parts.get(), 2);
  if (!PyTuple_Check(digits)) return std::unexpected(not_an_instance_error(digits, "tuple"));
  if (!PyLong_Check(exponent)) return std::unexpected(not_an_instance_error(exponent, "int"));
  // Clamped far beyond any decimal context's exponents, so that the sums
  // below cannot overflow.
  constexpr long long kFar = 1LL << 61;
  const long long n = std::min<long long>(PyTuple_GET_SIZE(digits), kFar);
  int overflow = 0;
  long long e = PyLong_AsLongLongAndOverflow(exponent, &overflow);
  if (e == -1 && PyErr_Occurred()) return fetched();
  e = overflow != 0 ? overflow * kFar : std::clamp(e, -kFar, kFar);
  if (e >= 0) {
    PyObject* first = n == 1 ? PyTuple_GET_ITEM(digits, 0) : nullptr;
    const bool zero = first != nullptr && PyLong_Check(first) && PyLong_AsLong(first) == 0;
    return static_cast<std::uint64_t>(zero ? 1 : n + e);  // "0" whatever the exponent
  }
  // At least one digit before the point ("0.001").
  return static_cast<std::uint64_t>(std::max(n + e, 1LL) - e);
}

PyResult<Value> encode_decimal(PyObject* obj) {
  PyRef finite = OSV_TRY(call_method_no_args(obj, Name::IsFinite));
  if (!PyBool_Check(finite.get())) {
    return std::unexpected(not_an_instance_error(finite.get(), "bool"));
  }
  if (finite.get() == Py_False) {
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) {
      // A signalling NaN refuses float(); it is still a NaN.
      PyErr_Clear();
      return Value::floating(std::numeric_limits<double>::quiet_NaN());
    }
    return Value::floating(value);
  }
  // The fixed-point text of a large exponent is as long as the exponent is
  // large: refused before it is made.
  if (const std::uint64_t digits = OSV_TRY(decimal_fixed_digits(obj));
      digits > limits::kDecimalFixedDigits) {
    return std::unexpected(encode_error(
        "Decimal has " + std::to_string(digits) +
        " digits in fixed-point notation, more than the limit of " +
        std::to_string(limits::kDecimalFixedDigits) + " digits"));
  }
  PyObject* format = OSV_TRY(name_object(Name::Format));
  PyRef spec = PyRef::steal(PyUnicode_FromStringAndSize("f", 1));
  if (!spec) return fetched();
  PyRef text = PyRef::steal(PyObject_CallMethodOneArg(obj, format, spec.get()));
  if (!text) return fetched();
  if (!PyUnicode_Check(text.get()))
    return std::unexpected(not_an_instance_error(text.get(), "str"));
  std::optional<std::string_view> fixed = utf8_of(text.get());
  if (!fixed) return fetched();
  if (fixed->find('.') == std::string_view::npos) return Value::big_int(*fixed, 10);
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return Value::string(*fixed);
  }
  // Written as a float only when that float reads back as the same decimal.
  PyRef as_float = PyRef::steal(PyFloat_FromDouble(value));
  PyRef repr = as_float ? PyRef::steal(PyObject_Repr(as_float.get())) : PyRef();
  PyRef rebuilt =
      repr
          ? PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(obj)), repr.get()))
          : PyRef();
  if (!rebuilt) return fetched();
  const int equal = PyObject_RichCompareBool(rebuilt.get(), obj, Py_EQ);
  if (equal < 0) return fetched();
  return equal ? Value::floating(value) : Value::string(*fixed);
}

MaybeValue encode_path(PyObject* obj) {
  PyRef fspath = OSV_TRY(optional_attr(obj, Name::Fspath));
  if (!fspath) return std::nullopt;
  PyRef path = OSV_TRY(call_method_no_args(obj, Name::Fspath));
  if (!PyUnicode_Check(path.get())) return std::nullopt;
  return OSV_TRY(encode_str(path.get()));
}

// Objects no built-in rule took; `options` is already the child record.
MaybeValue encode_other(PyObject* obj, const EncodeOptions& options) {
  if (std::optional<Value> date = OSV_TRY(encode_datetime(obj, options))) return date;
  PyTypeObject* type = Py_TYPE(obj);
  const std::string name = OSV_TRY(type_name(type));
  if (OSV_TRY(is_enum_instance(obj))) {
    PyObject* key = OSV_TRY(name_object(Name::Value));
    PyRef value = PyRef::steal(PyObject_GetAttr(obj, key));
    if (!value) return fetched();
    return OSV_TRY(encode_object_guarded(value.get(), options));
  }
  if (!options.passthrough_dataclass) {
    if (std::optional<Value> fields = OSV_TRY(encode_dataclass(obj, options))) return fields;
  }
  if (options.serialize_numpy) {
    if (std::optional<Value> array = OSV_TRY(encode_numpy(obj, options))) return array;
  }
  if (name == "UUID" && OSV_TRY(type_module_name(type)) == "uuid") {
    PyRef text = PyRef::steal(PyObject_Str(obj));
    if (!text) return fetched();
    return OSV_TRY(encode_str(text.get()));
  }
  if (name == "Decimal" && OSV_TRY(type_module_name(type)) == "decimal") {
    return OSV_TRY(encode_decimal(obj));
  }
  return encode_path(obj);
}

PyResult<Value> unserializable(PyTypeObject* type) {
  std::string message = "type ";
  message += OSV_TRY(type_name(type));
  message += " is not YAML serializable";
  return std::unexpected(unserializable_error(std::move(message)));
}

// Puts a value that a rarer conversion returned (built on the heap) into the
// slot.
PyResult<void> store(Value& slot, PyResult<Value>&& result, const EncodeOptions& options) {
  if (!result) return std::unexpected(std::move(result).error());
  slot = std::move(*result);
  note_outside_arena(options);
  return {};
}

// The dispatcher: the first rule that matches decides.
PyResult<void> encode_object_into(PyObject* obj, const EncodeOptions& options, Value& slot) {
  PyTypeObject* type = Py_TYPE(obj);
  if (is_plain(obj)) {
    if (options.shared != nullptr) options.shared->impl().reached(options.depth);
    return encode_plain_into(obj, slot, options);
  }
  if (type == &PyList_Type) return encode_list(obj, options.child(), slot);
  if (type == &PyDict_Type) return encode_dict(obj, options.child(), slot);
  if (type == &PyTuple_Type) return encode_tuple(obj, options.child(), slot);
  if (PyLong_Check(obj)) return store(slot, encode_int(obj), options);
  if (PyFloat_Check(obj)) {
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) return fetched();
    slot = Value::floating(value);
    return {};
  }
  if (PyUnicode_Check(obj)) return store(slot, encode_str(obj), options);
  if (PyBytes_Check(obj)) return store(slot, encode_bytes(obj), options);
  if (PyList_Check(obj) || PyTuple_Check(obj)) {
    return encode_iterable(obj, options.child(), slot);
  }
  if (PyDict_Check(obj)) return encode_dict(obj, options.child(), slot);
  if (PyAnySet_Check(obj)) return encode_iterable(obj, options.child(), slot);
  if (TagObject* tag = OSV_TRY(as_tag_object(obj))) {
    return store(slot, encode_tag_object(tag, options.child()), options);
  }
  if (options.serializers != nullptr) {
    PyObject* found = nullptr;
    const int rc =
        PyDict_GetItemRef(options.serializers, reinterpret_cast<PyObject*>(type), &found);
    if (rc < 0) return fetched();
    if (rc > 0) {
      PyRef callback = PyRef::steal(found);
      PyRef result = PyRef::steal(PyObject_CallOneArg(callback.get(), obj));
      if (!result) return fetched();
      return store(slot, encode_tags_callback_result(result.get(), options.child()), options);
    }
  }
  if (std::optional<Value> special = OSV_TRY(encode_other(obj, options.child()))) {
    slot = std::move(*special);
    note_outside_arena(options);
    return {};
  }
  if (options.default_fn != nullptr) {
    PyRef replacement = PyRef::steal(PyObject_CallOneArg(options.default_fn, obj));
    if (!replacement) return fetched();
    // What `default` returns is never passed to it again.
    EncodeOptions child = options.child();
    child.default_fn = nullptr;
    return encode_guarded_into(replacement.get(), child, slot);
  }
  return store(slot, unserializable(type), options);
}

bool has_children(const Value& v) noexcept {
  switch (v.kind()) {
    case ValueKind::Sequence:
      return !v.items().empty();
    case ValueKind::Mapping:
      return !v.pairs().empty();
    case ValueKind::Tagged:
      return true;
    default:
      return false;
  }
}

// An object converted once: later places take a clone of its Value, after
// checking that it would not pass the nesting limit there.
PyResult<void> encode_shared_into(PyObject* obj, const EncodeOptions& options, Value& slot) {
  SharedTable& table = options.shared->impl();
  const std::uint32_t depth = options.depth;
  if (is_plain(obj)) return encode_object_into(obj, options, slot);
  if (const SharedTable::Entry* seen = table.find_or_add(obj)) {
    const SharedTable::Entry& entry = *seen;
    if (!entry.done) {
      std::vector<std::string> steps = steps_to(table, table.frames.size(), obj);
      std::size_t outer = 0;
      while (outer < table.frames.size() && table.frames[outer].object != obj) ++outer;
      const std::size_t outer_steps = steps_to(table, outer, obj).size();
      record_fault(table, {SharedObjects::Fault::Kind::Cycle, std::move(steps), outer_steps});
      return std::unexpected(too_deep());
    }
    if (depth + entry.reach >= limits::kMaxDepth) {
      std::vector<std::string> steps = steps_to(table, table.frames.size(), obj);
      descend_to_limit(table, obj, depth, steps);
      record_fault(table, {SharedObjects::Fault::Kind::TooDeep, std::move(steps)});
      return std::unexpected(too_deep());
    }
    slot = entry.value.clone();
    table.reached(depth + entry.reach);
    return {};
  }
  const std::size_t index = table.entries.size() - 1;
  table.frames.push_back({obj, depth, depth});
  PyResult<void> converted = encode_object_into(obj, options, slot);
  SharedTable::Frame frame = table.frames.back();
  table.frames.pop_back();
  if (!converted) return converted;
  if (has_children(slot)) frame.deepest = std::max(frame.deepest, depth + 1);
  SharedTable::Entry& entry = table.entries[index];
  entry.reach = frame.deepest - depth;
  entry.value = slot.clone();
  entry.done = true;
  table.reached(frame.deepest);
  return {};
}

PyResult<void> encode_into(PyObject* obj, const EncodeOptions& options, Value& slot) {
  if (options.depth >= limits::kMaxDepth) return std::unexpected(too_deep(obj, options));
  if (options.shared != nullptr) [[unlikely]] {
    return encode_shared_into(obj, options, slot);
  }
  return encode_object_into(obj, options, slot);
}

// Offending characters of a tag (rule 2): Unicode White_Space and C0/C1
// controls.
bool is_space_or_control(std::uint32_t cp) noexcept {
  if (cp <= 0x20 || (cp >= 0x7F && cp <= 0xA0)) return true;
  return cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 ||
         cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// Decodes the UTF-8 character at `i` (valid UTF-8 assumed; a stray byte is
// returned as itself) and moves `i` past it.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) noexcept {
  const auto byte = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[at]));
  };
  const std::uint32_t lead = byte(i);
  std::size_t len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (lead >= 0x80 && lead < 0xC0) len = 1;
  if (i + len > text.size()) len = 1;
  std::uint32_t cp = len == 1   ? lead
                     : len == 2 ? (lead & 0x1F)
                     : len == 3 ? (lead & 0x0F)
                                : (lead & 0x07);
  for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (byte(i + k) & 0x3F);
  i += len;
  return cp;
}

void append_message_char(std::string& out, std::uint32_t cp, std::string_view raw,
                         char quote_char) {
  switch (cp) {
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\0':
      out += "\\0";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  if (cp == static_cast<unsigned char>(quote_char)) {
    out += '\\';
    out += quote_char;
    return;
  }
  if (!Py_UNICODE_ISPRINTABLE(static_cast<Py_UCS4>(cp)) || detail::is_grapheme_extend(cp)) {
    char buf[8];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, cp, 16);
    out += "\\u{";
    out.append(buf, static_cast<std::size_t>(end - buf));
    out += '}';
    return;
  }
  out.append(raw);
}

std::string quoted_tag(std::string_view tag) {
  std::string out;
  append_message_literal(out, tag, '"');
  return out;
}

std::string quoted_char(std::string_view tag, std::size_t at) {
  std::size_t end = at;
  next_code_point(tag, end);
  std::string out;
  append_message_literal(out, tag.substr(at, end - at), '\'');
  return out;
}

PyError invalid_tag(std::string_view tag, std::string_view rule) {
  std::string message = "invalid tag ";
  message += quoted_tag(tag);
  message += ": ";
  message += rule;
  return encode_error(std::move(message));
}

}  // namespace

// ---------------------------------------------------------------------------
// Public entries.

EncodeOptions EncodeOptions::from_mask(std::uint64_t mask, PyObject* default_fn,
                                       PyObject* serializers) noexcept {
  EncodeOptions options;
  options.default_fn = default_fn;
  options.serializers = serializers;
  options.serialize_numpy = (mask & kOptSerializeNumpy) != 0;
  options.passthrough_datetime = (mask & kOptPassthroughDatetime) != 0;
  options.passthrough_dataclass = (mask & kOptPassthroughDataclass) != 0;
  options.omit_microseconds = (mask & kOptOmitMicroseconds) != 0;
  options.naive_utc = (mask & kOptNaiveUtc) != 0;
  options.utc_z = (mask & kOptUtcZ) != 0;
  return options;
}

PyResult<Value> encode_object_guarded(PyObject* obj, const EncodeOptions& options) {
  Value value;
  // A plain scalar cannot nest, so there is no stack to measure: the
  // represent road converts every scalar through here.
  if (options.depth < limits::kMaxDepth && is_plain(obj)) {
    if (options.shared != nullptr) options.shared->impl().reached(options.depth);
    OSV_TRY(encode_plain_into(obj, value, options));
    return value;
  }
  OSV_TRY(encode_guarded_into(obj, options, value));
  return value;
}

PyResult<void> validate_dump_tag(std::string_view tag) {
  if (tag.empty()) return std::unexpected(invalid_tag(tag, "a tag must start with '!'"));
  for (std::size_t i = 0; i < tag.size();) {
    const std::size_t at = i;
    if (is_space_or_control(next_code_point(tag, i))) {
      std::string rule = "a tag cannot contain whitespace or control characters (found ";
      rule += quoted_char(tag, at);
      rule += ')';
      return std::unexpected(invalid_tag(tag, rule));
    }
  }
  if (tag[0] != '!') {
    // Written between "!<" and ">", where a '>' would end it early.
    if (tag.find('>') == std::string_view::npos) return {};
    return std::unexpected(invalid_tag(
        tag, "a tag that does not start with '!' is written verbatim (!<...>) and cannot "
             "contain '>'"));
  }
  if (tag.starts_with("!<")) {
    if (tag.size() > 3 && tag.back() == '>' &&
        tag.substr(2, tag.size() - 3).find('>') == std::string_view::npos) {
      return {};
    }
    return std::unexpected(invalid_tag(
        tag, "a verbatim tag must be '!<...>' with non-empty content and no interior '>'"));
  }
  if (tag.size() > 1) {
    const std::string_view rest = tag.substr(tag.starts_with("!!") ? 2 : 1);
    if (rest.find('!') != std::string_view::npos) {
      return std::unexpected(invalid_tag(
          tag,
          "a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not "
          "emit; use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag"));
    }
  }
  const std::size_t flow = tag.find_first_of(",]}");
  if (flow != std::string_view::npos) {
    std::string rule = "a shorthand tag cannot contain a flow indicator (found ";
    rule += quoted_char(tag, flow);
    rule += ')';
    return std::unexpected(invalid_tag(tag, rule));
  }
  return {};
}

std::string written_dump_tag(std::string_view tag) {
  if (!tag.empty() && tag[0] == '!') return std::string(tag);
  std::string out;
  out.reserve(tag.size() + 3);
  out.append("!<").append(tag).append(">");
  return out;
}

PyResult<Value> attach_tag(std::string_view tag, Value inner) {
  if (inner.kind() == ValueKind::Tagged) {
    drop_value_iterative(std::move(inner));
    return std::unexpected(
        encode_error("cannot attach a tag to a value that already carries a tag"));
  }
  return Value::tagged(tag, std::move(inner));
}

void append_message_literal(std::string& out, std::string_view text, char quote_char) {
  out += quote_char;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    const std::uint32_t cp = next_code_point(text, i);
    append_message_char(out, cp, text.substr(at, i - at), quote_char);
  }
  out += quote_char;
}

}  // namespace ostrevane::ffi
