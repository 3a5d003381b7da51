#include "schema/pointer.hpp"

#include "util/limits.hpp"

namespace ostrevane::schema {

void append_pointer_segment(std::string& out, std::string_view segment) {
  out += '/';
  std::size_t chars = 0;
  for (std::size_t i = 0; i < segment.size(); ++i) {
    const char c = segment[i];
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && chars++ == limits::kQuotedKeyChars) {
      out += "...";
      return;
    }
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
}

}  // namespace ostrevane::schema
