#include "ffi/convert/json_direct.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "emit_util/detail/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "encode/detail/json_string.hpp"
#include "ffi/entry_guard.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

// As in the encoder and the JSON writer: the stack is measured at every 8th
// level of containers only.
constexpr std::uint32_t kGuardEvery = 8;

// Sign and 19 digits.
constexpr std::size_t kMaxIntChars = 20;

// The most a guessed reservation may multiply the text written so far.
constexpr std::size_t kMaxReserveGrowth = 4;

// A list or dict being written. Until Python code may run, its items are
// read from the container itself; from then on (hold()) from references
// taken to the current item and all those after it, as the container held
// them, which is what the encoder's snapshot of the container would hold.
// Frames live on the native stack, each linked to the one it is inside.
class Frame {
 public:
  Frame(PyObject* container, Frame*& top) noexcept
      : container_(container), outer_(top), top_(top) {
    top = this;
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  ~Frame() {
    top_ = outer_;
    for (std::size_t i = 0; i < held_size_; ++i) Py_DECREF(held_[i]);
  }

  bool held() const noexcept { return held_ != nullptr; }
  Frame* outer() const noexcept { return outer_; }

  // List: the item at `i` (0 <= i < the length when writing began).
  PyObject* item(Py_ssize_t i) noexcept {
    if (held_ == nullptr) [[likely]] {
      at_ = i;
      return PyList_GET_ITEM(container_, i);
    }
    return held_[static_cast<std::size_t>(i - at_)];
  }

  // Dict: the next pair, false past the last.
  bool next_pair(PyObject*& key, PyObject*& value) noexcept {
    if (held_ == nullptr) [[likely]] {
      if (!PyDict_Next(container_, &at_, &key, &value)) return false;
      key_ = key;
      value_ = value;
      return true;
    }
    if (next_ == held_size_) return false;
    key = held_[next_];
    value = held_[next_ + 1];
    next_ += 2;
    return true;
  }

  // Takes the references; no Python code has run since writing began.
  void hold() {
    if (PyDict_Check(container_)) {
      const auto room = 2 * static_cast<std::size_t>(PyDict_GET_SIZE(container_));
      take(room);
      push(key_);
      push(value_);
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      while (PyDict_Next(container_, &at_, &key, &value)) {
        push(key);
        push(value);
      }
      next_ = 2;
      return;
    }
    const auto n = static_cast<std::size_t>(PyList_GET_SIZE(container_));
    take(n - static_cast<std::size_t>(at_));
    for (std::size_t i = static_cast<std::size_t>(at_); i < n; ++i) {
      push(PyList_GET_ITEM(container_, static_cast<Py_ssize_t>(i)));
    }
  }

 private:
  void take(std::size_t room) {
    if (room <= kInline) {
      held_ = inline_;
    } else {
      storage_ = std::make_unique<PyObject*[]>(room);
      held_ = storage_.get();
    }
    room_ = room;
  }
  // The room comes from the container's size with no Python code run
  // since; more items than that is a broken invariant, never an overrun.
  void push(PyObject* borrowed) {
    if (held_size_ == room_) throw InternalFault("container grew while it was being written");
    held_[held_size_++] = Py_NewRef(borrowed);
  }

  PyObject* container_;  // borrowed
  Frame* outer_;
  Frame*& top_;
  Py_ssize_t at_ = 0;  // list: the current index; dict: PyDict_Next's position
  PyObject* key_ = nullptr;  // dict: the current pair, borrowed
  PyObject* value_ = nullptr;
  // Room for the pairs of a small dict, which most callbacks are met in.
  static constexpr std::size_t kInline = 8;
  PyObject* inline_[kInline];
  std::unique_ptr<PyObject*[]> storage_;
  PyObject** held_ = nullptr;
  std::size_t held_size_ = 0;
  std::size_t room_ = 0;
  std::size_t next_ = 0;  // dict: the next held pair
};

// The value of an exact int within 64 bits; false for a longer one.
[[gnu::always_inline]] inline bool small_int_value(PyObject* obj, long long& value) noexcept {
#if PY_VERSION_HEX < 0x030C0000
  // Up to two 30-bit digits are read in place (ob_size holds the signed
  // digit count on these versions), saving a call per number.
  static_assert(PyLong_SHIFT == 30);
  const Py_ssize_t size = Py_SIZE(obj);
  const digit* digits = reinterpret_cast<PyLongObject*>(obj)->ob_digit;
  if (size >= -1 && size <= 1) {
    value = static_cast<long long>(size) * static_cast<long long>(digits[0]);
    return true;
  }
  if (size == 2 || size == -2) {
    const long long magnitude =
        static_cast<long long>(digits[0]) | (static_cast<long long>(digits[1]) << PyLong_SHIFT);
    value = size < 0 ? -magnitude : magnitude;
    return true;
  }
#endif
  int overflow = 0;
  value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  return overflow == 0;
}

inline std::string_view ascii_text(PyObject* str) noexcept {
  return {static_cast<const char*>(PyUnicode_DATA(str)),
          static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

class DirectWriter {
 public:
  DirectWriter(OutputBuffer& out, const EncodeOptions& encode, const JsonOptions& options)
      : out_(out), encode_(encode), o_(options) {}

  PyResult<void> write(PyObject* obj) {
    OSV_TRY(value(0, obj, 0));
    if (refused_) return std::unexpected(encode_error(std::move(*refused_)));
    return {};
  }

 private:
  // `lead` (when not 0), then `obj` at `depth`. The common scalars are
  // written right here, sharing the separator's reservation.
  [[gnu::always_inline]] PyResult<void> value(char lead, PyObject* obj, std::uint32_t depth) {
    PyTypeObject* type = Py_TYPE(obj);
    if (depth < limits::kMaxDepth) [[likely]] {
      if (type == &PyUnicode_Type && PyUnicode_IS_COMPACT_ASCII(obj)) {
        ostrevane::detail::put_json_string(out_, lead, ascii_text(obj), 0);
        return {};
      }
      if (type == &PyFloat_Type) {
        // A finite float shares the separator's reservation too.
        const double number = PyFloat_AS_DOUBLE(obj);
        if (std::isfinite(number)) [[likely]] {
          char* p = out_.tail(kFloatRoom + 1);
          const std::size_t head = lead != 0 ? 1 : 0;
          p[0] = lead;
          out_.commit(head + ostrevane::detail::format_float_into(p + head, number));
          return {};
        }
      }
      if (type == &PyLong_Type) {
        long long small = 0;
        if (small_int_value(obj, small)) [[likely]] {
          char* p = out_.tail(kMaxIntChars + 1);
          const std::size_t head = lead != 0 ? 1 : 0;
          p[0] = lead;
          out_.commit(static_cast<std::size_t>(
              std::to_chars(p + head, p + head + kMaxIntChars, small).ptr - p));
          return {};
        }
      }
    }
    if (lead != 0) out_.push_back(lead);
    return rest(obj, depth);
  }

  PyResult<void> rest(PyObject* obj, std::uint32_t depth) {
    if (depth >= limits::kMaxDepth) return through_encoder(obj, depth);
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyFloat_Type) {
      write_json_float(out_, PyFloat_AS_DOUBLE(obj));
      return {};
    }
    if (obj == Py_None) {
      out_.append("null");
      return {};
    }
    if (type == &PyBool_Type) {
      if (obj == Py_True) {
        out_.append("true");
      } else {
        out_.append("false");
      }
      return {};
    }
    if (type == &PyDict_Type) return guarded(&DirectWriter::dict, obj, depth);
    if (type == &PyList_Type) return guarded(&DirectWriter::list, obj, depth);
    if (type == &PyTuple_Type) return guarded(&DirectWriter::tuple, obj, depth);
    if (type == &PyUnicode_Type) {
      Py_ssize_t len = 0;
      if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len)) {
        write_json_string(out_, std::string_view(utf8, static_cast<std::size_t>(len)));
        return {};
      }
      PyErr_Clear();  // unpaired surrogates: the encoder reports them
      return through_encoder(obj, depth);
    }
    // A dict subclass is read from the dict's own storage, as the encoder
    // reads it: no rule before that one can take it, nor run Python code.
    if (PyDict_Check(obj)) return guarded(&DirectWriter::dict, obj, depth);
    return through_encoder(obj, depth);
  }

