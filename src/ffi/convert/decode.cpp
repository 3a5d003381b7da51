#include "ffi/convert/decode.hpp"

#include <datetime.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "ffi/convert/detail/list_build.hpp"
#include "ffi/convert/detail/node_py.hpp"
#include "ffi/tag.hpp"
#include "util/once_cell.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

// ---------------------------------------------------------------------------
// Hash seeds of the key caches: drawn once per process from the operating
// system, so that key texts chosen by an attacker cannot aim at one chain.

struct HashSeeds {
  std::uint64_t k0;
  std::uint64_t k1;
};

OnceCell<HashSeeds> g_hash_seeds;
std::atomic<std::uint64_t> g_cache_serial{0};

HashSeeds* draw_hash_seeds() {
  std::uint64_t words[2] = {0, 0};
  auto* bytes = reinterpret_cast<unsigned char*>(words);
  std::size_t got = 0;
  while (got < sizeof words) {
    const ssize_t n = getrandom(bytes + got, sizeof words - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof words) {
    // No random source (a very old kernel or a sandbox without the call):
    // fall back to what varies between processes.
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto where = reinterpret_cast<std::uintptr_t>(&got);
    words[0] ^= XXH3_64bits_withSeed(&now, sizeof now, where);
    words[1] ^= XXH3_64bits_withSeed(&where, sizeof where, now);
  }
  return new HashSeeds{words[0], words[1]};
}

// The hash key of one new cache, derived from the process seeds.
std::uint64_t new_cache_seed() {
  HashSeeds* seeds = g_hash_seeds.get();
  if (seeds == nullptr) {
    seeds = g_hash_seeds.publish(draw_hash_seeds(), [](HashSeeds* loser) { delete loser; });
  }
  const std::uint64_t serial = g_cache_serial.fetch_add(1, std::memory_order_relaxed);
  return XXH3_64bits_withSeed(&serial, sizeof serial, seeds->k0) ^ seeds->k1;
}

// ---------------------------------------------------------------------------
// KeyCache: key text -> str, one table for the whole process, shared by every
// call. A config's keys repeat within a file and from file to file, so most
// keys are found here and cost no decoding, no allocation and no interning.
//
// The table is a fixed array of kKeySlots slots, each found by the seeded
// hash of its text (direct-mapped): a miss replaces whatever its slot held.
// The table never grows, a stream of distinct keys costs one miss each, and
// keys chosen to share a slot only evict each other. Texts longer than
// kMaxCachedKey are not kept, so the cache holds at most a few MiB.
//
// Slots own one reference to their str and compare against the str's own
// UTF-8 bytes, never against the Value they came from (a document's tree is
// freed while the cache lives on). Every access runs with the interpreter
// lock held, and nothing inside one access can run Python code or release the
// lock (decoding, interning and freeing a str run none), so threads calling
// loads at once see the table whole.

class KeyCache {
 public:
  // New reference to the str of `text` (interned when made), or NULL with a
  // Python error. Lock held.
  PyObject* get(std::string_view text) {
    if (text.size() > kMaxCachedKey) [[unlikely]]
      return make(text);
    if (slots_ == nullptr && !allocate()) return PyErr_NoMemory();
    const std::uint64_t hash = XXH3_64bits_withSeed(text.data(), text.size(), seed_);
    Slot& slot = slots_[hash & (kKeySlots - 1)];
    if (slot.hash == hash && slot.size == text.size() && slot.str != nullptr &&
        std::memcmp(slot.data, text.data(), text.size()) == 0) [[likely]] {
      return Py_NewRef(slot.str);
    }
    PyObject* str = make(text);
    if (str == nullptr) return nullptr;
    const char* bytes = utf8_of(str, text.size());
    if (bytes == nullptr) return str;  // a lone surrogate: correct, just not cached
    PyObject* evicted = slot.str;
    slot = Slot{bytes, text.size(), hash, Py_NewRef(str)};
    Py_XDECREF(evicted);
    return str;
  }

 private:
  static constexpr std::size_t kKeySlots = 8192;  // a power of two
  static constexpr std::size_t kMaxCachedKey = 128;

  struct Slot {
    const char* data;  // the str's own UTF-8 bytes
    std::size_t size;
    std::uint64_t hash;
    PyObject* str;  // NULL: empty slot
  };

  static PyObject* make(std::string_view text) {
    PyObject* str =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (str != nullptr) PyUnicode_InternInPlace(&str);
    return str;
  }

  // The UTF-8 bytes `str` holds for as long as it lives, when they are
  // `size` long; NULL when it has none (lone surrogates).
  static const char* utf8_of(PyObject* str, std::size_t size) {
    if (PyUnicode_IS_COMPACT_ASCII(str)) return static_cast<const char*>(PyUnicode_DATA(str));
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &n);
    if (utf8 == nullptr) {
      PyErr_Clear();
      return nullptr;
    }
    return static_cast<std::size_t>(n) == size ? utf8 : nullptr;
  }

  bool allocate() {
    slots_ = static_cast<Slot*>(std::calloc(kKeySlots, sizeof(Slot)));
    if (slots_ == nullptr) return false;
    seed_ = new_cache_seed();
    return true;
  }

  // Never freed: the strs stay valid until the interpreter ends, and the
  // table is small.
  Slot* slots_ = nullptr;
  std::uint64_t seed_ = 0;
};

