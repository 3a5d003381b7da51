#include "schema/modeline.hpp"

#include "scanner/yaml_directive.hpp"

namespace ostrevane {
namespace {

constexpr std::string_view kServerMarker = "yaml-language-server:";
constexpr std::string_view kSchemaKey = "$schema=";

}  // namespace

std::optional<std::string> find_schema_modeline(std::string_view text) {
  HeadLines lines(text);
  while (const std::optional<std::string_view> next = lines.next()) {
    std::string_view line = *next;
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
