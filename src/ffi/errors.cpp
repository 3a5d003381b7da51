#include "ffi/errors.hpp"

#include <array>
#include <charconv>

#include "util/once_cell.hpp"

namespace ostrevane::ffi {
namespace {

constexpr const char* kExceptionsModule = "ostrevane.exceptions";

constexpr std::array<const char*, kExcClassCount> kExcClassNames = {
    "OstrevaneParseError",
    "OstrevaneDuplicateKeyError",
    "OstrevaneComplexKeyError",
    "OstrevaneDecodeError",
    "OstrevaneEncodeError",
    "OstrevaneUnserializableError",
    "OstrevaneSchemaError",
    "OstrevaneIncludeNotFoundError",
    "OstrevaneCircularIncludeError",
    "OstrevaneIncludeDepthError",
    "OstrevaneIncludeConfinementError",
    "OstrevaneSecretNotFoundError",
    "OstrevaneEnvVarError",
    "OstrevaneIncludeError",
};

std::array<OnceCell<PyObject>, kExcClassCount> g_exception_classes;
OnceCell<PyObject> g_panic_type;

void discard_ref(PyObject* obj) { Py_DECREF(obj); }

PyObject* str_from(std::string_view text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// str() of the exception being raised, for fault texts; clears it.
std::string fetched_error_text() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) return "unknown error";
  PyRef text = PyRef::steal(PyObject_Str(exc.get()));
  Py_ssize_t len = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "<unprintable error>";
  }
  return std::string(utf8, static_cast<std::size_t>(len));
}

void append_decimal(std::string& out, std::uint64_t value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<std::size_t>(end - buf));
}

std::string located_message(std::string_view message, std::uint32_t line, std::uint32_t column) {
  std::string out;
  out.reserve(message.size() + 32);
  out.append(message);
  out += " at line ";
  append_decimal(out, std::uint64_t{line} + 1);
  out += ", column ";
  append_decimal(out, std::uint64_t{column} + 1);
  return out;
}

// Attribute setters: a failed assignment is discarded, as is a failure to make
// the value; the exception is raised without that attribute.
void set_attr_owned(PyObject* exc, const char* name, PyRef value) {
  if (!value || PyObject_SetAttrString(exc, name, value.get()) < 0) PyErr_Clear();
}

void set_position_attr(PyObject* exc, const char* name, std::uint64_t value) {
  set_attr_owned(exc, name, PyRef::steal(PyLong_FromUnsignedLongLong(value)));
}

void set_file_attr(PyObject* exc, std::optional<std::string_view> file) {
  set_attr_owned(exc, "file", file ? PyRef::steal(path_to_str(*file)) : PyRef::borrow(Py_None));
}

void set_include_stack_attr(PyObject* exc, const std::vector<IncludeFrame>& chain) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(chain.size())));
  if (!list) {
    PyErr_Clear();
    return;
  }
  for (std::size_t i = 0; i < chain.size(); ++i) {
    PyRef path = PyRef::steal(path_to_str(chain[i].path));
    PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(std::uint64_t{chain[i].line} + 1));
    PyObject* pair = (path && line) ? PyTuple_Pack(2, path.get(), line.get()) : nullptr;
    if (pair == nullptr) {
      PyErr_Clear();
      return;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
  }
  set_attr_owned(exc, "include_stack", std::move(list));
}

ExcClass include_kind_class(IncludeErrorKind kind) {
  switch (kind) {
    case IncludeErrorKind::IncludeNotFound:
      return ExcClass::IncludeNotFoundError;
    case IncludeErrorKind::CircularInclude:
      return ExcClass::CircularIncludeError;
    case IncludeErrorKind::IncludeDepth:
      return ExcClass::IncludeDepthError;
    case IncludeErrorKind::IncludeConfinement:
      return ExcClass::IncludeConfinementError;
    case IncludeErrorKind::SecretNotFound:
      return ExcClass::SecretNotFoundError;
    case IncludeErrorKind::EnvVar:
      return ExcClass::EnvVarError;
    case IncludeErrorKind::Parse:
      return ExcClass::ParseError;
    case IncludeErrorKind::Include:
      return ExcClass::IncludeError;
  }
  return ExcClass::IncludeError;
}

}  // namespace

