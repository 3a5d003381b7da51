#include "ffi/dumps.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "encode/writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/convert/json_direct.hpp"
#include "ffi/document.hpp"
#include "ffi/document/view.hpp"
#include "ffi/options.hpp"
#include "ffi/represent/represent.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/limits.hpp"
#include "value/value.hpp"

namespace ostrevane::ffi {
namespace {

// A view is written as its plain values: the result of its to_dict method,
// kept in `values` (an exception from it is raised unchanged), refused when
// writing it out would expand aliases past the bounds of the view's to_yaml
// (view_values_for_writer). Other objects are returned as they are.
PyResult<PyObject*> view_values(PyObject* obj, PyRef& values, std::string_view subject) {
  if (!OSV_TRY(is_document_view(obj))) return obj;
  values = OSV_TRY(view_values_for_writer(obj, subject));
  return values.get();
}

// A thread's output buffer, kept between calls: a fresh one faults its
// pages in on every call, which cost a quarter of a mid-sized `to_json`.
struct KeptOutput {
  char* data = nullptr;
  std::size_t capacity = 0;
  bool in_use = false;
  KeptOutput() = default;
  KeptOutput(const KeptOutput&) = delete;
  KeptOutput& operator=(const KeptOutput&) = delete;
  ~KeptOutput() { std::free(data); }
};
thread_local KeptOutput t_kept_output;

// The writer's storage. Up to limits::kKeptOutputBytes the text goes into
// the thread's kept buffer and is copied once into an exactly sized `bytes`
// at the end. A longer text moves on into the `bytes` object that is
// returned and grows there (the lock taken back for the moment when the
// writer runs without it), so that it is neither copied whole afterwards nor
// faulted in twice.
class ResultStorage final : public OutputStorage {
 public:
  ResultStorage() {
    if (!t_kept_output.in_use) {
      kept_ = &t_kept_output;
      kept_->in_use = true;
    }
  }
  ~ResultStorage() {
    if (kept_ != nullptr) kept_->in_use = false;
  }
  ResultStorage(const ResultStorage&) = delete;
  ResultStorage& operator=(const ResultStorage&) = delete;

  // The lock is released for the writer through `released` from now on.
  void set_released(ReleasedGil* released) noexcept { released_ = released; }

  char* resize(std::size_t capacity, std::size_t size) override {
    if (!bytes_ && kept_ != nullptr && capacity <= limits::kKeptOutputBytes) {
      if (capacity > kept_->capacity) {
        // Grows straight to the bound: the buffer is kept, so later calls
        // find it whole.
        void* fresh = std::realloc(kept_->data, limits::kKeptOutputBytes);
        if (fresh == nullptr) throw std::bad_alloc();
        kept_->data = static_cast<char*>(fresh);
        kept_->capacity = limits::kKeptOutputBytes;
      }
      return kept_->data;
    }
    std::optional<ReleasedGil::Retaken> locked;
    if (released_ != nullptr) locked.emplace(*released_);
    if (!bytes_) {
      bytes_ = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity)));
      if (!bytes_) {
        PyErr_Clear();  // the entry guard raises MemoryError
        throw std::bad_alloc();
      }
      if (size != 0) std::memcpy(PyBytes_AS_STRING(bytes_.get()), kept_->data, size);
    } else {
      PyObject* obj = bytes_.release();
      if (_PyBytes_Resize(&obj, static_cast<Py_ssize_t>(capacity)) < 0) {
        PyErr_Clear();  // the object is gone; the entry guard raises MemoryError
        throw std::bad_alloc();
      }
      bytes_ = PyRef::steal(obj);
    }
    return PyBytes_AS_STRING(bytes_.get());
  }

  // The `bytes` of the `size` bytes written. Lock held.
  PyResult<PyRef> finish(const OutputBuffer& out) {
    released_ = nullptr;
    if (!bytes_) {
      PyRef copy =
          PyRef::steal(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
      if (!copy) return std::unexpected(PyError::fetch());
      return copy;
    }
    PyObject* obj = bytes_.release();
    if (static_cast<std::size_t>(PyBytes_GET_SIZE(obj)) != out.size() &&
        _PyBytes_Resize(&obj, static_cast<Py_ssize_t>(out.size())) < 0) {
      return std::unexpected(PyError::fetch());
    }
    return PyRef::steal(obj);
  }

 private:
  KeptOutput* kept_ = nullptr;  // NULL when a call on this thread holds it
  PyRef bytes_;
  ReleasedGil* released_ = nullptr;
};

WriterOptions writer_options(std::uint64_t option, std::uint64_t width, NullStyle null_style) {
  WriterOptions w;
  w.indent = (option & kOptIndent4) ? 4 : 2;
  w.width = static_cast<std::size_t>(width);
  w.null_style = null_style;
  w.mode = (option & kOptPyyamlCompat) ? ResolverMode::Yaml11Compat
           : (option & kOptYaml11)     ? ResolverMode::Yaml11
                                       : ResolverMode::Yaml12;
  w.sort_keys = (option & kOptSortKeys) != 0;
  w.flow_style = (option & kOptFlowStyle) != 0;
  w.explicit_start = (option & kOptExplicitStart) != 0;
  w.explicit_end = (option & kOptExplicitEnd) != 0;
  w.double_quotes = (option & kOptSingleQuotes) == 0;
  w.indentless_sequences = (option & kOptIndentlessSequences) != 0;
  return w;
}

