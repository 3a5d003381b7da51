#include "directives/include_error.hpp"

#include <charconv>

namespace ostrevane {

std::string fmt_include_stack(const IncludeError& error) {
  std::string out;
  out.reserve(error.message.size() + error.file.size() + 4 + error.include_chain.size() * 40);
  out += error.message;
  out += " in ";
  out += error.file;
  for (const IncludeFrame& frame : error.include_chain) {
    out += "\n  included from ";
    out += frame.path;
    out += ", line ";
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::uint64_t{frame.line} + 1);
    out.append(buf, static_cast<std::size_t>(end - buf));
  }
  return out;
}

}  // namespace ostrevane
