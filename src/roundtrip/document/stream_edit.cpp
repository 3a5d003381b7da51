#include "roundtrip/document/stream_edit.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "emit_util/line_breaks.hpp"
#include "roundtrip/edit.hpp"
#include "scanner/yaml_directive.hpp"

namespace ostrevane {
namespace {

// Whether empty documents that loading left out stand before `root`.
bool has_skipped_before(const YamlNode& root) noexcept {
  return root.skipped_before_count() != 0;
}

// The %YAML directive of the stream whose first root is `head`: the one on
// the first of the empty documents left out before it, else its own when
// nothing stands before it (after such documents, its own is read by no one
// but the document itself).
std::optional<std::string> stream_version(const YamlNode& head) {
  const std::vector<std::string>& own = head.directives();
  if (has_skipped_before(head)) {
    if (head.extras()->version_above_skipped && !own.empty()) return own.front();
    return std::nullopt;
  }
  for (const std::string& directive : own) {
    if (is_yaml_directive(directive)) return directive;
  }
  return std::nullopt;
}

// Makes `head`, the stream's new first root, declare `version` (the old
// first root's stream directive, or none) at the head of the stream. Before
// the empty documents left out in front of it, if any (its own directives
// after them stay); else in place of its own %YAML directive, which did not
// decide how the stream read, and at the head it would. Nothing is marked:
// a root takes the head only when the loaded text is dropped or the root is
// new.
void declare_stream_version(YamlNode& head, std::optional<std::string> version) {
  if (has_skipped_before(head)) {
    NodeExtras& extras = head.edit_extras();
    std::vector<std::string>& directives = extras.directives;
    if (extras.version_above_skipped && !directives.empty()) {
      directives.erase(directives.begin());
      extras.version_above_skipped = false;
    }
    if (version) {
      directives.insert(directives.begin(), std::move(*version));
      extras.version_above_skipped = true;
    }
    return;
  }
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
