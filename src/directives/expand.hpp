// Directive expansion: the loaded text and every included file, composed
// into node trees whose directive nodes are replaced by what they name.
//
// Input: the IncludeContext of the call (switches, confinement root, the
// file table to fill), the loaded UTF-8 text and the optional root path the
// caller gave. Output: the expanded document roots, or the first
// IncludeError, which ends the whole expansion (nothing partial survives;
// the context keeps every file registered so far).
//
// Directives, by tag text exactly as composed, while their switch is on:
// "!include" (a file's first document), the four "!include_dir_" forms
// (include_dir.hpp), "!secret" (secrets.hpp), "!env_var" (a variable of the
// process environment, with an optional default). A directive node is replaced whole: its tag
// does not reach the result; its line's comments and its anchor move to the produced node (the
// anchor onto its source, so the node keeps its own). Mapping keys are never expanded.
//
// Nodes are moved, never copied; every recursive step runs through
// with_stack_guard, so nesting and include chains of any depth are safe.
// Files are read through the context's RootDirectory, never outside the
// include root. Calls no Python code; getenv runs on the caller's thread,
// which holds the interpreter lock.
#pragma once

#include <optional>
#include <string_view>

#include "directives/include_context.hpp"
#include "directives/include_error.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

using IncludeChain = std::vector<IncludeFrame>;

// Registers `text` as file 0 (named `root_path`, else include_dir joined
// with "<root>"), composes it and expands every document in order.
[[nodiscard]] Result<NodeList, IncludeError> expand_root_document(
    IncludeContext& ctx, std::string_view text, const std::optional<std::string>& root_path);

// One node and everything below it, under `chain`.
[[nodiscard]] Result<YamlNode, IncludeError> expand_config_tags_guarded(YamlNode node,
                                                                        IncludeContext& ctx,
                                                                        const IncludeChain& chain);

// The path `candidate` resolves to, confined to ctx.include_root. When the
// path could not be resolved, `unresolved` holds the error text that reading
// it reports.
struct ConfinedPath {
  std::string path;
  std::optional<std::string> unresolved;
};
[[nodiscard]] Result<ConfinedPath, IncludeError> confine_include_path(const IncludeContext& ctx,
                                                                      std::string candidate,
                                                                      std::string_view argument,
                                                                      std::uint32_t file_id,
                                                                      const IncludeChain& chain);

// "!include" and the four "!include_dir_" tags; not "!secret", "!env_var".
[[nodiscard]] bool is_include_tag(const std::optional<std::string>& tag) noexcept;

}  // namespace ostrevane