  using Step = PyResult<void> (DirectWriter::*)(PyObject*, std::uint32_t);
  PyResult<void> guarded(Step step, PyObject* obj, std::uint32_t depth) {
    if ((depth & (kGuardEvery - 1)) != 0) return (this->*step)(obj, depth);
    return with_stack_guard([&] { return (this->*step)(obj, depth); });
  }

  // Any object the steps above do not write: the encoder makes it a Value
  // (running whatever Python code that takes), the JSON writer writes that.
  PyResult<void> through_encoder(PyObject* obj, std::uint32_t depth) {
    // An exact int or str is converted without running Python code.
    if (Py_TYPE(obj) != &PyLong_Type && Py_TYPE(obj) != &PyUnicode_Type) hold_containers();
    EncodeOptions options = encode_;
    options.depth = depth;
    Value tree = OSV_TRY(encode_object_guarded(obj, options));
    Result<void, JsonError> written = write_json_value_guarded(out_, tree, o_, depth);
    drop_value_iterative(std::move(tree));
    if (!written) refuse(std::move(written.error()));
    return {};
  }

  // From here on Python code may run: every container being written keeps
  // what it has still to write. Frames taken hold before are held already,
  // and so are all the frames they are inside.
  void hold_containers() {
    for (Frame* frame = top_; frame != nullptr && !frame->held(); frame = frame->outer()) {
      frame->hold();
    }
  }

