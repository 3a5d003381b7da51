#include "ffi/input.hpp"

#include "scanner/input_decode.hpp"

namespace ostrevane::ffi {
namespace {

constexpr const char* kInputTypeMessage =
    "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)";

PyError input_type_error() { return PyError::builtin(PyExc_TypeError, kInputTypeMessage); }

PyResult<InputText> decoded(Result<std::string, InputDecodeError> text) {
  if (!text) return std::unexpected(decode_error(std::move(text.error().message)));
  return InputText::owning(std::move(*text));
}

// Single unsigned bytes: "B" or "c", optionally after a byte-order prefix
// (which means nothing for one-byte items); no format at all means "B".
bool single_byte_format(const char* format) {
  if (format == nullptr) return true;
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') {
    ++format;
  }
  return (format[0] == 'B' || format[0] == 'c') && format[1] == '\0';
}

class BufferView {
 public:
  BufferView() = default;
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() {
    if (held_) PyBuffer_Release(&view_);
  }
  bool acquire(PyObject* obj) {
    held_ = PyObject_GetBuffer(obj, &view_, PyBUF_FULL_RO) == 0;
    return held_;
  }
  Py_buffer& get() { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace

PyResult<InputText> read_input_text(PyObject* data) {
  if (PyUnicode_Check(data)) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(data, &len);
    if (utf8 == nullptr) return std::unexpected(PyError::fetch());
    return InputText::viewing(std::string_view(utf8, static_cast<std::size_t>(len)));
  }
  if (PyBytes_Check(data)) {
    // bytes are immutable: valid UTF-8 is used in place.
    const std::string_view bytes(PyBytes_AS_STRING(data),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    if (detect_input_encoding(bytes) == InputEncoding::Utf8) {
      auto valid = validate_utf8(bytes);
      if (!valid) return std::unexpected(decode_error(std::move(valid.error().message)));
      return InputText::viewing(bytes);
    }
    return decoded(decode_input_bytes(bytes));
  }
  if (PyByteArray_Check(data)) {
    // A bytearray can change under a released lock: decode a copy.
    std::string copy(PyByteArray_AS_STRING(data),
                     static_cast<std::size_t>(PyByteArray_GET_SIZE(data)));
    return decoded(decode_input_bytes(std::move(copy)));
  }
  BufferView buffer;
  if (!buffer.acquire(data)) {
    PyErr_Clear();
    return std::unexpected(input_type_error());
  }
  Py_buffer& view = buffer.get();
  if (view.shape == nullptr || view.strides == nullptr || view.itemsize != 1 ||
      !single_byte_format(view.format)) {
    return std::unexpected(input_type_error());
  }
  std::string copy(static_cast<std::size_t>(view.len), '\0');
  if (PyBuffer_ToContiguous(copy.data(), &view, view.len, 'C') < 0) {
    return std::unexpected(PyError::fetch());
  }
  return decoded(decode_input_bytes(std::move(copy)));
}

}  // namespace ostrevane::ffi
