// Include paths as byte texts.
//
// Input: paths exactly as directives, arguments and the C library give them
// (bytes, not necessarily UTF-8). Output: new byte texts; nothing here
// touches the file system. std::filesystem::path is not used because its
// normalisation keeps "." and ".." in places our confinement must not.
//
// Component rules: a leading "/" is the root component; runs of "/" are one
// separator; a "." anywhere but at the very start is dropped, a leading "."
// is a current-directory component; ".." is a parent component; a trailing
// "/" adds nothing; every other piece is a name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

enum class PathComponentKind : unsigned char { Root, Current, Parent, Name };

struct PathComponent {
  PathComponentKind kind;
  std::string_view text;  // a view into the split path
};

// The components of `path`, viewing it.
[[nodiscard]] std::vector<PathComponent> split_path(std::string_view path);

// "..": removes the last component (never above "/", and a relative path
// loses leading ".."); ".": skipped. The empty path and "." give "".
[[nodiscard]] std::string normalize_path_lexically(std::string_view path);

// True when the components of `root` are, one for one, the first
// components of `path`. Every path lies under the empty root; an absolute
// path never lies under a relative root.
[[nodiscard]] bool path_lies_under(std::string_view path, std::string_view root);

// Component-by-component equality ("a//b/" equals "a/b").
[[nodiscard]] bool paths_equal(std::string_view a, std::string_view b);

// A text that two paths share exactly when paths_equal holds for them: the
// components joined with single separators. For hash keys.
[[nodiscard]] std::string path_key(std::string_view path);

// `tail` after `base`: an absolute `tail` replaces the base; otherwise a "/"
// goes between them unless the base is empty or already ends with "/".
[[nodiscard]] std::string join_path(std::string_view base, std::string_view tail);

// The parent of `path` when its last component is a name, "." or "..":
// everything before that component, without trailing separators (but "/"
// stays "/"); the parent of a bare name is "". Nothing for "/" and "".
[[nodiscard]] bool parent_path(std::string_view path, std::string& parent);

// `bytes` as UTF-8 text: each byte that does not belong to a valid sequence
// becomes U+FFFD. For names the file system gives.
[[nodiscard]] std::string utf8_lossy(std::string_view bytes);

}  // namespace ostrevane