  // The first refusal is kept; conversion goes on, since a conversion error
  // met later wins, as it does when the whole tree is built first.
  void refuse(JsonError&& error) {
    if (!refused_) refused_ = std::move(error.message);
  }

  // At the root, every 256 items: room for the rest of the text as long
  // as the items written so far are, on average, so that a long text grows
  // in a few large steps rather than doubling a dozen times, each copying
  // what was written and faulting in fresh pages. The average is only a
  // guess (a few long items first, then many short ones), so the room is
  // never more than kMaxReserveGrowth times what was written: a wrong guess
  // costs at most that much, and the text still grows on demand past it.
  void reserve_for_rest(Py_ssize_t done, Py_ssize_t total) {
    if ((done & 255) != 0 || done == 0 || done >= total) return;
    const std::size_t size = out_.size();
    const std::size_t cap = size * kMaxReserveGrowth;
    const std::size_t average = size / static_cast<std::size_t>(done);
    const auto left = static_cast<std::size_t>(total - done);
    std::size_t want = cap;
    // The guess only when it stays below the cap (tested before multiplying).
    if (average == 0 || left <= (cap - size) / average) {
      const std::size_t rest = average * left;
      want = std::min(cap, size + rest + rest / 8);
    }
    // Past half the room only, so that the room grows geometrically.
    if (want > out_.capacity() && size > out_.capacity() / 2) out_.reserve(want);
  }

  void newline_indent(std::uint32_t depth) { out_.newline_and_spaces(o_.indent * depth); }

  PyResult<void> list(PyObject* obj, std::uint32_t depth) {
    const Py_ssize_t n = PyList_GET_SIZE(obj);
    if (n == 0) {
      out_.append("[]");
      return {};
    }
    Frame frame(obj, top_);
    return items(n, [&](Py_ssize_t i) { return frame.item(i); }, depth);
  }

  // An exact tuple cannot change, and whatever holds it keeps it alive.
  PyResult<void> tuple(PyObject* obj, std::uint32_t depth) {
    const Py_ssize_t n = PyTuple_GET_SIZE(obj);
    if (n == 0) {
      out_.append("[]");
      return {};
    }
    return items(n, [&](Py_ssize_t i) { return PyTuple_GET_ITEM(obj, i); }, depth);
  }