KeyCache g_keys;

// ---------------------------------------------------------------------------
// SharedObjects: text block identity -> the one Python object made for it.
// Only blocks held more than once are entered, so unshared texts never pay
// for a look-up.

class SharedObjects {
 public:
  SharedObjects() = default;
  SharedObjects(const SharedObjects&) = delete;
  SharedObjects& operator=(const SharedObjects&) = delete;
  ~SharedObjects() {
    if (slots_ == nullptr) return;
    for (std::size_t i = 0; i <= mask_; ++i) Py_XDECREF(slots_[i].obj);
    std::free(slots_);
  }

  // Forgets every entry (a new document's blocks may reuse freed addresses).
  void clear() noexcept {
    if (count_ == 0) return;
    for (std::size_t i = 0; i <= mask_; ++i) {
      Py_XDECREF(slots_[i].obj);
      slots_[i] = Slot{0, nullptr};
    }
    count_ = 0;
  }

  // The object stored for `id` (borrowed), or NULL.
  PyObject* find(std::uintptr_t id) const noexcept {
    if (count_ == 0) return nullptr;
    for (std::size_t i = slot_of(id); slots_[i].obj != nullptr; i = (i + 1) & mask_) {
      if (slots_[i].id == id) return slots_[i].obj;
    }
    return nullptr;
  }

  // New reference to the object stored for `id`, else to the one `make`
  // returns (a new reference), stored for the next look-up. NULL with an
  // exception set on failure.
  template <class Make>
  PyObject* find_or_make(std::uintptr_t id, Make&& make) {
    if (PyObject* known = find(id)) return Py_NewRef(known);
    PyObject* obj = make();
    if (obj != nullptr && !insert(id, obj)) {
      Py_DECREF(obj);
      return PyErr_NoMemory();
    }
    return obj;
  }

  // Keeps a reference to `obj` under `id`; false when out of memory.
  bool insert(std::uintptr_t id, PyObject* obj) noexcept {
    if (count_ >= limit_ && !grow()) return false;
    std::size_t i = slot_of(id);
    while (slots_[i].obj != nullptr) i = (i + 1) & mask_;
    slots_[i] = Slot{id, Py_NewRef(obj)};
    ++count_;
    return true;
  }

 private:
  struct Slot {
    std::uintptr_t id;
    PyObject* obj;
  };
  std::size_t slot_of(std::uintptr_t id) const noexcept {
    return static_cast<std::size_t>((id >> 3) * 0x9E3779B97F4A7C15ull >> 20) & mask_;
  }
  bool grow() noexcept {
    const std::size_t n = slots_ == nullptr ? 64 : (mask_ + 1) * 2;
    auto* fresh = static_cast<Slot*>(std::calloc(n, sizeof(Slot)));
    if (fresh == nullptr) return false;
    Slot* old = slots_;
    const std::size_t old_n = old == nullptr ? 0 : mask_ + 1;
    slots_ = fresh;
    mask_ = n - 1;
    limit_ = n - n / 4;
    for (std::size_t j = 0; j < old_n; ++j) {
      if (old[j].obj == nullptr) continue;
      std::size_t k = slot_of(old[j].id);
      while (slots_[k].obj != nullptr) k = (k + 1) & mask_;
      slots_[k] = old[j];
    }
    std::free(old);
    return true;
  }

