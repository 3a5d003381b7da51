#include "ffi/dumps.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "value/value.hpp"
#include "encode/writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/document.hpp"
#include "ffi/document/view.hpp"
#include "ffi/options.hpp"

namespace ostrevane::ffi {
namespace {

PyError not_implemented(std::string message) {
  return PyError::builtin(PyExc_NotImplementedError, std::move(message));
}

// A view is written as its plain values: the result of its to_dict method,
// kept in `values` (an exception from it is raised unchanged). Other objects
// are returned as they are.
PyResult<PyObject*> view_values(PyObject* obj, PyRef& values) {
  if (!OSV_TRY(is_document_view(obj))) return obj;
  values = PyRef::steal(PyObject_CallMethod(obj, "to_dict", nullptr));
  if (!values) return std::unexpected(PyError::fetch());
  return values.get();
}

PyResult<PyRef> to_bytes(const OutputBuffer& out) {
  PyRef bytes =
      PyRef::steal(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
  if (!bytes) return std::unexpected(PyError::fetch());
  return bytes;
}

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
  PyObject* obj = OSV_TRY(view_values(args.obj, values));
  // Declared before the tree, which lives in it.
  ValueArena arena;
  EncodeOptions encode = EncodeOptions::from_mask(args.option, args.default_fn, args.serializers);
  encode.arena = &arena;
  bool outside_arena = false;
  encode.outside_arena = &outside_arena;
  const NullStyle null_style = OSV_TRY(null_style_from_option(args.option));
  if (args.represent != nullptr) {
    return std::unexpected(not_implemented("dumps() with represent is not implemented yet"));
  }
  const WriterOptions options = writer_options(args.option, args.width, null_style);
  Value tree = OSV_TRY(encode_object_guarded(obj, encode));
  OutputBuffer out(kYamlOutputInitialCapacity);
  {
    ReleasedGil unlocked;
    write_yaml_document(out, tree, options);
    drop_encoded_tree(std::move(tree), outside_arena);
  }
  return to_bytes(out);
}

PyResult<PyRef> to_json(const ToJsonArgs& args) {
  PyObject* obj = args.obj;
  PyRef document_values;
  if (DocumentObject* doc = OSV_TRY(as_document(obj))) {
    document_values = OSV_TRY(document_json_values(doc));
    obj = document_values.get();
  }
  PyRef values;
  obj = OSV_TRY(view_values(obj, values));
  // Declared before the tree, which lives in it.
  ValueArena arena;
  EncodeOptions encode = EncodeOptions::from_mask(args.option, args.default_fn, nullptr);
  encode.arena = &arena;
  bool outside_arena = false;
  encode.outside_arena = &outside_arena;
  Value tree = OSV_TRY(encode_object_guarded(obj, encode));
  JsonOptions options;
  options.indent = (args.option & kOptIndent4) ? 4 : (args.option & kOptIndent2) ? 2 : 0;
  options.sort_keys = (args.option & kOptSortKeys) != 0;
  OutputBuffer out;
  Result<void, JsonError> written;
  {
    ReleasedGil unlocked;
    written = write_json_value_guarded(out, tree, options);
    drop_encoded_tree(std::move(tree), outside_arena);
  }
  if (!written) return std::unexpected(encode_error(std::move(written.error().message)));
  return to_bytes(out);
}

}  // namespace ostrevane::ffi
