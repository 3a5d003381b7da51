// Errors to Python exceptions, and warnings to logging.
//
// Inside src/ffi a failure travels as a PyError value until the entry guard
// raises it; no Python error indicator stays set between calls. A PyError is
// one of:
// - an exception object already made (fetched from the interpreter, or
//   materialised so attributes could be set on it);
// - lazy: a class of the package (ExcClass) or a built-in exception type plus
//   an owned message, made into an object only when raised;
// - an internal fault: raised as PanicException (derived from BaseException)
//   with the fault's text;
// - out of memory: raised as MemoryError.
//
// The converters below turn the records of the core (scanner, decoder,
// directives, writers) into PyErrors. Every positioned record has a message
// and a span with 0-based line and column; the converters are templates over
// that shape, so each stage's own record plugs in without glue.
//
// The fourteen exception classes live in the Python module
// ostrevane.exceptions; each is imported by name on first use and kept for
// the process (first store wins; nobody waits, so a re-entrant fetch is safe).
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directives/include_error.hpp"
#include "ffi/runtime.hpp"
#include "util/result.hpp"

namespace ostrevane::ffi {

enum class ExcClass : std::uint8_t {
  ParseError,
  DuplicateKeyError,
  ComplexKeyError,
  DecodeError,
  EncodeError,
  UnserializableError,
  SchemaError,
  IncludeNotFoundError,
  CircularIncludeError,
  IncludeDepthError,
  IncludeConfinementError,
  SecretNotFoundError,
  EnvVarError,
  IncludeError,
};
inline constexpr std::size_t kExcClassCount = 14;

// The Python name of a class ("OstrevaneParseError").
[[nodiscard]] const char* exc_class_name(ExcClass cls) noexcept;

class [[nodiscard]] PyError {
 public:
  // Takes the exception raised now (the indicator must be set) and clears it.
  static PyError fetch();
  // Takes over an exception object.
  static PyError from_object(PyRef exc);
  // A lazy error of a package class.
  static PyError lazy(ExcClass cls, std::string message);
  // A lazy error of a built-in exception type (borrowed, e.g. PyExc_TypeError).
  static PyError builtin(PyObject* type, std::string message);
  // An internal fault: raised as PanicException.
  static PyError fault(std::string message);
  static PyError no_memory() noexcept;

  PyError(PyError&&) noexcept = default;
  PyError& operator=(PyError&&) noexcept = default;

  // Lock held. Makes the exception object if it is not made yet; returns it
  // (borrowed, owned by this error) or nullptr when this error is (or became,
  // because its class could not be fetched) an internal fault or out of
  // memory, which carry no object.
  PyObject* materialise();

  // Lock held. Sets this error as the raised exception; consumes it.
  void raise() &&;

  // Lock held. Attaches the note "while processing '{name}'" with the
  // exception's add_note method; a failure of add_note is ignored.
  void add_processing_note(std::string_view param_name);

  // True when the error is (or materialises to) an instance of `type`.
  [[nodiscard]] bool matches(PyObject* type);

  [[nodiscard]] bool is_fault() const noexcept { return kind_ == Kind::Fault; }
  [[nodiscard]] const std::string& message() const noexcept { return message_; }

 private:
  enum class Kind : std::uint8_t { Object, Lazy, Builtin, Fault, NoMemory };
  PyError(Kind kind, ExcClass cls, PyObject* type, std::string message, PyRef exc) noexcept
      : kind_(kind), cls_(cls), builtin_type_(type), message_(std::move(message)),
        exc_(std::move(exc)) {}

  Kind kind_;
  ExcClass cls_;
  PyObject* builtin_type_;  // static type object, never released
  std::string message_;
  PyRef exc_;
};

template <class T>
using PyResult = Result<T, PyError>;

// Raises PanicException with `message` as the current exception. Lock held.
void raise_panic(std::string_view message) noexcept;

// Borrowed PanicException class, created on first use; nullptr with an
// exception set when it cannot be made.
[[nodiscard]] PyObject* panic_exception_type() noexcept;

// Borrowed class object of the package, fetched on first use, or the fault
// "failed to import exception ostrevane.exceptions.{}: {}".
[[nodiscard]] PyResult<PyObject*> exception_class(ExcClass cls);

// A record with a message and a span whose line and column count from 0.
template <class E>
concept LocatedRecord = requires(const E& e) {
  { e.message } -> std::convertible_to<std::string_view>;
  { e.span.line } -> std::convertible_to<std::uint32_t>;
  { e.span.column } -> std::convertible_to<std::uint32_t>;
};

// "{message} at line {line + 1}, column {column + 1}" as `cls`, with the
// attributes file (the text or None), line and column (1-based).
[[nodiscard]] PyError located_error(ExcClass cls, std::string_view message, std::uint32_t line,
                                    std::uint32_t column, std::optional<std::string_view> file);

template <LocatedRecord E>
[[nodiscard]] PyError scan_error_to_py(const E& error) {
  return located_error(ExcClass::ParseError, error.message, error.span.line, error.span.column,
                       std::nullopt);
}

// `category`: 0 syntax or structure, 1 duplicate key, 2 complex key. `file`
// names an included file whose text failed; absent for the loaded text.
template <LocatedRecord E>
[[nodiscard]] PyError decode_error_to_py(const E& error,
                                         std::optional<std::string_view> file = std::nullopt) {
  const auto category = static_cast<unsigned>(error.category);
  const ExcClass cls = category == 1   ? ExcClass::DuplicateKeyError
                       : category == 2 ? ExcClass::ComplexKeyError
                                       : ExcClass::ParseError;
  return located_error(cls, error.message, error.span.line, error.span.column, file);
}

template <LocatedRecord E>
[[nodiscard]] PyError duplicate_key_error_to_py(const E& error) {
  return located_error(ExcClass::DuplicateKeyError, error.message, error.span.line,
                       error.span.column, std::nullopt);
}

// OstrevaneSchemaError "schema validation failed: {message} at {path} (line
// {line + 1}, column {column + 1})" with the attributes schema_path, line and
// column (1-based); an attribute that cannot be set is left out.
[[nodiscard]] PyError schema_error_to_py(std::string_view message, std::string_view path,
                                         std::uint32_t line, std::uint32_t column);

// The exception of an include failure; the record is only read.
[[nodiscard]] PyError include_error_to_py(const IncludeError& error);

// Lazy errors of the serialisers and of input decoding.
[[nodiscard]] PyError encode_error(std::string message);
[[nodiscard]] PyError unserializable_error(std::string message);
[[nodiscard]] PyError too_deep_error();
[[nodiscard]] PyError decode_error(std::string message);

// Path bytes as a str, invalid UTF-8 replaced by U+FFFD. New reference, or
// NULL with an exception set.
[[nodiscard]] PyObject* path_to_str(std::string_view path) noexcept;

// Sends one warning to logging.getLogger("ostrevane").warning. Lock held.
// Never fails: any error on the way is discarded.
void log_warning(std::string_view text) noexcept;

}  // namespace ostrevane::ffi
