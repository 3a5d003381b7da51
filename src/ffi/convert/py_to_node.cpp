#include "ffi/convert/py_to_node.hpp"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit_util/scalar_text.hpp"
#include "roundtrip/passes/passes.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane::ffi {
namespace {

[[nodiscard]] std::unexpected<PyError> fetched() { return std::unexpected(PyError::fetch()); }

YamlNode plain(std::string text) { return YamlNode::scalar(std::move(text), ScalarStyle::Plain); }

YamlNode integer_node(long long n) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  return plain(std::string(digits, static_cast<std::size_t>(end - digits)));
}

// A failed protocol call only moves the tests on; an interrupt or the
// internal fault does not.
PyResult<void> drop_conversion_error() {
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return fetched();
  PyErr_Clear();
  return {};
}

// numpy.bool_ (numpy.bool in numpy 2): a static type, so tp_name carries
// the module.
bool is_numpy_bool(PyTypeObject* type) noexcept {
  const std::string_view name = type->tp_name;
  return name == "numpy.bool_" || name == "numpy.bool";
}

// Through the index protocol: a 64-bit int as its digits, a larger one as
// the decimal digits of the int it gives (never the object's own __str__,
// never a float). Nothing when the object has no integer form.
PyResult<std::optional<YamlNode>> integer_form(PyObject* value) {
  if (PyLong_CheckExact(value)) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) {
      if (n == -1 && PyErr_Occurred()) return fetched();
      return integer_node(n);
    }
  } else if (!PyIndex_Check(value)) {
    return std::nullopt;
  }
  PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) {
    OSV_TRY(drop_conversion_error());
    return std::nullopt;
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow == 0) {
    if (n == -1 && PyErr_Occurred()) return fetched();
    return integer_node(n);
  }
  PyRef text = PyRef::steal(PyObject_Str(index.get()));
  if (!text) return fetched();
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
  if (utf8 == nullptr) return fetched();
  return plain(std::string(utf8, static_cast<std::size_t>(len)));
}

// Through the float protocol (__float__, or __index__ when that failed
// above): the value as format_float writes it. Nothing for other objects.
PyResult<std::optional<YamlNode>> float_form(PyObject* value) {
  double d = 0;
  if (PyFloat_CheckExact(value)) {
    d = PyFloat_AS_DOUBLE(value);
  } else {
    const PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
    if (number == nullptr || (number->nb_float == nullptr && number->nb_index == nullptr)) {
      return std::nullopt;
    }
    d = PyFloat_AsDouble(value);
    if (d == -1.0 && PyErr_Occurred()) {
      OSV_TRY(drop_conversion_error());
      return std::nullopt;
    }
  }
  return plain(format_float(d));
}

}  // namespace

PyError unconvertible_value_error(PyObject* value) {
  PyRef text = PyRef::steal(PyObject_Repr(value));
  if (!text) return PyError::fetch();
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len);
  if (utf8 == nullptr) return PyError::fetch();
  std::string message = "cannot convert ";
  message.append(utf8, static_cast<std::size_t>(len));
  message += " to a YAML node";
  return PyError::builtin(PyExc_TypeError, std::move(message));
}

namespace {

// Owned references, released together.
class RefList {
 public:
  explicit RefList(std::size_t capacity) { refs_.reserve(capacity); }
  RefList(const RefList&) = delete;
  RefList& operator=(const RefList&) = delete;
  ~RefList() {
    for (PyObject* obj : refs_) Py_DECREF(obj);
  }
  void push(PyObject* borrowed) {
    Py_INCREF(borrowed);
    refs_.push_back(borrowed);
  }
  [[nodiscard]] const std::vector<PyObject*>& items() const noexcept { return refs_; }

 private:
  std::vector<PyObject*> refs_;
};

class Converter {
 public:
  explicit Converter(const PyToNodeSettings& settings) : settings_(settings) {}

  PyResult<YamlNode> guarded(PyObject* value, std::uint32_t depth) {
    return with_stack_guard([&] { return convert(value, depth); });
  }

 private:
  PyResult<YamlNode> convert(PyObject* value, std::uint32_t depth) {
    if (depth >= limits::kMaxDepth) {
      return std::unexpected(PyError::builtin(
          PyExc_ValueError, "value is too deeply nested to assign (possible self-reference)"));
    }
    PyTypeObject* type = Py_TYPE(value);
    // The exact common types first: none of them meets an earlier rule.
    if (type == &PyUnicode_Type) return string(value);
    if (type == &PyList_Type) return sequence(value, depth);
    if (type == &PyDict_Type) return mapping(value, depth);
    if (value == Py_None) {
      YamlNode null = YamlNode::null();
      null.synthetic = true;
      return null;
    }
    if (PyBool_Check(value) || is_numpy_bool(type)) {
      const int truth = PyObject_IsTrue(value);
      if (truth < 0) return fetched();
      return plain(truth ? "true" : "false");
    }
    if (std::optional<YamlNode> node = OSV_TRY(integer_form(value))) return std::move(*node);
    if (std::optional<YamlNode> node = OSV_TRY(float_form(value))) return std::move(*node);
    if (PyUnicode_Check(value)) return string(value);
    if (PyList_Check(value)) return sequence(value, depth);
    if (PyDict_Check(value)) return mapping(value, depth);
    return std::unexpected(unconvertible_value_error(value));
  }

  PyResult<YamlNode> string(PyObject* value) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &len);
    if (utf8 == nullptr) {
      // A lone surrogate has no UTF-8 form: refused like any other value.
      OSV_TRY(drop_conversion_error());
      return std::unexpected(unconvertible_value_error(value));
    }
    const std::string_view text(utf8, static_cast<std::size_t>(len));
    return YamlNode::scalar(std::string(text),
                            choose_assigned_style(text, settings_.prefer_double_quotes,
                                                  settings_.mode, settings_.timestamps));
  }

  PyResult<YamlNode> sequence(PyObject* list, std::uint32_t depth) {
    const Py_ssize_t size = PyList_GET_SIZE(list);
    RefList items(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size && i < PyList_GET_SIZE(list); ++i) {
      items.push(PyList_GET_ITEM(list, i));
    }
    NodeList nodes;
    nodes.reserve(items.items().size());
    for (PyObject* item : items.items()) nodes.push_back(OSV_TRY(guarded(item, depth + 1)));
    return YamlNode::sequence(std::move(nodes));
  }

  PyResult<YamlNode> mapping(PyObject* dict, std::uint32_t depth) {
    // PyDict_Next runs no Python code, so the dict cannot change meanwhile.
    const Py_ssize_t size = PyDict_GET_SIZE(dict);
    RefList pairs(2 * static_cast<std::size_t>(size));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
      pairs.push(key);
      pairs.push(value);
    }
    NodeList nodes;
    nodes.reserve(pairs.items().size());
    for (PyObject* obj : pairs.items()) nodes.push_back(OSV_TRY(guarded(obj, depth + 1)));
    return YamlNode::mapping(std::move(nodes));
  }

  const PyToNodeSettings& settings_;
};

}  // namespace

PyResult<YamlNode> py_to_node(PyObject* value, const PyToNodeSettings& settings) {
  Converter converter(settings);
  return converter.guarded(value, 0);
}

}  // namespace ostrevane::ffi
