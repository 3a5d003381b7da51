// The state of one directive expansion.
//
// Input: the include directory as the caller gave it (bytes; "." when
// absent) and the three directive switches. Output, after a successful
// expansion: the file table (the loaded text is file 0, every file a
// directive read gets the next id), the warnings and the references that
// were missing while deferral was on.
//
// Invariants: file_paths and file_texts have the same length; a file id is
// the index of its entry and ids are never reused, so one file included
// twice is listed twice. include_root is the canonical include directory
// (realpath), else its lexical normalisation; the empty include directory
// is confined to the current directory, never to an empty root under which
// every path would lie.
//
// Ownership: the context owns every list and text, the secrets cache, and
// the descriptor of the include root once a file was read. It belongs to one loads call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "directives/file_access.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane {

class SecretsCache;  // directives/secrets.hpp

struct DirectiveFlags {
  bool includes = false;
  bool secrets = false;
  bool env_var = false;

  [[nodiscard]] bool any() const noexcept { return includes || secrets || env_var; }
};

// A secret or environment variable that was not found while deferral was on.
struct MissingReference {
  std::string name;
  std::string file;        // source_file_name of the directive's file
  std::uint32_t line = 0;  // of the directive, from 0
};

struct SourceFiles {
  std::vector<std::string> paths;
  std::vector<std::optional<std::string>> texts;
  IncludedFileRests rests;
};

class IncludeContext {
 public:
  IncludeContext(std::string include_dir, DirectiveFlags flags);
  ~IncludeContext();

  std::string include_dir;   // as the caller gave it
  std::string include_root;  // the confinement root; empty without includes and secrets
  std::vector<std::string> file_paths;
  std::vector<std::optional<std::string>> file_texts;
  // What each included file holds besides the document !include reads.
  IncludedFileRests file_rests;
  std::vector<std::string> warnings;
  std::vector<MissingReference> missing_secrets;
  std::vector<MissingReference> missing_env_vars;
  // The secrets.yaml files read so far, by candidate path; made by the
  // first !secret of the call.
  std::unique_ptr<SecretsCache> secrets_cache;
  std::uint64_t files_loaded = 0;
  bool includes;
  bool secrets;
  bool env_vars;
  bool include_dir_recursive = false;
  bool defer_missing_secrets = false;
  bool defer_missing_env_vars = false;

  // Appends the entry; returns its id (the table's length before).
  std::uint32_t register_source_file(std::string path, std::optional<std::string> text);

  // The path of `file_id`, or include_dir when there is no such entry.
  [[nodiscard]] const std::string& source_file_name(std::uint32_t file_id) const noexcept;

  // Reads a file under include_root (see RootDirectory::read_text).
  [[nodiscard]] Result<std::string, FileError> read_confined(std::string_view path) {
    return root_dir_.read_text(path);
  }
  // Opens a directory under include_root for listing (see
  // RootDirectory::open_directory).
  [[nodiscard]] Result<OpenedFile, FileError> open_confined_directory(std::string_view path) {
    return root_dir_.open_directory(path);
  }
  // The quick road of an include (see RootDirectory::open_plain_path).
  [[nodiscard]] std::optional<OpenedFile> open_plain_path(std::string_view candidate) {
    return root_dir_.open_plain_path(candidate);
  }

  // The file table; the context is left with empty lists.
  [[nodiscard]] SourceFiles into_files() &&;

 private:
  // `include_dir` is only bound here, so the root is computed from it first.
  IncludeContext(std::string&& include_dir, DirectiveFlags flags,
                 std::pair<std::string, bool> root);

  RootDirectory root_dir_;
};

}  // namespace ostrevane