  Slot* slots_ = nullptr;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
  std::size_t limit_ = 0;
};

// The identity of a long String or BigInt text that other values may share
// (alias expansion clones them); 0 otherwise.
std::uintptr_t shared_text_id(const Value& v) noexcept {
  if (!v.text_maybe_shared()) return 0;
  const auto id = reinterpret_cast<std::uintptr_t>(v.text_identity());
  // A block could in principle back both a String and a BigInt; the low bit
  // (free: blocks are aligned) keeps their objects apart. Borrowed texts are
  // Strings only, and their first bytes never lie inside a block.
  return id | (v.kind() == ValueKind::BigInt ? 1 : 0);
}

// Whether a mapping holds a merge key left for the conversion.
bool holds_merge_key(const Value& mapping) noexcept {
  for (const ValuePair& pair : mapping.pairs()) {
    if (pair.key.kind() == ValueKind::Tagged && is_merge_marker(pair.key)) return true;
  }
  return false;
}

// Whether a key is the text "<<", under any custom tags.
bool is_merge_text(const Value& key) noexcept {
  const Value* k = &key;
  while (k->kind() == ValueKind::Tagged) k = &k->inner();
  return k->kind() == ValueKind::String && k->text() == "<<";
}

PyObject* str_of(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
}

// The name of a tag: the tag without a verbatim "!<...>" wrapper.
std::string_view tag_name(std::string_view tag) noexcept {
  if (tag.size() > 2 && tag.starts_with("!<") && tag.ends_with('>')) {
    return tag.substr(2, tag.size() - 3);
  }
  return tag;
}

// apply_tag_callbacks, with the str of the tag's name and the str of the
// whole tag (for an OstrevaneTag) made by `name_str` and `tag_str`, each
// asked only when needed: they return a new reference, or NULL with an
// error raised.
template <class NameStr, class TagStr>
PyResult<PyRef> run_tag_callbacks(PyRef value, const TagOptions& options, NameStr&& name_str,
                                  TagStr&& tag_str) {
  if (options.tags != nullptr || options.tag_handler != nullptr) {
    PyRef name = PyRef::steal(name_str());
    if (!name) return std::unexpected(PyError::fetch());
    if (options.tags != nullptr) {
      PyObject* found = nullptr;
      const int rc = PyDict_GetItemRef(options.tags, name.get(), &found);
      if (rc < 0) return std::unexpected(PyError::fetch());
      if (rc > 0) {
        PyRef callback = PyRef::steal(found);
        PyObject* result = PyObject_CallOneArg(callback.get(), value.get());
        if (result == nullptr) return std::unexpected(PyError::fetch());
        return PyRef::steal(result);
      }
    }
    if (options.tag_handler != nullptr) {
      PyObject* args[] = {name.get(), value.get()};
      PyObject* result = PyObject_Vectorcall(options.tag_handler, args, 2, nullptr);
      if (result == nullptr) return std::unexpected(PyError::fetch());
      return PyRef::steal(result);
    }
  }
  if (options.passthrough_tag) {
    PyTypeObject* type = OSV_TRY(tag_type_object());
    PyRef tag = PyRef::steal(tag_str());
    if (!tag) return std::unexpected(PyError::fetch());
    return new_tag_object(type, std::move(tag), std::move(value));
  }
  return value;
}

// ---------------------------------------------------------------------------
// The recursive conversion. Internally a failure is NULL, with the error
// either pending in the interpreter or kept in `error_` (errors that are
// already PyError values); `take_error` hands over whichever it is.

class Converter {
 public:
  explicit Converter(const TagOptions& options)
      : options_(options), merges_left_(loaded_tags_for(options) == LoadedTags::Called) {}

  // New reference, or NULL on failure.
  PyObject* convert(const Value& v, unsigned depth);

  PyError take_error() {
    if (error_) return std::move(*error_);
    return PyError::fetch();
  }

  // Called between documents whose trees are freed in turn: a later tree's
  // texts may sit at the addresses of an earlier one's.
  void forget_shared_texts() noexcept {
    shared_.clear();
    tag_names_.clear();
    tag_strs_.clear();
  }

