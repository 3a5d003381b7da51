#include "ffi/represent/descriptors.hpp"

#include <array>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/tag.hpp"
#include "util/once_cell.hpp"

namespace ostrevane::ffi {

PyError comment_error_to_py(const CommentError& error) {
  std::string message;
  switch (error.fault) {
    case CommentFault::InlineLineBreak:
      message = kInlineLineBreakMessage;
      break;
    case CommentFault::UnicodeLineBreak:
      message = kUnicodeLineBreakMessage;
      break;
    case CommentFault::ControlCharacter:
      message = kControlCharacterMessage;
      append_message_literal(message, error.character, '\'');
      break;
  }
  return PyError::builtin(PyExc_ValueError, std::move(message));
}

namespace {

constexpr std::array<std::string_view, 6> kStyleNames = {"auto",   "plain",   "single",
                                                         "double", "literal", "folded"};

// ---------------------------------------------------------------------------
// Arguments. Each constructor reads its arguments through the module
// functions' parser, so the call rules and their messages are the same.

constexpr Param kScalarKeywords[] = {
    {"tag", ArgKind::Object},           {"style", ArgKind::Object},
    {"comment", ArgKind::Object},       {"comment_before", ArgKind::Object},
    {"comment_after", ArgKind::Object},
};
constexpr Param kCollectionKeywords[] = {
    {"tag", ArgKind::Object},           {"flow", ArgKind::Object},
    {"comment", ArgKind::Object},       {"comment_before", ArgKind::Object},
    {"comment_after", ArgKind::Object},
};
// Keyword indices shared by both tables.
enum : std::size_t { kTag = 0, kStyleOrFlow = 1, kComment = 2, kBefore = 3, kAfter = 4 };

// The tp_new arguments (tuple and dict) in the vectorcall form.
PyResult<CallArgs> parse_new_args(const Signature& sig, PyObject* args, PyObject* kwargs) {
  std::vector<PyObject*> vector;
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  for (Py_ssize_t i = 0; i < nargs; ++i) vector.push_back(PyTuple_GET_ITEM(args, i));
  PyRef names;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0) {
    names = PyRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!names) return std::unexpected(PyError::fetch());
    Py_ssize_t pos = 0, k = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      Py_INCREF(key);
      PyTuple_SET_ITEM(names.get(), k++, key);
      vector.push_back(value);
    }
  }
  return parse_call(sig, vector.data(), nargs, names.get());
}

PyResult<std::optional<std::string>> optional_text_argument(const CallArgs& call, std::size_t i,
                                                            const char* name) {
  if (!call.has(i)) return std::nullopt;
  return OSV_TRY(text_argument(call.object(i), name));
}

// Comment lines re-joined with single line feeds.
PyResult<std::optional<std::string>> normalize_block_comment(std::optional<std::string> text) {
  if (!text) return std::nullopt;
  auto lines = split_comment_lines(std::move(text));
  if (!lines) return std::unexpected(comment_error_to_py(lines.error()));
  std::string joined;
  for (std::size_t i = 0; i < lines->size(); ++i) {
    if (i != 0) joined.push_back('\n');
    joined.append((*lines)[i]);
  }
  return joined;
}

// The three comments, converted in signature order (conversion only).
PyResult<DescriptorComments> comment_arguments(const CallArgs& call) {
  DescriptorComments comments;
  comments.comment = OSV_TRY(optional_text_argument(call, kComment, "comment"));
  comments.comment_before = OSV_TRY(optional_text_argument(call, kBefore, "comment_before"));
  comments.comment_after = OSV_TRY(optional_text_argument(call, kAfter, "comment_after"));
  return comments;
}

// The text rules, in order: inline comment, then the lines before and after.
PyResult<void> check_comments(DescriptorComments& comments) {
  auto inline_comment = validate_inline_comment(std::move(comments.comment));
  if (!inline_comment) return std::unexpected(comment_error_to_py(inline_comment.error()));
  comments.comment = std::move(*inline_comment);
  comments.comment_before = OSV_TRY(normalize_block_comment(std::move(comments.comment_before)));
  comments.comment_after = OSV_TRY(normalize_block_comment(std::move(comments.comment_after)));
  return {};
}

PyResult<PyObject*> allocate(PyTypeObject* type) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc != nullptr ? alloc(type, 0) : PyType_GenericAlloc(type, 0);
  if (self == nullptr) return std::unexpected(PyError::fetch());
  return self;
}

