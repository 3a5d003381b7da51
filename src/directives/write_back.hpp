// Include write-back: the texts of the files a round-trip document was
// loaded from, regenerated for writing.
//
// Input: a DocumentData (read only) whose trees carry, for every !include,
// the included content under a node with an IncludeSource holding the
// file's id in the document's file table. Output: per included file, its
// stored text byte for byte while nothing in its part of the tree changed,
// else that part written by the round-trip emitter; and the dirtiness tests
// that tell which files `save` must write. Nothing here changes the
// document or touches the disk; the writers (atomic_write.hpp) do that.
//
// A file's part of the tree ends at every include boundary (a node with a
// source): a change below a nested !include belongs to the nested file.
// Edits that no file can hold are refused before anything is written: an
// edit in content that !include_dir_*, !secret or !env_var produced, and an
// edit in an included file whose whole content was itself a directive (the
// file holds that directive, not the content). Both fail with an
// IncludeError of kind Include, "edits inside '{tag}' content cannot be
// written back".
//
// Order: every list and map here keeps document order (roots in order, a
// node before its children, a key before its value), so writing and its
// failures are reproducible. Walks run each level through with_stack_guard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directives/include_error.hpp"
#include "roundtrip/document/document_data.hpp"
#include "util/result.hpp"

namespace ostrevane {

// One regenerated included file.
struct IncludeText {
  std::uint32_t file_id = 0;
  std::string text;
  // Something in the file's part of the tree changed: `save` writes it.
  bool dirty = false;
};

// Whether the node holds a change of the file it is in: at an include
// boundary only the directive's own change (IncludeSource::
// directive_modified) counts, the content being another file's; true for a
// modified node, else any pair or item dirty.
[[nodiscard]] bool node_is_dirty(const YamlNode& node);
// The same for a mapping pair: the key (its own source not consulted), then
// the value.
[[nodiscard]] bool pair_is_dirty(const YamlNode& key, const YamlNode& value);
// The node's own part changed: its own flag, or any pair or item dirty. The
// test of an include node and of a document root.
[[nodiscard]] bool own_part_is_dirty(const YamlNode& node);

// Appends an IncludeText for every !include node at or under `node`, in
// document order: the stored text when the file's part is unchanged and a
// text was kept, else the node written without its own source, followed by
// the file's later documents (`rests`) as they stood.
void collect_include_texts(const YamlNode& node,
                           const std::vector<std::optional<std::string>>& file_texts,
                           const IncludedFileRests& rests, std::vector<IncludeText>& out);

// Path (as recorded) to text, one entry per distinct file, paths compared
// component by component; iteration in document order.
class WriteBackMap {
 public:
  struct Entry {
    std::string path;
    std::string text;
    bool dirty = false;  // some place of the file changed
  };
  [[nodiscard]] const std::vector<Entry>& entries() const noexcept { return entries_; }
  [[nodiscard]] std::vector<Entry>& entries() noexcept { return entries_; }

  // Adds `text` for `path`. The same text again only merges the dirty mark;
  // another text is the conflict error that names the path.
  [[nodiscard]] Result<void, IncludeError> add(const std::string& path, std::string text,
                                               bool dirty);

 private:
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t> index_;  // path_key to entry
};

// Refuses edits that no file can hold (see above). The error's file is the
// file that holds the directive: the included file for a directive that was
// an included file's whole content, else the file whose part holds the
// node (file 0, the loaded text, outside every include).
[[nodiscard]] Result<void, IncludeError> check_writable_edits(const DocumentData& data);

// Every included file with its text, conflicts refused. Refused edits are
// checked first. Does not check for a file table.
[[nodiscard]] Result<WriteBackMap, IncludeError> include_outputs(const DocumentData& data);

enum class WriteBackFailure : std::uint8_t { NoFileTable, Include };

struct WriteBackError {
  WriteBackFailure failure = WriteBackFailure::Include;
  IncludeError include;  // for WriteBackFailure::Include
};

inline constexpr std::string_view kNoFileTableMessage =
    "document was not loaded with OPT_INCLUDES; nothing to write back";

// `include_outputs` for dump_includes and dump_includes_map: a document
// without a file table fails with NoFileTable.
[[nodiscard]] Result<WriteBackMap, WriteBackError> collect_include_outputs(
    const DocumentData& data);

// Whether the main file must be written by a save without a path: a root's
// own part changed (a directive root: its own line), or the loaded text is
// gone (a root was removed), so the file would still hold what the document
// no longer has.
[[nodiscard]] bool main_file_is_dirty(const DocumentData& data);

}  // namespace ostrevane