 private:
  PyObject* child(const Value& v, unsigned depth) {
    if ((depth & 7u) == 0) [[unlikely]] {
      if (depth >= kDeepFrom) [[unlikely]]
        return convert_deep(v, depth);
      return with_stack_guard([&] { return convert(v, depth); });
    }
    return convert(v, depth);
  }
  // Below this depth a subtree is converted by convert_deep.
  static constexpr unsigned kDeepFrom = 64;
  // convert() over an explicit stack of open containers. Alias expansion
  // nests values far deeper than any text can (a chain of aliases, each
  // nesting the last a thousand levels deeper, reaches a hundred thousand
  // levels): a native frame per level would walk megabytes of stack that no
  // cache holds, costing many times what the same nodes cost side by side.
  PyObject* convert_deep(const Value& root, unsigned depth);
  PyObject* fail(PyError error) {
    error_.emplace(std::move(error));
    return nullptr;
  }
  template <class T>
  PyObject* unwrap(PyResult<T> result) {
    if (!result) return fail(std::move(result.error()));
    return result->release();
  }

  PyObject* text_object(const Value& v);
  PyObject* sequence(const Value& v, unsigned depth);
  PyObject* mapping(const Value& v, unsigned depth);
  PyObject* merge(PyObject* dict, const Value& source, unsigned depth, bool& slot_taken);
  PyObject* key(const Value& k, unsigned depth);
  PyObject* hashable_key(const Value& k);
  PyObject* key_not_hashable();

  PyObject* tagged(const Value& v, PyObject* inner);
  // A new reference to the str made for the tag block `tag` in `cache`,
  // made by `make` the first time.
  template <class Make>
  static PyObject* tag_object(SharedObjects& cache, const SharedText& tag, Make&& make);

  // An open container of convert_deep: the dict being filled (none for a
  // sequence, whose items wait in deep_items_ until the list is made whole,
  // nor for a Tagged value, whose inner value is pending), the next item or
  // pair, and the key waiting for its value.
  struct DeepOpen {
    const Value* v;
    PyObject* obj;
    PyObject* key;
    std::size_t next;
  };
  std::vector<DeepOpen> deep_open_;
  std::vector<PyObject*> deep_items_;

  const TagOptions& options_;
  // Whether mappings may hold merge keys that the decoder left for the tag
  // callbacks (LoadedTags::Called).
  const bool merges_left_;
  SharedObjects shared_;
  // Tag blocks (decoded values share one per tag text) to the strs of
  // their names and of themselves: a long tag on many values is one str.
  SharedObjects tag_names_;
  SharedObjects tag_strs_;
  std::optional<PyError> error_;
};

PyObject* Converter::convert(const Value& v, unsigned depth) {
  switch (v.kind()) {
    case ValueKind::Null:
      return Py_NewRef(Py_None);
    case ValueKind::Bool:
      return Py_NewRef(v.as_bool() ? Py_True : Py_False);
    case ValueKind::Int:
      return PyLong_FromLongLong(v.as_int());
    case ValueKind::Float:
      return PyFloat_FromDouble(v.as_float());
    case ValueKind::String:
    case ValueKind::BigInt:
      return text_object(v);
    case ValueKind::Timestamp:
      return unwrap(timestamp_to_py(v.as_timestamp()));
    case ValueKind::Sequence:
      return sequence(v, depth);
    case ValueKind::Mapping:
      return mapping(v, depth);
    case ValueKind::Tagged: {
      PyObject* inner = child(v.inner(), depth + 1);
      if (inner == nullptr) return nullptr;
      return tagged(v, inner);
    }
  }
  return Py_NewRef(Py_None);
}

PyObject* Converter::tagged(const Value& v, PyObject* inner) {
  const SharedText& tag = v.tag_text();
  return unwrap(run_tag_callbacks(
      PyRef::steal(inner), options_,
      [&] { return tag_object(tag_names_, tag, [&] { return str_of(tag_name(tag.view())); }); },
      [&] {
        return tag_object(tag_strs_, tag, [&]() -> PyObject* {
          PyResult<PyRef> str = tag_text_str(tag.view());
          if (!str) {
            std::move(str.error()).raise();
            return nullptr;
          }
          return str->release();
        });
      }));
}

template <class Make>
PyObject* Converter::tag_object(SharedObjects& cache, const SharedText& tag, Make&& make) {
  // Blocks live as long as the trees being converted, so an address names
  // one text for the whole conversion (forget_shared_texts() ends it).
  return cache.find_or_make(reinterpret_cast<std::uintptr_t>(tag.identity()),
                            std::forward<Make>(make));
}