PyResult<PyRef> text_to_py(std::string_view text) {
  PyRef str = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
  if (!str) return std::unexpected(PyError::fetch());
  return str;
}

// ---------------------------------------------------------------------------
// OstrevaneScalar.

OnceCell<PyObject> g_scalar_type;
OnceCell<PyObject> g_sequence_type;
OnceCell<PyObject> g_mapping_type;

ScalarDescriptor* as_scalar(PyObject* self) noexcept {
  return reinterpret_cast<ScalarDescriptor*>(self);
}
CollectionDescriptor* as_collection(PyObject* self) noexcept {
  return reinterpret_cast<CollectionDescriptor*>(self);
}

constexpr Signature kScalarSignature = {"OstrevaneScalar", "value", kScalarKeywords};

PyResult<std::int8_t> style_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kStyleNames.size(); ++i) {
    if (kStyleNames[i] == name) return static_cast<std::int8_t>(static_cast<int>(i) - 1);
  }
  std::string message = "invalid scalar style ";
  append_message_literal(message, name, '"');
  message += ": expected one of 'auto', 'plain', 'single', 'double', 'literal', 'folded'";
  return std::unexpected(PyError::builtin(PyExc_ValueError, std::move(message)));
}

PyObject* scalar_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const CallArgs call = OSV_TRY(parse_new_args(kScalarSignature, args, kwargs));
    std::string value = OSV_TRY(text_argument(call.positional(), "value"));
    std::optional<std::string> tag = OSV_TRY(optional_text_argument(call, kTag, "tag"));
    std::optional<std::string> style_name =
        OSV_TRY(optional_text_argument(call, kStyleOrFlow, "style"));
    DescriptorComments comments = OSV_TRY(comment_arguments(call));
    const std::int8_t style = style_name ? OSV_TRY(style_from_name(*style_name)) : kAutoScalarStyle;
    OSV_TRY(check_comments(comments));
    PyObject* self = OSV_TRY(allocate(type));
    ScalarDescriptor* obj = as_scalar(self);
    new (&obj->value) std::string(std::move(value));
    new (&obj->tag) std::optional<std::string>(std::move(tag));
    obj->style = style;
    new (&obj->comments) DescriptorComments(std::move(comments));
    return PyRef::steal(self);
  });
}

void scalar_dealloc(PyObject* self) noexcept {
  ScalarDescriptor* obj = as_scalar(self);
  obj->value.~basic_string();
  obj->tag.~optional();
  obj->comments.~DescriptorComments();
  free_instance(self);
}

PyObject* scalar_repr(PyObject* self) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const ScalarDescriptor* obj = as_scalar(self);
    std::string out = "OstrevaneScalar(";
    append_message_literal(out, obj->value, '"');
    if (obj->tag) {
      out += ", tag=";
      append_message_literal(out, *obj->tag, '"');
    }
    out += ", style=";
    append_message_literal(out, kStyleNames[static_cast<std::size_t>(obj->style + 1)], '"');
    out += ')';
    return text_to_py(out);
  });
}

// Getters of the fields that both kinds of descriptor carry.
template <class Descriptor, std::optional<std::string> DescriptorComments::*Field>
PyObject* get_comment(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    return optional_text_to_py(reinterpret_cast<Descriptor*>(self)->comments.*Field);
  });
}

template <class Descriptor>
PyObject* get_tag(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    return optional_text_to_py(reinterpret_cast<Descriptor*>(self)->tag);
  });
}

PyObject* scalar_get_value(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> { return text_to_py(as_scalar(self)->value); });
}

PyObject* scalar_get_style(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    return text_to_py(kStyleNames[static_cast<std::size_t>(as_scalar(self)->style + 1)]);
  });
}

#define OSV_COMMENT_GETTERS(Descriptor)                                                           \
  {"comment", &get_comment<Descriptor, &DescriptorComments::comment>, nullptr, nullptr, nullptr}, \
      {"comment_before", &get_comment<Descriptor, &DescriptorComments::comment_before>, nullptr,  \
       nullptr, nullptr},                                                                         \
  {                                                                                               \
    "comment_after", &get_comment<Descriptor, &DescriptorComments::comment_after>, nullptr,       \
        nullptr, nullptr                                                                          \
  }

