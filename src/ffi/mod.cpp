// The module _ostrevane: its definition, its execution step, and the entries
// of the eight module functions.
//
// The module keeps no per-module state; everything it caches is process-wide
// (see errors.cpp and, later, the class objects), so one module object or
// another finds the same classes.
#include <array>
#include <charconv>
#include <cstdint>

#include "ffi/args.hpp"
#include "ffi/compat.hpp"
#include "ffi/document.hpp"
#include "ffi/document/node.hpp"
#include "ffi/document/tree_node.hpp"
#include "ffi/document/view.hpp"
#include "ffi/dumps.hpp"
#include "ffi/entry_guard.hpp"
#include "ffi/errors.hpp"
#include "ffi/input.hpp"
#include "ffi/loads.hpp"
#include "ffi/options.hpp"
#include "ffi/represent/descriptors.hpp"
#include "ffi/tag.hpp"
#include "ffi/test_hooks.hpp"
#include "ffi/types/annotated.hpp"
#include "ffi/write_back.hpp"
#include "scanner/yaml_directive.hpp"
#include "schema/modeline.hpp"

namespace ostrevane::ffi {
namespace {

// ---------------------------------------------------------------------------
// Signatures. The index of each keyword in its table is how a body reads it.

constexpr Param kLoadsKeywords[] = {
    {"option", ArgKind::Mask},
    {"include_dir", ArgKind::Path},
    {"schema", ArgKind::Object},
    {"schema_resolver", ArgKind::Object},
    {"tag_handler", ArgKind::Object},
    {"tags", ArgKind::Object},
    {"root_path", ArgKind::Path},
    {"on_missing_secret", ArgKind::Object},
    {"on_missing_env_var", ArgKind::Object},
};
enum LoadsArg : std::size_t {
  kLoadsOption = 0,
  kLoadsIncludeDir = 1,
  kLoadsSchema = 2,
  kLoadsSchemaResolver = 3,
  kLoadsTagHandler = 4,
  kLoadsTags = 5,
  kLoadsRootPath = 6,
  kLoadsOnMissingSecret = 7,
  kLoadsOnMissingEnvVar = 8,
};

constexpr Param kLoadsAllKeywords[] = {
    {"option", ArgKind::Mask},
    {"tag_handler", ArgKind::Object},
    {"tags", ArgKind::Object},
};
enum LoadsAllArg : std::size_t { kLoadsAllOption = 0, kLoadsAllTagHandler = 1, kLoadsAllTags = 2 };

constexpr Param kDumpsKeywords[] = {
    {"default", ArgKind::Object}, {"option", ArgKind::Mask},      {"serializers", ArgKind::Dict},
    {"width", ArgKind::Mask},     {"represent", ArgKind::Object},
};
enum DumpsArg : std::size_t {
  kDumpsDefault,
  kDumpsOption,
  kDumpsSerializers,
  kDumpsWidth,
  kDumpsRepresent,
};

constexpr Param kToJsonKeywords[] = {
    {"default", ArgKind::Object},
    {"option", ArgKind::Mask},
};
enum ToJsonArg : std::size_t { kToJsonDefault, kToJsonOption };

constexpr Param kDumpIncludesKeywords[] = {
    {"include_dir", ArgKind::Path},
};

constexpr Signature kLoads{"loads", "data", kLoadsKeywords};
constexpr Signature kLoadsAll{"loads_all", "data", kLoadsAllKeywords};
constexpr Signature kDumps{"dumps", "obj", kDumpsKeywords};
constexpr Signature kToJson{"to_json", "obj", kToJsonKeywords};
constexpr Signature kSchemaRef{"schema_ref", "data", {}};
constexpr Signature kYamlVersion{"yaml_version", "data", {}};
constexpr Signature kDumpIncludes{"dump_includes", "doc", kDumpIncludesKeywords};
constexpr Signature kDumpIncludesMap{"dump_includes_map", "doc", {}};

// Running out of memory here raises MemoryError, as everywhere in the module.
PyResult<PyRef> new_str(std::string_view text) {
  PyRef str =
      PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!str) return std::unexpected(PyError::fetch());
  return str;
}

// ---------------------------------------------------------------------------
// Function bodies.

PyResult<PyRef> loads_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kLoads, args, nargs, kwnames));
  return loads_impl(LoadsArgs{call.positional(), call.mask(kLoadsOption), call.object(kLoadsSchema),
                              call.object(kLoadsSchemaResolver), call.object(kLoadsTagHandler),
                              call.object(kLoadsTags), &call.path(kLoadsIncludeDir),
                              &call.path(kLoadsRootPath), call.object(kLoadsOnMissingSecret),
                              call.object(kLoadsOnMissingEnvVar)});
}