  template <class Item>
  [[gnu::always_inline]] PyResult<void> items(Py_ssize_t n, Item&& item, std::uint32_t depth) {
    if (o_.indent == 0) {
      char lead = '[';
      for (Py_ssize_t i = 0; i < n; ++i) {
        OSV_TRY(value(lead, item(i), depth + 1));
        lead = ',';
        if (depth == 0) reserve_for_rest(i + 1, n);
      }
      out_.push_back(']');
      return {};
    }
    out_.push_back('[');
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (i != 0) out_.push_back(',');
      newline_indent(depth + 1);
      OSV_TRY(value(0, item(i), depth + 1));
      if (depth == 0) reserve_for_rest(i + 1, n);
    }
    newline_indent(depth);
    out_.push_back(']');
    return {};
  }

  PyResult<void> dict(PyObject* obj, std::uint32_t depth) {
    if (PyDict_GET_SIZE(obj) == 0) {
      out_.append("{}");
      return {};
    }
    Frame frame(obj, top_);
    const Py_ssize_t n = PyDict_GET_SIZE(obj);
    Py_ssize_t done = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    char lead = '{';
    while (frame.next_pair(key, item)) {
      if (depth == 0) reserve_for_rest(done++, n);
      if (Py_TYPE(key) == &PyUnicode_Type && PyUnicode_IS_COMPACT_ASCII(key) &&
          depth + 1 < limits::kMaxDepth) [[likely]] {
        open_entry(lead, ascii_text(key), depth);
      } else {
        OSV_TRY(other_key(lead, key, depth));
      }
      OSV_TRY(value(0, item, depth + 1));
      lead = ',';
    }
    if (o_.indent != 0) newline_indent(depth);
    out_.push_back('}');
    return {};
  }

  // The separator, the name and its colon.
  [[gnu::always_inline]] void open_entry(char lead, std::string_view name, std::uint32_t depth) {
    if (o_.indent == 0) {
      ostrevane::detail::put_json_string(out_, lead, name, ':');
      return;
    }
    out_.push_back(lead);
    newline_indent(depth + 1);
    ostrevane::detail::put_json_string(out_, 0, name, 0);
    out_.append(": ");
  }

  // A key that is not an ASCII str: named as the JSON writer names the
  // key's Value.
  PyResult<void> other_key(char lead, PyObject* key, std::uint32_t depth) {
    const std::uint32_t key_depth = depth + 1;
    PyTypeObject* type = Py_TYPE(key);
    if (key_depth < limits::kMaxDepth) {
      if (type == &PyUnicode_Type) {
        Py_ssize_t len = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len)) {
          open_entry(lead, std::string_view(utf8, static_cast<std::size_t>(len)), depth);
          return {};
        }
        PyErr_Clear();  // unpaired surrogates: the encoder reports them
      } else if (type == &PyLong_Type) {
        long long small = 0;
        if (small_int_value(key, small)) {
          char digits[kMaxIntChars];
          const char* end = std::to_chars(digits, digits + kMaxIntChars, small).ptr;
          open_entry(lead, std::string_view(digits, static_cast<std::size_t>(end - digits)),
                     depth);
          return {};
        }
      } else if (key == Py_None) {
        open_entry(lead, "null", depth);
        return {};
      } else if (type == &PyBool_Type) {
        open_entry(lead, key == Py_True ? "true" : "false", depth);
        return {};
      } else if (type == &PyFloat_Type) {
        const double number = PyFloat_AS_DOUBLE(key);
        open_entry(lead, std::isfinite(number) ? format_float(number) : "null", depth);
        return {};
      }
    }
    if (type != &PyLong_Type && type != &PyUnicode_Type) hold_containers();
    EncodeOptions options = encode_;
    options.depth = key_depth;
    Value tree = OSV_TRY(encode_object_guarded(key, options));
    std::string scratch;
    Result<std::string_view, JsonError> name = json_object_key_text(tree, scratch);
    if (name) {
      open_entry(lead, *name, depth);
    } else {
      refuse(std::move(name.error()));
    }
    drop_value_iterative(std::move(tree));
    return {};
  }

  OutputBuffer& out_;
  const EncodeOptions& encode_;
  const JsonOptions& o_;
  Frame* top_ = nullptr;
  std::optional<std::string> refused_;
};

}  // namespace

PyResult<void> write_json_direct(OutputBuffer& out, PyObject* obj, const EncodeOptions& encode,
                                 const JsonOptions& options) {
  return DirectWriter(out, encode, options).write(obj);
}

}  // namespace ostrevane::ffi
