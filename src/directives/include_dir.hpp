// Directory includes: "!include_dir_list", "!include_dir_named",
// "!include_dir_merge_list" and "!include_dir_merge_named".
//
// Input: the IncludeContext of the call, the directive node (its argument
// names a directory, relative to the file holding it) and the include chain.
// Output: one new node at the directive's position (zero width, source the
// directive's tag and argument) built from the YAML files of that directory,
// or the IncludeError that ends the expansion.
//
// The listing comes first and whole: each directory is opened through the
// context's RootDirectory (O_DIRECTORY, then fdopendir), its names sorted
// bytewise, each entry classified with fstatat following links; hidden
// names are skipped, files count only with the extension "yaml" or "yml",
// and with OPT_INCLUDE_DIR_RECURSIVE the subdirectories follow, depth first,
// each directory listed at most once (by device and inode) so that a link
// back to an ancestor cannot loop. Every entry is confined like an
// !include. Then the files are loaded one by one in listing order, each
// under a chain one frame longer. A directory that does not exist, or a
// path naming something else, gives an empty result.
#pragma once

#include "directives/expand.hpp"
#include "directives/include_context.hpp"
#include "directives/include_error.hpp"
#include "roundtrip/node.hpp"
#include "util/result.hpp"

namespace ostrevane {

// One file chosen by a listing.
struct IncludeDirEntry {
  std::string stem;   // the name without its last extension, as text
  ConfinedPath path;  // what confine_include_path gave
};

// The files of directory `dir` (confined) in listing order.
[[nodiscard]] Result<std::vector<IncludeDirEntry>, IncludeError> list_include_dir(
    IncludeContext& ctx, const std::string& dir, std::uint32_t file_id, const IncludeChain& chain);

[[nodiscard]] Result<YamlNode, IncludeError> expand_include_dir_list(IncludeContext& ctx,
                                                                     const YamlNode& node,
                                                                     const IncludeChain& chain);
[[nodiscard]] Result<YamlNode, IncludeError> expand_include_dir_named(IncludeContext& ctx,
                                                                      const YamlNode& node,
                                                                      const IncludeChain& chain);
[[nodiscard]] Result<YamlNode, IncludeError> expand_include_dir_merge_list(
    IncludeContext& ctx, const YamlNode& node, const IncludeChain& chain);
[[nodiscard]] Result<YamlNode, IncludeError> expand_include_dir_merge_named(
    IncludeContext& ctx, const YamlNode& node, const IncludeChain& chain);

}  // namespace ostrevane
