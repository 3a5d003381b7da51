#include "ffi/args.hpp"

#include <charconv>
#include <string_view>
#include <vector>

namespace ostrevane::ffi {
namespace {

std::string decimal(std::uint64_t n) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, end);
}

std::string call_name(const Signature& sig) { return std::string(sig.function) + "()"; }

PyError type_error(std::string message) {
  return PyError::builtin(PyExc_TypeError, std::move(message));
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
std::string quoted_list(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

std::string utf8_of(PyObject* name) {
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &len) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return "?";
  }
  return std::string(utf8, static_cast<std::size_t>(len));
}

}  // namespace

PyError not_an_instance_error(PyObject* obj, const char* expected) {
  std::string message = "'";
  PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(obj)));
  message += name ? utf8_of(name.get()) : std::string(Py_TYPE(obj)->tp_name);
  if (!name) PyErr_Clear();
  message += "' object is not an instance of '";
  message += expected;
  message += '\'';
  return type_error(std::move(message));
}

PyResult<std::string> text_argument(PyObject* obj, const char* name) {
  PyResult<std::string> text = [&]() -> PyResult<std::string> {
    if (!PyUnicode_Check(obj)) return std::unexpected(not_an_instance_error(obj, "str"));
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
    if (utf8 == nullptr) return std::unexpected(PyError::fetch());
    return std::string(utf8, static_cast<std::size_t>(len));
  }();
  if (!text) text.error().add_processing_note(name);
  return text;
}

PyResult<std::optional<std::string>> text_or_none_argument(PyObject* obj, const char* name) {
  if (obj == Py_None) return std::nullopt;
  return OSV_TRY(text_argument(obj, name));
}

PyResult<std::uint64_t> option_to_mask(PyObject* obj) {
  PyRef index;
  if (!PyLong_Check(obj)) {
    index = PyRef::steal(PyNumber_Index(obj));
    if (!index) return std::unexpected(PyError::fetch());
    obj = index.get();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return std::unexpected(PyError::fetch());
  }
  return static_cast<std::uint64_t>(value);
}

PyResult<std::string> path_from_object(PyObject* obj) {
  PyRef fspath = PyRef::steal(PyOS_FSPath(obj));
  if (!fspath) return std::unexpected(PyError::fetch());
  if (!PyUnicode_Check(fspath.get())) {
    return std::unexpected(not_an_instance_error(fspath.get(), "str"));
  }
  PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(fspath.get()));
  if (!encoded) return std::unexpected(PyError::fetch());
  return std::string(PyBytes_AS_STRING(encoded.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
}

PyResult<PyObject*> extract_tags(PyObject* tags) {
  if (tags == nullptr) return nullptr;
  if (PyDict_Check(tags)) return tags;
  return std::unexpected(
      type_error("tags must be a dict (or Tags) mapping each tag name to a callable"));
}

PyResult<CallArgs> parse_call(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  CallArgs out;
  const std::size_t nkw = sig.keywords.size();

  if (nargs > 1) {
    return std::unexpected(type_error(call_name(sig) + " takes 1 positional arguments but " +
                                      decimal(static_cast<std::uint64_t>(nargs)) +
                                      (nargs == 1 ? " was" : " were") + " given"));
  }
  if (nargs == 1) out.positional_ = args[0];

  // Keyword values follow the positional ones in the vector, in the order of
  // `kwnames`. A None value counts as absent; a name given twice is an error
  // even when one of the values is None.
  std::array<bool, kMaxKeywords> seen{};
  std::vector<std::string> positional_by_keyword;
  const Py_ssize_t count = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, k);
    PyObject* value = args[nargs + k];
    std::size_t i = 0;
    while (i < nkw && !PyUnicode_EqualToUTF8(name, sig.keywords[i].name)) ++i;
    if (i < nkw) {
      if (seen[i]) {
        return std::unexpected(type_error(call_name(sig) + " got multiple values for argument '" +
                                          sig.keywords[i].name + "'"));
      }
      seen[i] = true;
      out.objects_[i] = value == Py_None ? nullptr : value;
      continue;
    }
    if (PyUnicode_EqualToUTF8(name, sig.positional)) {
      positional_by_keyword.push_back(sig.positional);
      continue;
    }
    return std::unexpected(
        type_error(call_name(sig) + " got an unexpected keyword argument '" + utf8_of(name) + "'"));
  }
  if (!positional_by_keyword.empty()) {
    return std::unexpected(type_error(
        call_name(sig) + " got some positional-only arguments passed as keyword arguments: " +
        quoted_list(positional_by_keyword)));
  }
  if (out.positional_ == nullptr) {
    return std::unexpected(type_error(call_name(sig) + " missing 1 required positional argument: " +
                                      quoted_list({sig.positional})));
  }

  for (std::size_t i = 0; i < nkw; ++i) {
    PyObject* value = out.objects_[i];
    if (value == nullptr) continue;
    const Param& param = sig.keywords[i];
    std::optional<PyError> failure;
    switch (param.kind) {
      case ArgKind::Object:
        break;
      case ArgKind::Mask: {
        auto mask = option_to_mask(value);
        if (mask) {
          out.masks_[i] = *mask;
        } else {
          failure.emplace(std::move(mask.error()));
        }
        break;
      }
      case ArgKind::Path: {
        auto path = path_from_object(value);
        if (path) {
          out.paths_[i] = std::move(*path);
        } else {
          failure.emplace(std::move(path.error()));
        }
        break;
      }
      case ArgKind::Dict:
        if (!PyDict_Check(value)) failure.emplace(not_an_instance_error(value, "dict"));
        break;
    }
    if (failure) {
      failure->add_processing_note(param.name);
      return std::unexpected(std::move(*failure));
    }
  }
  return out;
}

}  // namespace ostrevane::ffi
