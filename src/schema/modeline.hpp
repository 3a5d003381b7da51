// Schema reference comment.
//
// Input: a UTF-8 text. Output: the schema reference that the comment block at
// the head of the text declares in the YAML language server's form
// ("# yaml-language-server: $schema=<ref>"), as an owned text, or nothing. Only
// the leading blank and comment lines are read; the reference is returned as
// written, never resolved.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrevane {

[[nodiscard]] std::optional<std::string> find_schema_modeline(std::string_view text);

}  // namespace ostrevane
