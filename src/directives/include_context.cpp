#include "directives/include_context.hpp"

#include "directives/paths.hpp"
#include "directives/secrets.hpp"

namespace ostrevane {
namespace {

// The canonical form of the include directory, else its lexical form. The
// empty text means the current directory: taking it literally would give
// the empty root, under which every path lies.
std::pair<std::string, bool> compute_include_root(const std::string& include_dir,
                                                  DirectiveFlags flags) {
  // Only file directives read the root; !env_var alone spares the realpath.
  if (!flags.includes && !flags.secrets) return {std::string(), false};
  const std::string_view dir = include_dir.empty() ? std::string_view(".") : include_dir;
  if (Result<std::string, FileError> canonical = canonical_path(dir)) {
    return {std::move(*canonical), true};
  }
  return {normalize_path_lexically(dir), false};
}

}  // namespace

IncludeContext::IncludeContext(std::string dir, DirectiveFlags flags)
    : IncludeContext(std::move(dir), flags, compute_include_root(dir, flags)) {}

IncludeContext::IncludeContext(std::string&& dir, DirectiveFlags flags,
                               std::pair<std::string, bool> root)
    : include_dir(std::move(dir)),
      include_root(std::move(root.first)),
      includes(flags.includes),
      secrets(flags.secrets),
      env_vars(flags.env_var),
      root_dir_(include_root, root.second) {}

IncludeContext::~IncludeContext() = default;

std::uint32_t IncludeContext::register_source_file(std::string path,
                                                   std::optional<std::string> text) {
  const auto id = static_cast<std::uint32_t>(file_paths.size());
  file_paths.push_back(std::move(path));
  file_texts.push_back(std::move(text));
  return id;
}

const std::string& IncludeContext::source_file_name(std::uint32_t file_id) const noexcept {
  return file_id < file_paths.size() ? file_paths[file_id] : include_dir;
}

SourceFiles IncludeContext::into_files() && {
  return SourceFiles{std::move(file_paths), std::move(file_texts), std::move(file_rests)};
}

}  // namespace ostrevane