PyResult<PyRef> loads_all_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kLoadsAll, args, nargs, kwnames));
  return loads_all_impl(LoadsAllArgs{call.positional(), call.mask(kLoadsAllOption),
                                     call.object(kLoadsAllTagHandler), call.object(kLoadsAllTags)});
}

PyResult<PyRef> dumps_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kDumps, args, nargs, kwnames));
  return dumps(DumpsArgs{call.positional(), call.object(kDumpsDefault), call.mask(kDumpsOption),
                         call.object(kDumpsSerializers), call.mask(kDumpsWidth),
                         call.object(kDumpsRepresent)});
}

PyResult<PyRef> to_json_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kToJson, args, nargs, kwnames));
  return to_json(
      ToJsonArgs{call.positional(), call.object(kToJsonDefault), call.mask(kToJsonOption)});
}

PyResult<PyRef> schema_ref_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kSchemaRef, args, nargs, kwnames));
  InputText text = OSV_TRY(read_input_text(call.positional()));
  std::optional<std::string> ref = find_schema_modeline(text.view());
  if (!ref) return PyRef::borrow(Py_None);
  return new_str(*ref);
}

PyResult<PyRef> yaml_version_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  CallArgs call = OSV_TRY(parse_call(kYamlVersion, args, nargs, kwnames));
  InputText text = OSV_TRY(read_input_text(call.positional()));
  const std::optional<YamlVersion> version = detect_yaml_directive(text.view());
  if (!version) return PyRef::borrow(Py_None);
  char buf[24];
  char* end = std::to_chars(buf, buf + 10, version->major).ptr;
  *end++ = '.';
  end = std::to_chars(end, buf + sizeof buf, version->minor).ptr;
  return new_str(std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

PyResult<PyRef> dump_includes_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const CallArgs call = OSV_TRY(parse_call(kDumpIncludes, args, nargs, kwnames));
  return dump_includes_impl(call);
}

PyResult<PyRef> dump_includes_map_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const CallArgs call = OSV_TRY(parse_call(kDumpIncludesMap, args, nargs, kwnames));
  return dump_includes_map_impl(call);
}

// The interpreter's entry of a function: `self` is the module.
template <PyResult<PyRef> (*Body)(PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded_call([&] { return Body(args, nargs, kwnames); });
}

// METH_FASTCALL | METH_KEYWORDS without METH_STATIC: bound to the module, so
// __self__ is the module object.
constexpr int kCallFlags = METH_FASTCALL | METH_KEYWORDS;

#define OSV_FUNCTION(name, body, signature)                                                      \
  PyMethodDef {                                                                                  \
    name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<body>)), kCallFlags, \
        signature "\n--\n\n"                                                                     \
  }

PyMethodDef g_functions[] = {
    OSV_FUNCTION("loads", loads_body,
                 "loads(data, /, *, option=None, include_dir=None, schema=None, "
                 "schema_resolver=None, tag_handler=None, tags=None, root_path=None, "
                 "on_missing_secret=None, on_missing_env_var=None)"),
    OSV_FUNCTION("loads_all", loads_all_body,
                 "loads_all(data, /, *, option=None, tag_handler=None, tags=None)"),
    OSV_FUNCTION("dumps", dumps_body,
                 "dumps(obj, /, *, default=None, option=None, serializers=None, width=None, "
                 "represent=None)"),
    OSV_FUNCTION("to_json", to_json_body, "to_json(obj, /, *, default=None, option=None)"),
    OSV_FUNCTION("schema_ref", schema_ref_body, "schema_ref(data, /)"),
    OSV_FUNCTION("yaml_version", yaml_version_body, "yaml_version(data, /)"),
    OSV_FUNCTION("dump_includes", dump_includes_body, "dump_includes(doc, /, *, include_dir=None)"),
    OSV_FUNCTION("dump_includes_map", dump_includes_map_body, "dump_includes_map(doc, /)"),
};

#undef OSV_FUNCTION

// ---------------------------------------------------------------------------
// The execution step.

// Appends `name` to the module's __all__ (created when missing) and sets the
// attribute. `name` is borrowed, `value` consumed.
PyResult<void> add_name(PyObject* module, PyObject* name, PyRef value) {
  PyObject* all_raw = nullptr;
  if (PyObject_GetOptionalAttrString(module, "__all__", &all_raw) < 0) {
    return std::unexpected(PyError::fetch());
  }
  PyRef all = PyRef::steal(all_raw);
  if (!all) {
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
      return std::unexpected(PyError::fetch());
    }
  }
  if (!PyList_Check(all.get())) {
    return std::unexpected(PyError::builtin(PyExc_TypeError, "__all__ must be a list"));
  }
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    return std::unexpected(PyError::fault("could not append __name__ to __all__"));
  }
  if (PyObject_SetAttr(module, name, value.get()) < 0) return std::unexpected(PyError::fetch());
  return {};
}

