// JSON pointers into a schema, as messages spell them ("#/properties/a/0").
#pragma once

#include <string>
#include <string_view>

namespace ostrevane::schema {

// Appends "/" and `segment`, "~" written "~0" and "/" written "~1", cut at
// limits::kQuotedKeyChars characters with "..." (a key can be any size, the
// message stays readable).
void append_pointer_segment(std::string& out, std::string_view segment);

}  // namespace ostrevane::schema