PyObject* Converter::convert_deep(const Value& root, unsigned depth) {
  // A list is made once its items are done, so that it is filled while
  // still in the cache, not after a whole subtree of other objects has
  // pushed it out.
  // The stacks are kept for the next subtree (a chain of aliases enters
  // here once per link): they start empty and end empty.
  std::vector<DeepOpen>& open = deep_open_;
  std::vector<PyObject*>& items_done = deep_items_;
  const std::size_t open_base = open.size();
  const std::size_t items_base = items_done.size();
  const auto fail_all = [&]() -> PyObject* {
    for (std::size_t i = open_base; i < open.size(); ++i) {
      Py_XDECREF(open[i].obj);
      Py_XDECREF(open[i].key);
    }
    for (std::size_t i = items_base; i < items_done.size(); ++i) Py_DECREF(items_done[i]);
    open.resize(open_base);
    items_done.resize(items_base);
    return nullptr;
  };
  const Value* next = &root;
  PyObject* done = nullptr;
  for (;;) {
    if (next != nullptr) {
      // Start on `next`: a container is opened and its first child is next;
      // anything else is converted at once.
      const Value& v = *next;
      next = nullptr;
      const auto level = static_cast<unsigned>(depth + open.size() - open_base);
      switch (v.kind()) {
        case ValueKind::Sequence: {
          const ValueList& items = v.items();
          if (items.empty()) {
            done = PyList_New(0);
            if (done == nullptr) return fail_all();
            break;
          }
          open.push_back(DeepOpen{&v, nullptr, nullptr, 0});
          next = &items[0];
          continue;
        }
        case ValueKind::Mapping: {
          const ValuePairList& pairs = v.pairs();
          if (merges_left_ && holds_merge_key(v)) [[unlikely]] {
            // Merged as its pairs are converted, which this walk does not do.
            done = with_stack_guard([&] { return mapping(v, level); });
            if (done == nullptr) return fail_all();
            break;
          }
          PyObject* dict = pairs.size() > 5
                               ? _PyDict_NewPresized(static_cast<Py_ssize_t>(pairs.size()))
                               : PyDict_New();
          if (dict == nullptr) return fail_all();
          if (pairs.empty()) {
            done = dict;
            break;
          }
          open.push_back(DeepOpen{&v, dict, nullptr, 0});
          PyObject* k = key(pairs[0].key, level);
          if (k == nullptr) return fail_all();
          open.back().key = k;
          next = &pairs[0].value;
          continue;
        }
        case ValueKind::Tagged:
          open.push_back(DeepOpen{&v, nullptr, nullptr, 0});
          next = &v.inner();
          continue;
        default:
          done = convert(v, level);
          if (done == nullptr) return fail_all();
          break;
      }
    }
    // `done` is complete: hand it to the innermost open container, closing
    // every container that it completes in turn.
    while (next == nullptr) {
      if (open.size() == open_base) return done;
      DeepOpen& top = open.back();
      const auto level = static_cast<unsigned>(depth + open.size() - open_base - 1);
      switch (top.v->kind()) {
        case ValueKind::Sequence: {
          const ValueList& items = top.v->items();
          items_done.push_back(done);
          if (++top.next < items.size()) {
            next = &items[top.next];
            break;
          }
          const std::size_t n = items.size();
          done = PyList_New(static_cast<Py_ssize_t>(n));
          if (done == nullptr) return fail_all();
          PyObject** first = items_done.data() + (items_done.size() - n);
          for (std::size_t i = 0; i < n; ++i) {
            PyList_SET_ITEM(done, static_cast<Py_ssize_t>(i), first[i]);
          }
          items_done.resize(items_done.size() - n);
          open.pop_back();
          break;
        }
        case ValueKind::Mapping: {
          const ValuePairList& pairs = top.v->pairs();
          const int rc = PyDict_SetItem(top.obj, top.key, done);
          Py_DECREF(done);
          Py_CLEAR(top.key);
          if (rc < 0) {
            key_not_hashable();
            return fail_all();
          }
          if (++top.next < pairs.size()) {
            PyObject* k = key(pairs[top.next].key, level);
            if (k == nullptr) return fail_all();
            top.key = k;
            next = &pairs[top.next].value;
          } else {
            done = top.obj;
            open.pop_back();
          }
          break;
        }
        default: {
          const Value* tagged_value = top.v;
          open.pop_back();
          done = tagged(*tagged_value, done);
          if (done == nullptr) return fail_all();
          break;
        }
      }
    }
  }
}