// Destroys the encoder's tree. A tree whose every part lives in the arena
// owns nothing the arena does not free: it is left to the arena instead of
// being walked node by node.
void drop_encoded_tree(Value&& tree, bool outside_arena) noexcept {
  if (outside_arena) {
    drop_value_iterative(std::move(tree));
    return;
  }
  union Unowned {
    Value value;
    ~Unowned() {}
  } left{std::move(tree)};
  static_cast<void>(left);
}

// What an encoder's tree lives on: the arena of its lists and texts, the
// strs whose bytes it views, and whether any part of it is outside the
// arena. Declared before the tree, which must go first.
struct TreeStorage {
  ValueArena arena;
  KeptStrs kept_strs;  // released with the lock held, after the tree
  bool outside_arena = false;

  // `options` building a tree on this storage.
  EncodeOptions attach(EncodeOptions options) {
    options.arena = &arena;
    options.kept_strs = &kept_strs;
    options.outside_arena = &outside_arena;
    return options;
  }
};

// The represent road: the node tree built with the lock held (the
// Representer and its references gone before the lock is released), then
// written and destroyed without it.
PyResult<PyRef> dumps_represented(const DumpsArgs& args, NullStyle null_style) {
  RepresentSettings settings;
  settings.encode_options =
      EncodeOptions::from_mask(args.option, args.default_fn, args.serializers);
  settings.represent = args.represent;
  settings.sort_keys = (args.option & kOptSortKeys) != 0;
  settings.flow_style = (args.option & kOptFlowStyle) != 0;
  settings.double_quotes = (args.option & kOptSingleQuotes) == 0;
  settings.mode = writer_options(args.option, args.width, null_style).mode;
  YamlNode root = OSV_TRY(represent_root(settings, args.obj));
  root.explicit_start = (args.option & kOptExplicitStart) != 0;
  EmitterSettings emit;
  emit.indent = (args.option & kOptIndent4) ? 4 : 2;
  emit.width = static_cast<std::size_t>(args.width);
  emit.dump_layout = true;
  emit.indentless_sequences = (args.option & kOptIndentlessSequences) != 0;
  emit.prefer_single_quotes = (args.option & kOptSingleQuotes) != 0;
  emit.null_style = null_style;
  ResultStorage storage;
  Emitter emitter(emit, 0);
  emitter.output = OutputBuffer(storage, kEmitterInitialCapacity);
  {
    ReleasedGil unlocked;
    storage.set_released(&unlocked);
    if (root.leading_bom) emitter.output.append("\xEF\xBB\xBF");
    emit_document(emitter, root);
    if ((args.option & kOptExplicitEnd) != 0) emitter.output.append("...\n");
    apply_final_newline(emitter);
    drop_node_iterative(std::move(root));
  }
  return storage.finish(emitter.output);
}

}  // namespace

