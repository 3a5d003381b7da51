// Python objects to Value trees: the first half of `dumps` and `to_json`.
//
// Input: one borrowed Python object and the call's EncodeOptions. Output: an
// owned `Value` tree that holds no Python object and no view into one (every
// text is copied), so the writers can read it with the interpreter lock
// released; or the PyError that ended the conversion (nothing partial is
// kept). With a ValueArena in the options, the tree's lists and long texts
// live in it: the tree must then be destroyed before the arena. Requires the
// lock; callbacks (`default`, `serializers`, and the
// methods of special types) run inline, depth first, keys before values.
//
// Recognition order: exact built-in types by type pointer, then their
// subclasses by the type's flags, then OstrevaneTag, `serializers`, the
// special types (date-likes, enums, dataclasses, numpy, UUID, Decimal,
// path-likes; recognised by name and attribute, importing nothing but numpy),
// then `default`. Dates and times become ISO 8601 strings, never Timestamps;
// Tagged values come only from OstrevaneTag and `serializers`.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/errors.hpp"
#include "value/value.hpp"

namespace ostrevane::ffi {

// Strs whose UTF-8 bytes a tree views instead of copying: one strong
// reference each, all released when the holder goes (with the lock held, or
// queued until it is).
class KeptStrs {
 public:
  KeptStrs() = default;
  KeptStrs(const KeptStrs&) = delete;
  KeptStrs& operator=(const KeptStrs&) = delete;
  ~KeptStrs() {
    if (gil_held_here()) {
      for (PyObject* str : strs_) Py_DECREF(str);
    } else {
      for (PyObject* str : strs_) detail::defer_decref(str);
    }
  }
  // Keeps `str` (borrowed) alive as long as the holder. Lock held.
  void keep(PyObject* str) {
    strs_.push_back(str);
    Py_INCREF(str);
  }

 private:
  std::vector<PyObject*> strs_;
};

// A conversion that shares: every object but the plain scalars (exact str,
// int, float, bool and None) is converted once, and each further place it
// appears takes that Value as a clone (storage shared, O(1)), so a graph
// whose objects are shared many times over costs its number of distinct
// objects, not the number of paths through it. The nesting limit still
// counts each place as if it held its own copy: each converted object keeps
// how deep it reaches below itself. An object met again inside itself ends
// the conversion, as the nesting limit does, with OstrevaneEncodeError
// "object is too deeply nested"; `fault()` then tells which of the two ended
// it and where, as steps from the root: dict keys (a key that is not a str
// is ""), list and tuple indexes; an object held by any other kind of
// object (a tag, an enum, a dataclass) adds no step. Holds a reference to
// every object it has seen, so that no address is reused while it lives.
// For one conversion; lock held.
class SharedObjects {
 public:
  struct Fault {
    enum class Kind : std::uint8_t { TooDeep, Cycle } kind;
    // TooDeep: where the nesting limit was met (a place that many levels
    // down). Cycle: where the object appears inside itself.
    std::vector<std::string> steps;
    // Cycle: how many of `steps` lead to the object's outer place.
    std::size_t outer_steps = 0;
  };

  SharedObjects();
  ~SharedObjects();
  SharedObjects(const SharedObjects&) = delete;
  SharedObjects& operator=(const SharedObjects&) = delete;

  [[nodiscard]] const std::optional<Fault>& fault() const noexcept;

  struct Impl;  // encode.cpp
  [[nodiscard]] Impl& impl() noexcept { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// The conversion's options; one record per nesting level, a child's record a
// copy with `depth` raised by one. `default_fn` and `serializers` are
// borrowed from the call's arguments (nullptr when absent).
struct EncodeOptions {
  PyObject* default_fn = nullptr;
  PyObject* serializers = nullptr;  // a dict or subclass, keyed by exact type
  ValueArena* arena = nullptr;      // storage of the tree, or nullptr: the heap
  // With an arena: set to true once some part of the tree is not in it (a
  // rarer conversion's text, list or tag), so that the tree must be
  // destroyed; left as it is while every part is. Borrowed; may be nullptr.
  bool* outside_arena = nullptr;
  // When set, exact strs met as plain values and keys are not copied: their
  // Values view the str's own UTF-8 bytes, and one reference to each such
  // str goes here. The caller keeps the vector until the tree is gone and
  // releases it with the lock held. Borrowed; may be nullptr.
  KeptStrs* kept_strs = nullptr;
  // When set, objects are converted once and shared (see SharedObjects).
  // Borrowed; may be nullptr.
  SharedObjects* shared = nullptr;
  std::uint32_t depth = 0;
  bool serialize_numpy = false;        // OPT_SERIALIZE_NUMPY
  bool omit_microseconds = false;      // OPT_OMIT_MICROSECONDS
  bool naive_utc = false;              // OPT_NAIVE_UTC
  bool utc_z = false;                  // OPT_UTC_Z
  bool passthrough_datetime = false;   // OPT_PASSTHROUGH_DATETIME
  bool passthrough_dataclass = false;  // OPT_PASSTHROUGH_DATACLASS

  // The top-level record of `dumps` / `to_json`: depth 0, the six flags read
  // from the option mask (bits 27 to 32).
  [[nodiscard]] static EncodeOptions from_mask(std::uint64_t mask, PyObject* default_fn,
                                               PyObject* serializers) noexcept;

  [[nodiscard]] EncodeOptions child() const noexcept {
    EncodeOptions next = *this;
    ++next.depth;
    return next;
  }
};

// Converts `obj` (borrowed) under `options`, on a fresh stack segment when
// little native stack is left. Lock held.
[[nodiscard]] PyResult<Value> encode_object_guarded(PyObject* obj, const EncodeOptions& options);

// The tags `dumps` may write (no %TAG directive is ever emitted): primary
// "!suffix", secondary "!!suffix" and verbatim "!<...>", and a full tag that
// does not start with '!' (such as "tag:example.com,2000:point", which a
// %TAG handle gave on loading), written verbatim. Fails with
// OstrevaneEncodeError naming the first rule the tag breaks.
[[nodiscard]] PyResult<void> validate_dump_tag(std::string_view tag);

// The text dumps writes for a tag that validate_dump_tag accepted: the tag
// as it stands, or "!<tag>" for one that does not start with '!', which
// reads back as the same tag.
[[nodiscard]] std::string written_dump_tag(std::string_view tag);

// `inner` under `tag`; OstrevaneEncodeError when `inner` is already Tagged.
// Both are consumed either way.
[[nodiscard]] PyResult<Value> attach_tag(std::string_view tag, Value inner);

// Messages show texts as a double-quoted literal (quote_char '"') or one
// character between single quotes (quote_char '\''): backslash escapes for
// the quote, '\\', TAB, LF, CR and NUL, and \u{hex} for characters that are
// not printable (control, format, surrogate, private-use, unassigned and
// separator characters, the space excepted) or that extend a grapheme.
void append_message_literal(std::string& out, std::string_view text, char quote_char);

}  // namespace ostrevane::ffi
