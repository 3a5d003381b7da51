// Input acquisition: the `data` argument of loads, loads_all, schema_ref and
// yaml_version as one UTF-8 text.
//
// A str is used as the text it is (its UTF-8 form, byte-order mark kept); bytes,
// bytearray and buffers of single unsigned bytes go through input byte
// decoding. Anything else is the TypeError that names loads() for all four.
#pragma once

#include <string>
#include <string_view>

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// The text of one call. It either owns its bytes or views the storage of an
// immutable argument (a str's UTF-8 form, or a bytes object that already was
// valid UTF-8), so the `data` object must outlive it; arguments of a call do.
// The view stays valid while the interpreter lock is released.
class InputText {
 public:
  InputText() = default;
  static InputText owning(std::string text) {
    InputText t;
    t.owned_ = std::move(text);
    t.view_ = t.owned_;
    return t;
  }
  static InputText viewing(std::string_view text) {
    InputText t;
    t.view_ = text;
    return t;
  }
  InputText(InputText&& other) noexcept { *this = std::move(other); }
  InputText& operator=(InputText&& other) noexcept {
    const bool owns = other.view_.data() == other.owned_.data();
    owned_ = std::move(other.owned_);
    view_ = owns ? std::string_view(owned_) : other.view_;
    other.view_ = {};
    return *this;
  }

  [[nodiscard]] std::string_view view() const noexcept { return view_; }

 private:
  std::string owned_;
  std::string_view view_;
};

// Lock held. `data` is borrowed.
[[nodiscard]] PyResult<InputText> read_input_text(PyObject* data);

}  // namespace ostrevane::ffi
