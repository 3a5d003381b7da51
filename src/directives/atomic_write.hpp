// Atomic file replacement: how every file the module writes is replaced.
//
// Input: a target path (bytes, as the caller or the document's file table
// gives it) and the new content. Output: nothing on success, else a
// FileError whose description callers show after "cannot write {path}: ".
//
// A file is never written in place. The content goes to a fresh temporary
// file beside the target, named "{name}.ostrevane-tmp.{pid}.{n}" with n from
// one process-wide counter, created exclusively (a name that is taken moves
// on to the next counter value). The temporary file is flushed to stable
// storage and closed, both checked, and only then renamed over the target:
// a reader sees the old content or the new one, never a part, and a failure
// that shows only at flush or close (a full quota, an I/O error) leaves the
// old file as it was. A target that is a regular file hands its permission
// bits to the new file, so a 0600 file stays 0600; a new file gets 0o666
// less the umask; a symbolic link at the target is replaced, not followed.
// On every failure the temporary file is removed.
//
// The parent directory is opened once and every later step works relative
// to that descriptor, so a directory renamed or swapped during the call
// cannot redirect half of it. `write_file_atomic` opens the parent as given
// (the caller's own path); `write_file_atomic_no_links` walks a canonical
// path from "/" with links refused, for the recorded paths of included
// files: a directory swapped for a link after loading fails the write.
#pragma once

#include <cstdint>
#include <string_view>

#include "directives/file_access.hpp"
#include "util/result.hpp"

namespace ostrevane {

// Replaces the file at `path` (its parent opened as given) with `content`.
[[nodiscard]] Result<void, FileError> write_file_atomic(std::string_view path,
                                                        std::string_view content);

// The same for an absolute canonical `path`: its parent directory is reached
// component by component from "/" without following any link.
[[nodiscard]] Result<void, FileError> write_file_atomic_no_links(std::string_view path,
                                                                 std::string_view content);

// The value the next temporary name will try (the counter is never reset).
[[nodiscard]] std::uint64_t temp_file_counter_value() noexcept;

// Test support: the next flush or close of a temporary file reports
// `errnum` instead of its own result (the close itself still happens), as a
// full disk or a failing device would. One failure, then the hook is spent.
enum class AtomicWriteStep : std::uint8_t { Fsync, Close };
void fail_next_atomic_write_step(AtomicWriteStep step, int errnum) noexcept;

}  // namespace ostrevane