PyGetSetDef g_scalar_getset[] = {
    OSV_COMMENT_GETTERS(ScalarDescriptor),
    {"value", &scalar_get_value, nullptr, nullptr, nullptr},
    {"tag", &get_tag<ScalarDescriptor>, nullptr, nullptr, nullptr},
    {"style", &scalar_get_style, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char kScalarDoc[] =
    "OstrevaneScalar(value, *, tag=None, style=\"auto\", comment=None, comment_before=None, "
    "comment_after=None)\n--\n\n"
    "A scalar node descriptor returned by a `represent` callback: the text to emit,\n"
    "an optional explicit tag, and a style. `style=\"auto\"` lets the emitter apply\n"
    "its implicit-resolver quoting; an explicit style is validated against the\n"
    "value and then honored.";

PyType_Slot g_scalar_slots[] = {
    {Py_tp_doc, const_cast<char*>(kScalarDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&scalar_new)},
    {Py_tp_repr, reinterpret_cast<void*>(&scalar_repr)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&scalar_dealloc)},
    {Py_tp_getset, g_scalar_getset},
    {0, nullptr},
};

PyType_Spec g_scalar_spec = {
    "ostrevane.OstrevaneScalar",
    static_cast<int>(sizeof(ScalarDescriptor)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    g_scalar_slots,
};

// ---------------------------------------------------------------------------
// OstrevaneSequence and OstrevaneMapping.

constexpr Signature kSequenceSignature = {"OstrevaneSequence", "items", kCollectionKeywords};
constexpr Signature kMappingSignature = {"OstrevaneMapping", "pairs", kCollectionKeywords};

// A bool, or numpy's boolean scalar read through its __bool__.
PyResult<std::optional<bool>> flow_argument(const CallArgs& call) {
  PyObject* obj = call.object(kStyleOrFlow);
  if (obj == nullptr) return std::nullopt;
  if (PyBool_Check(obj)) return obj == Py_True;
  const std::string_view name = Py_TYPE(obj)->tp_name;
  if (name == "numpy.bool_" || name == "numpy.bool") {
    const int truth = PyObject_IsTrue(obj);
    if (truth >= 0) return truth == 1;
    PyError error = PyError::fetch();
    error.add_processing_note("flow");
    return std::unexpected(std::move(error));
  }
  PyError error = not_an_instance_error(obj, "bool");
  error.add_processing_note("flow");
  return std::unexpected(std::move(error));
}

// A list or tuple (or subclass) as it is, anything else through list().
PyResult<PyRef> to_py_sequence(PyObject* obj) {
  if (PyList_Check(obj) || PyTuple_Check(obj)) return PyRef::borrow(obj);
  PyRef list = PyRef::steal(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyList_Type), obj));
  if (!list) return std::unexpected(PyError::fetch());
  return list;
}

PyResult<PyRef> collection_new(PyTypeObject* type, const Signature& sig, PyObject* args,
                               PyObject* kwargs) {
  const CallArgs call = OSV_TRY(parse_new_args(sig, args, kwargs));
  std::optional<std::string> tag = OSV_TRY(optional_text_argument(call, kTag, "tag"));
  const std::optional<bool> flow = OSV_TRY(flow_argument(call));
  DescriptorComments comments = OSV_TRY(comment_arguments(call));
  PyRef items = OSV_TRY(to_py_sequence(call.positional()));
  OSV_TRY(check_comments(comments));
  PyObject* self = OSV_TRY(allocate(type));
  CollectionDescriptor* obj = as_collection(self);
  new (&obj->tag) std::optional<std::string>(std::move(tag));
  new (&obj->flow) std::optional<bool>(flow);
  new (&obj->comments) DescriptorComments(std::move(comments));
  obj->items = items.release();
  return PyRef::steal(self);
}

PyObject* sequence_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_call([&] { return collection_new(type, kSequenceSignature, args, kwargs); });
}

PyObject* mapping_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_call([&] { return collection_new(type, kMappingSignature, args, kwargs); });
}

void collection_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  CollectionDescriptor* obj = as_collection(self);
  Py_CLEAR(obj->items);
  obj->tag.~optional();
  obj->comments.~DescriptorComments();
  free_instance(self);
}

int collection_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_collection(self)->items);
  return 0;
}

