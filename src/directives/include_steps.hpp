// The steps every file directive shares: reading the argument, the depth
// limit, the path a directive names, loading one file, and the helpers that
// build errors and result nodes.
//
// Input: the IncludeContext of the call, the directive node and the include
// chain it runs under. Output: texts, paths, loaded documents or the
// IncludeError that ends the expansion. `!include` (expand.cpp), the
// directory directives (include_dir.cpp) and `!secret` (secrets.cpp) are
// built from these; none keeps a copy of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "directives/include_context.hpp"
#include "directives/include_error.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

[[nodiscard]] ErrorSpan error_span(const Span& span) noexcept;

[[nodiscard]] IncludeError make_include_error(IncludeErrorKind kind, std::string message,
                                              std::string file, const IncludeChain& chain,
                                              std::optional<ErrorSpan> span = std::nullopt);

// "{head}'{argument}'{tail}".
[[nodiscard]] std::string quoted_message(std::string_view head, std::string_view argument,
                                         std::string_view tail);

// "cannot read included file '{argument}': {why}".
[[nodiscard]] std::string cannot_read_message(std::string_view argument, std::string_view why);

// Puts a node where a directive stood, with no width: it starts and ends at
// the directive's first character.
void place_at(YamlNode& node, const Span& span) noexcept;

// The source of a node a directive produced: its tag and argument, the rest
// left for the caller (and for keep_directive_line, which adds the
// directive's file and anchor).
[[nodiscard]] IncludeSource directive_source(std::string tag, std::string target);

// The argument text exactly as written, or "{tag} needs an argument" when the
// node is no scalar or its text is blank.
[[nodiscard]] Result<std::string_view, IncludeError> include_tag_argument(
    const IncludeContext& ctx, const YamlNode& node, std::string_view tag,
    const IncludeChain& chain);

// Fails when the chain already holds the maximum number of frames.
[[nodiscard]] Result<void, IncludeError> check_include_depth(const IncludeContext& ctx,
                                                             std::uint32_t file_id,
                                                             const IncludeChain& chain);

// The path a directive of file `file_id` names: the parent of that file
// (else include_dir) joined with the argument.
[[nodiscard]] std::string include_candidate(const IncludeContext& ctx, std::uint32_t file_id,
                                            std::string_view argument);

// A copy of `chain` with one more frame.
[[nodiscard]] IncludeChain chain_with(const IncludeChain& chain, std::string path,
                                      std::uint32_t line);

struct LoadedFile {
  std::uint32_t id;
  NodeList documents;
};

// Counts the load against the fan-out limit, reads the confined file
// (through `opened` when the caller already opened it), registers it and
// composes it under its new file id. `argument` is what messages show.
[[nodiscard]] Result<LoadedFile, IncludeError> load_included_file(IncludeContext& ctx,
                                                                  const ConfinedPath& path,
                                                                  std::optional<OpenedFile> opened,
                                                                  std::string_view argument,
                                                                  const IncludeChain& chain);

}  // namespace ostrevane