const char* exc_class_name(ExcClass cls) noexcept {
  return kExcClassNames[static_cast<std::size_t>(cls)];
}

// ---------------------------------------------------------------------------
// Class caches.

PyObject* panic_exception_type() noexcept {
  if (PyObject* type = g_panic_type.get()) [[likely]] {
    return type;
  }
  PyObject* fresh = PyErr_NewExceptionWithDoc(
      "_ostrevane.PanicException",
      "An internal fault of the native module: a broken invariant met instead of a result.",
      PyExc_BaseException, nullptr);
  if (fresh == nullptr) return nullptr;
  return g_panic_type.publish(fresh, discard_ref);
}

void raise_panic(std::string_view message) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // its creation left an exception set
  PyRef text = PyRef::steal(str_from(message));
  if (!text) return;
  PyErr_SetObject(type, text.get());
}

PyResult<PyObject*> exception_class(ExcClass cls) {
  OnceCell<PyObject>& cell = g_exception_classes[static_cast<std::size_t>(cls)];
  if (PyObject* type = cell.get()) [[likely]] {
    return type;
  }
  const char* name = exc_class_name(cls);
  PyRef module = PyRef::steal(PyImport_ImportModule(kExceptionsModule));
  PyRef type = module ? PyRef::steal(PyObject_GetAttrString(module.get(), name)) : PyRef();
  if (!type) {
    std::string text = "failed to import exception ";
    text += kExceptionsModule;
    text += '.';
    text += name;
    text += ": ";
    text += fetched_error_text();
    return std::unexpected(PyError::fault(std::move(text)));
  }
  return cell.publish(type.release(), discard_ref);
}

// ---------------------------------------------------------------------------
// PyError.

PyError PyError::fetch() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) return fault("an error was reported but no exception was set");
  return from_object(std::move(exc));
}

PyError PyError::from_object(PyRef exc) {
  return PyError(Kind::Object, ExcClass::ParseError, nullptr, {}, std::move(exc));
}

PyError PyError::lazy(ExcClass cls, std::string message) {
  return PyError(Kind::Lazy, cls, nullptr, std::move(message), PyRef());
}

PyError PyError::builtin(PyObject* type, std::string message) {
  return PyError(Kind::Builtin, ExcClass::ParseError, type, std::move(message), PyRef());
}

PyError PyError::fault(std::string message) {
  return PyError(Kind::Fault, ExcClass::ParseError, nullptr, std::move(message), PyRef());
}

PyError PyError::no_memory() noexcept {
  return PyError(Kind::NoMemory, ExcClass::ParseError, nullptr, {}, PyRef());
}

PyObject* PyError::materialise() {
  PyObject* type = nullptr;
  switch (kind_) {
    case Kind::Object:
      return exc_.get();
    case Kind::Fault:
    case Kind::NoMemory:
      return nullptr;
    case Kind::Builtin:
      type = builtin_type_;
      break;
    case Kind::Lazy: {
      auto cls = exception_class(cls_);
      if (!cls) {
        *this = std::move(cls.error());
        return nullptr;
      }
      type = *cls;
      break;
    }
  }
  PyRef text = PyRef::steal(str_from(message_));
  PyRef exc = text ? PyRef::steal(PyObject_CallOneArg(type, text.get())) : PyRef();
  if (!exc) {
    // Making the exception failed (out of memory, or the class refused the
    // message): that failure is what the caller gets.
    exc = PyRef::steal(PyErr_GetRaisedException());
    if (!exc) {
      *this = no_memory();
      return nullptr;
    }
  }
  *this = from_object(std::move(exc));
  return exc_.get();
}

void PyError::raise() && {
  switch (kind_) {
    case Kind::Object:
      PyErr_SetRaisedException(exc_.release());
      return;
    case Kind::Fault:
      raise_panic(message_);
      return;
    case Kind::NoMemory:
      PyErr_NoMemory();
      return;
    case Kind::Builtin:
    case Kind::Lazy:
      if (materialise() == nullptr) {
        std::move(*this).raise();
        return;
      }
      PyErr_SetRaisedException(exc_.release());
      return;
  }
}

void PyError::add_processing_note(std::string_view param_name) {
  PyObject* exc = materialise();
  if (exc == nullptr) return;
  std::string note = "while processing '";
  note.append(param_name);
  note += '\'';
  PyRef text = PyRef::steal(str_from(note));
  PyRef result =
      text ? PyRef::steal(PyObject_CallMethod(exc, "add_note", "O", text.get())) : PyRef();
  if (!result) PyErr_Clear();
}