PyObject* Converter::text_object(const Value& v) {
  const std::uintptr_t id = shared_text_id(v);
  if (id != 0) {
    if (PyObject* known = shared_.find(id)) return Py_NewRef(known);
  }
  PyObject* obj = v.kind() == ValueKind::String
                      ? str_of(v.text())
                      : unwrap(py_int_from_digits(v.text(), v.big_int_base()));
  if (obj != nullptr && id != 0 && !shared_.insert(id, obj)) {
    Py_DECREF(obj);
    return PyErr_NoMemory();
  }
  return obj;
}

PyObject* Converter::sequence(const Value& v, unsigned depth) {
  const ValueList& items = v.items();
  return detail::build_list(items.size(),
                            [&](std::size_t i) { return child(items[i], depth + 1); });
}

PyObject* Converter::mapping(const Value& v, unsigned depth) {
  // Not presized: a presized dict gets a key table for any kind of key,
  // half as large again per entry as the table of str keys that a growing
  // dict keeps, slower to look up, and past 512 bytes outside pymalloc.
  const ValuePairList& pairs = v.pairs();
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  bool slot_taken = false;
  for (const ValuePair& pair : pairs) {
    if (pair.key.kind() == ValueKind::Tagged && is_merge_marker(pair.key)) [[unlikely]] {
      if (merge(dict.get(), pair.value, depth, slot_taken) == nullptr) return nullptr;
      continue;
    }
    PyObject* k = key(pair.key, depth);
    if (k == nullptr) return nullptr;
    PyObject* value = child(pair.value, depth + 1);
    if (value == nullptr) {
      Py_DECREF(k);
      return nullptr;
    }
    const int rc = PyDict_SetItem(dict.get(), k, value);
    Py_DECREF(k);
    Py_DECREF(value);
    if (rc < 0) return key_not_hashable();
    // A quoted or otherwise tagged "<<" replaced what the merges kept there.
    if (slot_taken && is_merge_text(pair.key)) [[unlikely]]
      slot_taken = false;
  }
  return dict.release();
}

// A merge key the decoder left for the callbacks: its source is converted,
// callbacks and all, then merged by the node-tree roads' rule. Returns the
// dict (borrowed), or nullptr on failure.
PyObject* Converter::merge(PyObject* dict, const Value& source, unsigned depth,
                           bool& slot_taken) {
  PyRef converted = PyRef::steal(child(source, depth + 1));
  if (!converted) return nullptr;
  const bool merged = detail::merge_pair(
      dict, converted.get(), [] { return g_keys.get("<<"); }, slot_taken);
  return merged ? dict : nullptr;
}

// A failed insertion: a TypeError (the key cannot be hashed, or its __hash__
// or __eq__ raised one) becomes OstrevaneDecodeError with the TypeError as
// its cause. Anything else (KeyboardInterrupt, MemoryError, a fault) is not
// about hashability and propagates unchanged.
PyObject* Converter::key_not_hashable() {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return nullptr;
  PyObject* cause = PyErr_GetRaisedException();
  PyError error = PyError::lazy(ExcClass::DecodeError, "mapping key is not hashable in Python");
  if (PyObject* exc = error.materialise()) {
    PyException_SetContext(exc, Py_NewRef(cause));
    PyException_SetCause(exc, cause);
  } else {
    Py_DECREF(cause);
  }
  return fail(std::move(error));
}

PyObject* Converter::key(const Value& k, unsigned depth) {
  switch (k.kind()) {
    case ValueKind::String:
      return g_keys.get(k.text());
    case ValueKind::Sequence:
    case ValueKind::Mapping:
      return with_stack_guard([&] { return hashable_key(k); });
    default:
      return child(k, depth + 1);
  }
}