PyObject* collection_get_items(PyObject* self, void*) {
  return guarded_call(
      [&]() -> PyResult<PyRef> { return PyRef::borrow(as_collection(self)->items); });
}

PyObject* collection_get_flow(PyObject* self, void*) {
  return guarded_call([&]() -> PyResult<PyRef> {
    const std::optional<bool> flow = as_collection(self)->flow;
    return PyRef::borrow(!flow ? Py_None : *flow ? Py_True : Py_False);
  });
}

#define OSV_COLLECTION_GETSET(items_name)                                   \
  {                                                                         \
    OSV_COMMENT_GETTERS(CollectionDescriptor),                              \
        {items_name, &collection_get_items, nullptr, nullptr, nullptr},     \
        {"tag", &get_tag<CollectionDescriptor>, nullptr, nullptr, nullptr}, \
        {"flow", &collection_get_flow, nullptr, nullptr, nullptr},          \
        {nullptr, nullptr, nullptr, nullptr, nullptr},                      \
  }

PyGetSetDef g_sequence_getset[] = OSV_COLLECTION_GETSET("items");
PyGetSetDef g_mapping_getset[] = OSV_COLLECTION_GETSET("pairs");

constexpr const char kSequenceDoc[] =
    "OstrevaneSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, "
    "comment_after=None)\n--\n\n"
    "A sequence node descriptor: its items (original host objects, re-dispatched\n"
    "through `represent`), an optional tag, and an optional flow override.";

constexpr const char kMappingDoc[] =
    "OstrevaneMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, "
    "comment_after=None)\n--\n\n"
    "A mapping node descriptor: its `(key, value)` pairs (original host objects,\n"
    "re-dispatched through `represent`), an optional tag, and a flow override.";

PyType_Slot g_sequence_slots[] = {
    {Py_tp_doc, const_cast<char*>(kSequenceDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&sequence_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(&collection_traverse)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&collection_dealloc)},
    {Py_tp_getset, g_sequence_getset},
    {0, nullptr},
};

PyType_Slot g_mapping_slots[] = {
    {Py_tp_doc, const_cast<char*>(kMappingDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&mapping_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(&collection_traverse)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&collection_dealloc)},
    {Py_tp_getset, g_mapping_getset},
    {0, nullptr},
};

// The held items may hold the descriptor again, so both collect garbage;
// they never change, so clearing a cycle is left to the containers in it.
constexpr unsigned long kCollectionFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE;

PyType_Spec g_sequence_spec = {
    "ostrevane.OstrevaneSequence",
    static_cast<int>(sizeof(CollectionDescriptor)),
    0,
    kCollectionFlags,
    g_sequence_slots,
};

PyType_Spec g_mapping_spec = {
    "ostrevane.OstrevaneMapping",
    static_cast<int>(sizeof(CollectionDescriptor)),
    0,
    kCollectionFlags,
    g_mapping_slots,
};

template <class Descriptor>
PyResult<Descriptor*> downcast(PyObject* obj, PyResult<PyTypeObject*> type) {
  if (!type) return std::unexpected(std::move(type.error()));
  if (Py_TYPE(obj) == *type || PyType_IsSubtype(Py_TYPE(obj), *type)) {
    return reinterpret_cast<Descriptor*>(obj);
  }
  return nullptr;
}

}  // namespace

PyResult<PyTypeObject*> scalar_type_object() {
  return lazy_type_object(g_scalar_type, g_scalar_spec, "OstrevaneScalar");
}
PyResult<PyTypeObject*> sequence_type_object() {
  return lazy_type_object(g_sequence_type, g_sequence_spec, "OstrevaneSequence");
}
PyResult<PyTypeObject*> mapping_type_object() {
  return lazy_type_object(g_mapping_type, g_mapping_spec, "OstrevaneMapping");
}

PyResult<ScalarDescriptor*> as_scalar_descriptor(PyObject* obj) {
  return downcast<ScalarDescriptor>(obj, scalar_type_object());
}
PyResult<CollectionDescriptor*> as_sequence_descriptor(PyObject* obj) {
  return downcast<CollectionDescriptor>(obj, sequence_type_object());
}
PyResult<CollectionDescriptor*> as_mapping_descriptor(PyObject* obj) {
  return downcast<CollectionDescriptor>(obj, mapping_type_object());
}

}  // namespace ostrevane::ffi
