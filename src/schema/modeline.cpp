#include "schema/modeline.hpp"

#include "scanner/yaml_directive.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kServerMarker = "yaml-language-server:";
constexpr std::string_view kSchemaKey = "$schema=";

}  // namespace

std::optional<std::string> find_schema_modeline(std::string_view text) {
  // A byte-order mark is not part of the first line: files saved with one
  // (and every UTF-16 or UTF-32 input, which keeps its mark after decoding)
  // must find a reference on their first line too.
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view{} : text.substr(lf + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = trim_white_space_front(line);
    if (line.empty()) continue;
    if (line.front() != '#') return std::nullopt;
    line = trim_white_space_front(line.substr(1));
    if (!line.starts_with(kServerMarker)) continue;
    line = trim_white_space_front(line.substr(kServerMarker.size()));
    if (!line.starts_with(kSchemaKey)) continue;
    line = trim_white_space_back(trim_white_space_front(line.substr(kSchemaKey.size())));
    if (!line.empty()) return std::string(line);
  }
  return std::nullopt;
}

}  // namespace ostrevane