// Collections as tuples, all the way down; any other value as the plain
// conversion gives it, with key caches of its own.
PyObject* Converter::hashable_key(const Value& k) {
  if (k.kind() == ValueKind::Sequence) {
    const ValueList& items = k.items();
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyObject* item = with_stack_guard([&] { return hashable_key(items[i]); });
      if (item == nullptr) return nullptr;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
  }
  if (k.kind() == ValueKind::Mapping) {
    const ValuePairList& pairs = k.pairs();
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(pairs.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      PyRef first = PyRef::steal(with_stack_guard([&] { return hashable_key(pairs[i].key); }));
      if (!first) return nullptr;
      PyRef second = PyRef::steal(with_stack_guard([&] { return hashable_key(pairs[i].value); }));
      if (!second) return nullptr;
      PyObject* two = PyTuple_Pack(2, first.get(), second.get());
      if (two == nullptr) return nullptr;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), two);
    }
    return tuple.release();
  }
  Converter scalar(options_);
  PyObject* obj = with_stack_guard([&] { return scalar.convert(k, 0); });
  if (obj == nullptr && scalar.error_) error_ = std::move(scalar.error_);
  return obj;
}

// ---------------------------------------------------------------------------
// The datetime C API, imported once per process (first store wins).

OnceCell<PyDateTime_CAPI> g_datetime_api;

PyResult<PyDateTime_CAPI*> datetime_api() {
  if (PyDateTime_CAPI* api = g_datetime_api.get()) [[likely]] {
    return api;
  }
  auto* api = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
  if (api == nullptr) return std::unexpected(PyError::fetch());
  // The capsule lives as long as the datetime module: nothing to release.
  PyDateTime_CAPI* stored = g_datetime_api.publish(api, [](PyDateTime_CAPI*) {});
  // datetime.h's own pointer for this file, kept in step for its macros.
  PyDateTimeAPI = stored;
  return stored;
}

PyResult<PyRef> checked(PyObject* obj) {
  if (obj == nullptr) return std::unexpected(PyError::fetch());
  return PyRef::steal(obj);
}

// datetime.timezone(timedelta(minutes=offset)), looked up anew each time.
PyResult<PyRef> fixed_timezone(PyDateTime_CAPI* api, std::int32_t offset_minutes) {
  PyRef delta =
      OSV_TRY(checked(api->Delta_FromDelta(0, offset_minutes * 60, 0, 1, api->DeltaType)));
  PyRef module = OSV_TRY(checked(PyImport_ImportModule("datetime")));
  PyRef timezone = OSV_TRY(checked(PyObject_GetAttrString(module.get(), "timezone")));
  PyRef tz = OSV_TRY(checked(PyObject_CallOneArg(timezone.get(), delta.get())));
  if (!PyObject_TypeCheck(tz.get(), api->TZInfoType)) {
    return std::unexpected(
        PyError::builtin(PyExc_TypeError, "datetime.timezone did not return a tzinfo instance"));
  }
  return tz;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations.

PyResult<PyRef> apply_tag_callbacks(std::string_view tag, PyRef value, const TagOptions& options) {
  return run_tag_callbacks(
      std::move(value), options, [&] { return str_of(tag_name(tag)); },
      [&]() -> PyObject* {
        PyResult<PyRef> str = tag_text_str(tag);
        if (!str) {
          std::move(str.error()).raise();
          return nullptr;
        }
        return str->release();
      });
}

struct SharedTagStrs::Objects {
  SharedObjects names;
  SharedObjects strs;
};

SharedTagStrs::SharedTagStrs() : objects_(std::make_unique<Objects>()) {}
SharedTagStrs::~SharedTagStrs() = default;

PyResult<PyRef> apply_tag_callbacks(std::string_view tag, bool shared, PyRef value,
                                    const TagOptions& options, SharedTagStrs& strs) {
  if (!shared) return apply_tag_callbacks(tag, std::move(value), options);
  const auto id = reinterpret_cast<std::uintptr_t>(tag.data());
  const auto cached = [&](SharedObjects& cache, auto&& make) -> PyObject* {
    return cache.find_or_make(id, make);
  };
  return run_tag_callbacks(
      std::move(value), options,
      [&] { return cached(strs.objects_->names, [&] { return str_of(tag_name(tag)); }); },
      [&] {
        return cached(strs.objects_->strs, [&]() -> PyObject* {
          PyResult<PyRef> str = tag_text_str(tag);
          if (!str) {
            std::move(str.error()).raise();
            return nullptr;
          }
          return str->release();
        });
      });
}

PyResult<PyRef> value_to_python(const Value& document, const TagOptions& options) {
  PausedCollector paused;
  Converter converter(options);
  PyObject* obj = with_stack_guard([&] { return converter.convert(document, 0); });
  if (obj == nullptr) return std::unexpected(converter.take_error());
  return PyRef::steal(obj);
}

PyResult<PyRef> documents_to_python(std::span<Value> documents, const TagOptions& options) {
  PausedCollector paused;
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(documents.size())));
  if (!list) return std::unexpected(PyError::fetch());
  Converter converter(options);
  for (std::size_t i = 0; i < documents.size(); ++i) {
    PyObject* obj = with_stack_guard([&] { return converter.convert(documents[i], 0); });
    if (obj == nullptr) return std::unexpected(converter.take_error());
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), obj);
    // No Value is allocated while converting, so a freed block's address
    // can never come back as the identity of a live shared text.
    drop_value_iterative(std::exchange(documents[i], Value()));
  }
  return list;
}

