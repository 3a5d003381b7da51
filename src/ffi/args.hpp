// Call arguments of the module functions, read by one table-driven parser.
//
// Every module function has one positional-only required parameter and
// keyword-only parameters that default to None; None always means absent. A
// function describes itself with a Signature (its name, the positional name,
// and one Param per keyword with the conversion it needs); parse_call matches
// the interpreter's vectorcall arguments against it, then converts each
// present keyword in signature order. The first failed conversion ends the
// call with the converter's own exception, carrying the note
// "while processing '{name}'".
//
// CallArgs borrows the argument objects from the call: they stay alive for
// the whole call, so nothing is increfed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

enum class ArgKind : std::uint8_t {
  Object,  // taken as it is, nothing checked
  Mask,    // unsigned 64-bit through the integer protocol (option, width)
  Path,    // os.fspath, must give a str, encoded with the file-system encoding
  Dict,    // a dict or subclass, else TypeError
};

struct Param {
  const char* name;
  ArgKind kind;
};

struct Signature {
  const char* function;    // Python name, without "()"
  const char* positional;  // name of the positional-only parameter
  std::span<const Param> keywords;
};

inline constexpr std::size_t kMaxKeywords = 12;

class CallArgs {
 public:
  // The positional argument (borrowed, never NULL).
  [[nodiscard]] PyObject* positional() const noexcept { return positional_; }
  // Keyword `i` of the signature (borrowed), NULL when absent or None.
  [[nodiscard]] PyObject* object(std::size_t i) const noexcept { return objects_[i]; }
  [[nodiscard]] bool has(std::size_t i) const noexcept { return objects_[i] != nullptr; }
  // The converted mask of a Mask keyword; 0 when absent.
  [[nodiscard]] std::uint64_t mask(std::size_t i) const noexcept { return masks_[i]; }
  // The converted path of a Path keyword (file-system bytes).
  [[nodiscard]] const std::optional<std::string>& path(std::size_t i) const noexcept {
    return paths_[i];
  }

 private:
  friend PyResult<CallArgs> parse_call(const Signature&, PyObject* const*, Py_ssize_t, PyObject*);
  PyObject* positional_ = nullptr;
  std::array<PyObject*, kMaxKeywords> objects_{};
  std::array<std::uint64_t, kMaxKeywords> masks_{};
  std::array<std::optional<std::string>, kMaxKeywords> paths_{};
};

// Matches and converts the arguments of a METH_FASTCALL | METH_KEYWORDS call.
[[nodiscard]] PyResult<CallArgs> parse_call(const Signature& sig, PyObject* const* args,
                                            Py_ssize_t nargs, PyObject* kwnames);

// The conversions of the table, usable on their own (no note attached).
[[nodiscard]] PyResult<std::uint64_t> option_to_mask(PyObject* obj);
[[nodiscard]] PyResult<std::string> path_from_object(PyObject* obj);

// TypeError "'{type}' object is not an instance of '{expected}'".
[[nodiscard]] PyError not_an_instance_error(PyObject* obj, const char* expected);

// A str argument's UTF-8 text; anything else is the TypeError above, and a
// failure carries the note "while processing '{name}'".
[[nodiscard]] PyResult<std::string> text_argument(PyObject* obj, const char* name);
// The same where None means no text.
[[nodiscard]] PyResult<std::optional<std::string>> text_or_none_argument(PyObject* obj,
                                                                         const char* name);

// `tags` of loads and loads_all: absent stays absent (NULL); a dict or any
// subclass is returned (borrowed); anything else is a TypeError.
[[nodiscard]] PyResult<PyObject*> extract_tags(PyObject* tags);

}  // namespace ostrevane::ffi