PyResult<NullStyle> null_style_from_option(std::uint64_t option) {
  const bool keyword = (option & kOptNullAsKeyword) != 0;
  const bool tilde = (option & kOptNullAsTilde) != 0;
  if (keyword && tilde) {
    return std::unexpected(PyError::builtin(
        PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"));
  }
  return keyword ? NullStyle::Keyword : tilde ? NullStyle::Tilde : NullStyle::Default;
}

PyResult<PyRef> dumps(const DumpsArgs& args) {
  // A document is written as its own text; every option is for other objects.
  if (DocumentObject* doc = OSV_TRY(as_document(args.obj))) return document_text_for_dumps(doc);
  PyRef values;
  PyObject* obj = OSV_TRY(view_values(args.obj, values, "dumps() of this node"));
  TreeStorage storage_of_tree;
  const EncodeOptions encode = storage_of_tree.attach(
      EncodeOptions::from_mask(args.option, args.default_fn, args.serializers));
  const NullStyle null_style = OSV_TRY(null_style_from_option(args.option));
  if (args.represent != nullptr) {
    DumpsArgs represented = args;
    represented.obj = obj;
    return dumps_represented(represented, null_style);
  }
  const WriterOptions options = writer_options(args.option, args.width, null_style);
  Value tree = OSV_TRY(encode_object_guarded(obj, encode));
  ResultStorage storage;
  OutputBuffer out(storage, kYamlOutputInitialCapacity);
  {
    ReleasedGil unlocked;
    storage.set_released(&unlocked);
    write_yaml_document(out, tree, options);
    drop_encoded_tree(std::move(tree), storage_of_tree.outside_arena);
  }
  return storage.finish(out);
}

// Initial room of a `to_json` result; it doubles as the writer needs.
constexpr std::size_t kJsonOutputInitialCapacity = 256;

// Items of a root list converted and written together on the tree road
// (sorted keys). A list longer than this is done batch by batch, so that
// its tree never exists whole: each
// batch's arena takes the storage the previous one gave back instead of
// faulting fresh pages in (a third of the time of a list of 100,000 small
// dicts).
constexpr std::size_t kJsonBatchItems = 1024;

JsonOptions json_options(std::uint64_t option) {
  JsonOptions options;
  options.indent = (option & kOptIndent4) ? 4 : (option & kOptIndent2) ? 2 : 0;
  options.sort_keys = (option & kOptSortKeys) != 0;
  return options;
}

// `to_json` of a long exact list, a batch of items at a time. What it
// returns and raises is what the whole-tree road gives: every item is
// converted even after the writer refused one (a conversion error, which
// the whole-tree road meets before writing anything, wins), callbacks run
// in the same order, and the items are those the list held at the start, as
// the list's conversion snapshots them before any callback can run.
PyResult<PyRef> to_json_in_batches(PyObject* list, const ToJsonArgs& args) {
  // One reference to each item, each released once its batch is converted
  // (while it is still in the cache); the rest on an early return. The lock
  // is held wherever they are taken or released.
  struct HeldItems {
    std::vector<PyObject*> objs;
    std::size_t released = 0;
    void release_to(std::size_t end) {
      for (; released < end; ++released) Py_DECREF(objs[released]);
    }
    ~HeldItems() { release_to(objs.size()); }
  } items;
  const auto n = static_cast<std::size_t>(PyList_GET_SIZE(list));
  items.objs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i));
    items.objs.push_back(item);
    Py_INCREF(item);
  }
  const JsonOptions options = json_options(args.option);
  const EncodeOptions encode =
      EncodeOptions::from_mask(args.option, args.default_fn, nullptr).child();
  ResultStorage storage;
  OutputBuffer out(storage, kJsonOutputInitialCapacity);
  write_json_sequence_start(out);
  std::optional<JsonError> refused;
  std::vector<Value> batch;
  batch.reserve(std::min(n, kJsonBatchItems));
  for (std::size_t first = 0; first < n; first += kJsonBatchItems) {
    const std::size_t last = std::min(n, first + kJsonBatchItems);
    TreeStorage storage_of_batch;
    const EncodeOptions item_options = storage_of_batch.attach(encode);
    // Drops the batch's values before the arena and the kept strs go, on
    // every path (without the lock when the writer had released it).
    struct DropBatch {
      std::vector<Value>& values;
      const bool& outside;
      ~DropBatch() {
        for (Value& v : values) drop_encoded_tree(std::move(v), outside);
        values.clear();
      }
    } drop{batch, storage_of_batch.outside_arena};
    for (std::size_t i = first; i < last; ++i) {
      batch.push_back(OSV_TRY(encode_object_guarded(items.objs[i], item_options)));
    }
    items.release_to(last);
    if (refused) continue;
    ReleasedGil unlocked;
    storage.set_released(&unlocked);
    for (std::size_t i = first; i < last && !refused; ++i) {
      Result<void, JsonError> written = write_json_sequence_item(out, batch[i - first], options, i);
      if (!written) refused.emplace(std::move(written.error()));
    }
    storage.set_released(nullptr);
  }
  if (refused) return std::unexpected(encode_error(std::move(refused->message)));
  write_json_sequence_end(out, options);
  return storage.finish(out);
}

PyResult<PyRef> to_json(const ToJsonArgs& args, JsonRoad road) {
  PyObject* obj = args.obj;
  PyRef document_values;
  if (DocumentObject* doc = OSV_TRY(as_document(obj))) {
    document_values = OSV_TRY(document_json_values(doc));
    obj = document_values.get();
  }
  PyRef values;
  obj = OSV_TRY(view_values(obj, values, "to_json() of this node"));
  const JsonOptions options = json_options(args.option);
  if (road == JsonRoad::Chosen && !options.sort_keys) {
    // One walk with the lock held: the faster road wherever measured, the
    // long strings and the `default` callbacks included. Sorting needs every
    // key of a mapping before its first value is written, which the tree
    // gives.
    ResultStorage storage;
    OutputBuffer out(storage, kJsonOutputInitialCapacity);
    OSV_TRY(write_json_direct(
        out, obj, EncodeOptions::from_mask(args.option, args.default_fn, nullptr), options));
    return storage.finish(out);
  }
  if (PyList_CheckExact(obj) && static_cast<std::size_t>(PyList_GET_SIZE(obj)) > kJsonBatchItems) {
    return to_json_in_batches(obj, args);
  }
  TreeStorage storage_of_tree;
  const EncodeOptions encode =
      storage_of_tree.attach(EncodeOptions::from_mask(args.option, args.default_fn, nullptr));
  Value tree = OSV_TRY(encode_object_guarded(obj, encode));
  ResultStorage storage;
  OutputBuffer out(storage, kJsonOutputInitialCapacity);
  Result<void, JsonError> written;
  {
    ReleasedGil unlocked;
    storage.set_released(&unlocked);
    written = write_json_value_guarded(out, tree, options);
    drop_encoded_tree(std::move(tree), storage_of_tree.outside_arena);
  }
  if (!written) return std::unexpected(encode_error(std::move(written.error().message)));
  return storage.finish(out);
}

}  // namespace ostrevane::ffi