struct DocumentListBuilder::State {
  explicit State(const TagOptions& options) : converter(options) {}
  Converter converter;
  PyRef list;
  std::optional<PyError> error;
};

DocumentListBuilder::DocumentListBuilder(const TagOptions& options)
    : state_(std::make_unique<State>(options)) {}

DocumentListBuilder::~DocumentListBuilder() = default;

void DocumentListBuilder::add(const Value& document) {
  State& s = *state_;
  if (s.error) return;
  PausedCollector paused;
  if (!s.list) {
    s.list = PyRef::steal(PyList_New(0));
    if (!s.list) {
      s.error.emplace(PyError::fetch());
      return;
    }
  }
  s.converter.forget_shared_texts();
  PyObject* obj = with_stack_guard([&] { return s.converter.convert(document, 0); });
  if (obj == nullptr) {
    s.error.emplace(s.converter.take_error());
    return;
  }
  const int rc = PyList_Append(s.list.get(), obj);
  Py_DECREF(obj);
  if (rc < 0) s.error.emplace(PyError::fetch());
}

PyResult<PyRef> DocumentListBuilder::finish() {
  State& s = *state_;
  if (s.error) return std::unexpected(std::move(*s.error));
  if (!s.list) {
    s.list = PyRef::steal(PyList_New(0));
    if (!s.list) return std::unexpected(PyError::fetch());
  }
  return std::move(s.list);
}

PyResult<PyRef> py_int_from_digits(std::string_view digits, std::uint8_t base) {
  std::string text;
  text.reserve(digits.size());
  for (const char c : digits) {
    if (c != '_') text.push_back(c);
  }
  if (text.find('\0') != std::string::npos) return checked(str_of(text));
  return checked(PyLong_FromString(text.c_str(), nullptr, base));
}

PyResult<PyRef> timestamp_to_py(const Timestamp& ts) {
  PyDateTime_CAPI* api = OSV_TRY(datetime_api());
  if (const Date* d = std::get_if<Date>(&ts)) {
    return checked(api->Date_FromDate(d->year, d->month, d->day, api->DateType));
  }
  const DateTime& t = std::get<DateTime>(ts);
  PyRef tz = PyRef::borrow(Py_None);
  if (t.offset_minutes) tz = OSV_TRY(fixed_timezone(api, *t.offset_minutes));
  return checked(api->DateTime_FromDateAndTime(t.year, t.month, t.day, t.hour, t.minute, t.second,
                                               static_cast<int>(t.microsecond), tz.get(),
                                               api->DateTimeType));
}

PyResult<PyRef> resolved_to_py(const Value& scalar) {
  switch (scalar.kind()) {
    case ValueKind::Null:
      return PyRef::borrow(Py_None);
    case ValueKind::Bool:
      return PyRef::borrow(scalar.as_bool() ? Py_True : Py_False);
    case ValueKind::Int:
      return checked(PyLong_FromLongLong(scalar.as_int()));
    case ValueKind::BigInt:
      return py_int_from_digits(scalar.text(), scalar.big_int_base());
    case ValueKind::Float:
      return checked(PyFloat_FromDouble(scalar.as_float()));
    case ValueKind::String:
      return checked(str_of(scalar.text()));
    default:
      return PyRef::borrow(Py_None);
  }
}

}  // namespace ostrevane::ffi
