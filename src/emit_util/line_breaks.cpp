#include "emit_util/line_breaks.hpp"

#include <cstring>

namespace ostrevane {

std::string_view first_line_break(std::string_view text) noexcept {
  const std::size_t at = text.find_first_of("\r\n");
  if (at == std::string_view::npos || text[at] == '\n') return "\n";
  return at + 1 < text.size() && text[at + 1] == '\n' ? std::string_view("\r\n")
                                                      : std::string_view("\r");
}

void use_line_break(OutputBuffer& out, std::string_view line_break) {
  const std::string_view text = out.view();
  // The common case, an LF text written as LF, costs one scan.
  if (line_break == "\n" && std::memchr(text.data(), '\r', text.size()) == nullptr) return;
  OutputBuffer rewritten(text.size() + text.size() / 16 + 16);
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t at = text.find_first_of("\r\n", from);
    if (at == std::string_view::npos) {
      rewritten.append(text.substr(from));
      break;
    }
    rewritten.append(text.substr(from, at - from));
    rewritten.append(line_break);
    from = at + 1;
    if (text[at] == '\r' && from < text.size() && text[from] == '\n') ++from;
  }
  out = std::move(rewritten);
}

}  // namespace ostrevane
