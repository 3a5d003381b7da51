// Small text tests shared by the YAML 1.2 and YAML 1.1 rules.
#pragma once

#include <string_view>

namespace ostrevane::detail {

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The standard tags the resolver knows, by their name after "!!" or
// "tag:yaml.org,2002:".
enum class TagName { Null, Bool, Int, Float, Merge, Other };

TagName standard_tag(std::string_view tag) noexcept;

// "", "~", "null", "Null", "NULL".
bool is_null_word(std::string_view s) noexcept;

}  // namespace ostrevane::detail