PyResult<void> add_function(PyObject* module, PyMethodDef* def) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return std::unexpected(PyError::fetch());
  PyRef function = PyRef::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
  if (!function) return std::unexpected(PyError::fetch());
  PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return std::unexpected(PyError::fetch());
  if (!PyUnicode_Check(name.get())) {
    return std::unexpected(not_an_instance_error(name.get(), "str"));
  }
  return add_name(module, name.get(), std::move(function));
}

PyResult<void> add_option_constant(PyObject* module, const char* name, std::uint64_t value) {
  PyRef key = PyRef::steal(PyUnicode_FromString(name));
  PyRef number = key ? PyRef::steal(PyLong_FromUnsignedLongLong(value)) : PyRef();
  if (!number) return std::unexpected(PyError::fetch());
  return add_name(module, key.get(), std::move(number));
}

// The classes of the module, in the order they are added.
using TypeGetter = PyResult<PyTypeObject*> (*)();
struct ClassEntry {
  const char* name;
  TypeGetter type;
};
constexpr ClassEntry kClasses[] = {
    {"OstrevaneDocument", &document_type_object},
    {"OstrevaneTreeNode", &tree_node_type_object},
    {"OstrevaneDocumentView", &document_view_type_object},
    {"OstrevaneNode", &node_type_object},
    {"OstrevaneTag", &tag_type_object},
    {"OstrevaneAnnotatedDict", &annotated_dict_type_object},
    {"OstrevaneAnnotatedList", &annotated_list_type_object},
    {"OstrevaneScalar", &scalar_type_object},
    {"OstrevaneSequence", &sequence_type_object},
    {"OstrevaneMapping", &mapping_type_object},
};

PyResult<void> add_class(PyObject* module, const ClassEntry& entry) {
  PyTypeObject* type = OSV_TRY(entry.type());
  PyRef name = PyRef::steal(PyUnicode_FromString(entry.name));
  if (!name) return std::unexpected(PyError::fetch());
  return add_name(module, name.get(), PyRef::borrow(reinterpret_cast<PyObject*>(type)));
}

// Every cache of the module is process-wide, shared by all interpreters of
// the process; a sub-interpreter would see objects of another interpreter.
PyResult<void> refuse_sub_interpreters() {
#if PY_VERSION_HEX < 0x030C0000
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    return std::unexpected(
        PyError::builtin(PyExc_ImportError, "_ostrevane does not support sub-interpreters"));
  }
#endif
  return {};
}

int module_exec(PyObject* module) {
  return guarded_status([&]() -> PyResult<void> {
    if (!PyModule_Check(module)) {
      return std::unexpected(not_an_instance_error(module, "module"));
    }
    OSV_TRY(refuse_sub_interpreters());
    for (PyMethodDef& def : g_functions) OSV_TRY(add_function(module, &def));
    for (const OptionName& option : kOptions) {
      OSV_TRY(add_option_constant(module, option.name, option.value));
    }
    for (const ClassEntry& entry : kClasses) OSV_TRY(add_class(module, entry));
    OSV_TRY(add_test_hooks(module));
    return {};
  });
}

// ---------------------------------------------------------------------------
// Module definition and export.

#if PY_VERSION_HEX >= 0x030C0000
#define OSV_MODULE_BEHAVIOUR_SLOTS                                           \
  {Py_mod_exec, reinterpret_cast<void*>(&module_exec)}, {                    \
    Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED \
  }
#else
#define OSV_MODULE_BEHAVIOUR_SLOTS \
  { Py_mod_exec, reinterpret_cast<void*>(&module_exec) }
#endif

PyModuleDef_Slot g_module_slots[] = {
    OSV_MODULE_BEHAVIOUR_SLOTS,
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "_ostrevane", "", 0, nullptr, g_module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace ostrevane::ffi

PyMODINIT_FUNC PyInit__ostrevane() { return PyModuleDef_Init(&ostrevane::ffi::g_module_def); }

// The slot-list export, for interpreters whose headers offer it; both entries
// describe the module with the same behaviour slots.
#if defined(PyMODEXPORT_FUNC) && defined(Py_mod_name) && defined(Py_mod_doc)
namespace ostrevane::ffi {
namespace {
PyModuleDef_Slot g_export_slots[] = {
    OSV_MODULE_BEHAVIOUR_SLOTS,
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {Py_mod_name, const_cast<char*>("_ostrevane")},
    {Py_mod_doc, const_cast<char*>("")},
    {0, nullptr},
};
}  // namespace
}  // namespace ostrevane::ffi

PyMODEXPORT_FUNC PyModExport__ostrevane(void) { return ostrevane::ffi::g_export_slots; }
#endif
