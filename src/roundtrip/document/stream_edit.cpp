#include "roundtrip/document/stream_edit.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit_util/line_breaks.hpp"
#include "roundtrip/edit.hpp"

namespace ostrevane {
namespace {

// A "YAML version" directive, as a root keeps it (without its '%').
bool is_yaml_directive(std::string_view directive) noexcept {
  return directive.size() > 4 && directive.starts_with("YAML") &&
         (directive[4] == ' ' || directive[4] == '\t');
}

// The %YAML directive of the stream whose first root is `head`.
std::optional<std::string> stream_version(const YamlNode& head) {
  for (const std::string& directive : head.directives()) {
    if (is_yaml_directive(directive)) return directive;
  }
  return std::nullopt;
}

// Makes `head`, the stream's new first root, declare `version` (the old
// first root's %YAML directive, or none): its own %YAML directive did not
// decide how the stream read, and at the head it would. Nothing is marked:
// a root takes the head only when the loaded text is dropped or the root is
// new.
void declare_stream_version(YamlNode& head, std::optional<std::string> version) {
  const std::vector<std::string>& own = head.directives();
  const auto found = std::find_if(own.begin(), own.end(),
                                  [](const std::string& d) { return is_yaml_directive(d); });
  if (found == own.end() && !version) return;
  const auto at = found - own.begin();
  std::vector<std::string>& directives = head.edit_extras().directives;
  if (!version) {
    directives.erase(directives.begin() + at);
  } else if (found != own.end()) {
    directives[static_cast<std::size_t>(at)] = std::move(*version);
  } else {
    directives.insert(directives.begin(), std::move(*version));
  }
}

}  // namespace

void replace_stream_document(DocumentData& data, std::size_t index, YamlNode root) {
  std::optional<std::string> version;
  if (index == 0) version = stream_version(data.roots.front());
  replace_node(data.roots[index], std::move(root), CarryOver::Nothing);
  if (index == 0) declare_stream_version(data.roots.front(), std::move(version));
}

void remove_stream_document(DocumentData& data, std::size_t index) {
  std::optional<std::string> version;
  if (index == 0) version = stream_version(data.roots.front());
  data.roots.erase(data.roots.begin() + static_cast<std::ptrdiff_t>(index));
  if (index == 0 && !data.roots.empty()) {
    declare_stream_version(data.roots.front(), std::move(version));
  }
  if (data.source_text) {
    data.line_break = first_line_break(*data.source_text);
    data.source_text.reset();
  }
}

}  // namespace ostrevane
