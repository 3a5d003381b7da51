// Secrets: `!secret NAME`, a value kept in "secrets.yaml" files.
//
// Input: the IncludeContext of the call, the directive node and the include
// chain it runs under. Output: a copy of the value that the nearest
// "secrets.yaml" defines for NAME, searched from the directory of the file
// holding the directive upward and never above the include root; else a
// Null node plus a MissingReference (deferral on), else the
// SecretNotFound error.
//
// Each candidate is resolved with realpath, confined to the include root
// and read through the context's RootDirectory (regular files only; what
// cannot be read, is not UTF-8 or lies outside counts as absent). Every
// candidate is read and parsed at most once per call: the context's
// SecretsCache keeps its SecretMap, empty ones included, keyed by the
// candidate path compared component by component.
//
// A stored value holds no alias and no anchor: its aliases are expanded
// against its own "secrets.yaml" when the file is read, so that it means
// the same wherever it is used and cannot capture or be captured by the
// anchors of the file that uses it. Every use gets its own copy.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directives/expand.hpp"
#include "directives/include_context.hpp"
#include "directives/include_error.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>()(text);
  }
};

// Secret name (bytes) to its value node as stored.
using SecretMap = std::unordered_map<std::string, YamlNode, TextHash, std::equal_to<>>;

class SecretsCache {
 public:
  // By path_key of the candidate path.
  std::unordered_map<std::string, SecretMap, TextHash, std::equal_to<>> files;
  // Where the search starts for directives of each file id, once known: a
  // realpath per directive would cost more than the rest of its search.
  std::vector<std::optional<std::string>> start_dirs;
};

[[nodiscard]] Result<YamlNode, IncludeError> resolve_secret(IncludeContext& ctx,
                                                            const YamlNode& node,
                                                            const IncludeChain& chain);

// True when the node or any node below it is tagged exactly "!secret".
// Aliases are not followed.
[[nodiscard]] bool subtree_has_secret_tag(const YamlNode& node);

// The text is "debug" in any ASCII letter case.
[[nodiscard]] bool is_debug_value(std::string_view text) noexcept;

}  // namespace ostrevane