bool PyError::matches(PyObject* type) {
  PyObject* exc = materialise();
  return exc != nullptr && PyErr_GivenExceptionMatches(exc, type);
}

// ---------------------------------------------------------------------------
// Converters.

PyObject* path_to_str(std::string_view path) noexcept { return str_from(path); }

PyError schema_error_to_py(std::string_view message, std::string_view path, std::uint32_t line,
                           std::uint32_t column) {
  std::string text = "schema validation failed: ";
  text.append(message);
  text += " at ";
  text.append(path);
  text += " (line ";
  append_decimal(text, std::uint64_t{line} + 1);
  text += ", column ";
  append_decimal(text, std::uint64_t{column} + 1);
  text += ')';
  PyError error = PyError::lazy(ExcClass::SchemaError, std::move(text));
  if (PyObject* exc = error.materialise()) {
    set_attr_owned(exc, "schema_path",
                   PyRef::steal(PyUnicode_FromStringAndSize(
                       path.data(), static_cast<Py_ssize_t>(path.size()))));
    set_position_attr(exc, "line", std::uint64_t{line} + 1);
    set_position_attr(exc, "column", std::uint64_t{column} + 1);
  }
  return error;
}

PyError located_error(ExcClass cls, std::string_view message, std::uint32_t line,
                      std::uint32_t column, std::optional<std::string_view> file) {
  PyError error = PyError::lazy(cls, located_message(message, line, column));
  if (PyObject* exc = error.materialise()) {
    set_file_attr(exc, file);
    set_position_attr(exc, "line", std::uint64_t{line} + 1);
    set_position_attr(exc, "column", std::uint64_t{column} + 1);
  }
  return error;
}

PyError include_error_to_py(const IncludeError& error) {
  if (error.kind == IncludeErrorKind::Parse) {
    const std::uint32_t line = error.span ? error.span->line : 0;
    const std::uint32_t column = error.span ? error.span->column : 0;
    PyError out = PyError::lazy(ExcClass::ParseError, located_message(error.message, line, column));
    if (PyObject* exc = out.materialise()) {
      set_file_attr(exc, error.file);
      set_position_attr(exc, "line", std::uint64_t{line} + 1);
      set_position_attr(exc, "column", std::uint64_t{column} + 1);
      set_include_stack_attr(exc, error.include_chain);
    }
    return out;
  }
  PyError out = PyError::lazy(include_kind_class(error.kind), fmt_include_stack(error));
  if (PyObject* exc = out.materialise()) {
    set_file_attr(exc, error.file);
    if (error.span) {
      set_position_attr(exc, "line", std::uint64_t{error.span->line} + 1);
      set_position_attr(exc, "column", std::uint64_t{error.span->column} + 1);
    }
    if (error.kind != IncludeErrorKind::SecretNotFound && error.kind != IncludeErrorKind::EnvVar) {
      set_include_stack_attr(exc, error.include_chain);
    }
  }
  return out;
}

PyError encode_error(std::string message) {
  return PyError::lazy(ExcClass::EncodeError, std::move(message));
}

PyError unserializable_error(std::string message) {
  return PyError::lazy(ExcClass::UnserializableError, std::move(message));
}

PyError too_deep_error() {
  return unserializable_error("object is too deeply nested to serialize (possible self-reference)");
}

PyError decode_error(std::string message) {
  return PyError::lazy(ExcClass::DecodeError, std::move(message));
}

// ---------------------------------------------------------------------------
// Warnings.

void log_warning(std::string_view text) noexcept {
  PyRef logging = PyRef::steal(PyImport_ImportModule("logging"));
  PyRef logger =
      logging ? PyRef::steal(PyObject_CallMethod(logging.get(), "getLogger", "s", "ostrevane"))
              : PyRef();
  PyRef message = logger ? PyRef::steal(str_from(text)) : PyRef();
  PyRef result =
      message ? PyRef::steal(PyObject_CallMethod(logger.get(), "warning", "O", message.get()))
              : PyRef();
  if (!result) PyErr_Clear();
}

}  // namespace ostrevane::ffi
