// The one layer through which directives touch the file system.
//
// Input: byte paths (absolute or relative to the current directory) and the
// include root. Output: canonical paths, file texts, or an OsError that
// carries the errno and a description for messages. Nothing here knows
// about YAML, include chains or Python.
//
// Reads never escape the include root, even when links change between the
// confinement check and the open: a file is opened relative to a descriptor
// of the root with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS); where the
// kernel refuses openat2, the components are walked one by one with
// O_NOFOLLOW. Opens use O_NONBLOCK, so a FIFO cannot block in open(2), and
// only regular files are read at all, so a FIFO or a device cannot hang the
// call or feed it without end.
//
// Directories are opened the same way (O_DIRECTORY) and listed through
// fdopendir; entries are classified from readdir's type or with fstatat,
// never by opening them.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/result.hpp"

namespace ostrevane {

// An operating-system failure, or a refusal of the reading layer itself.
struct FileError {
  int os_errno = 0;         // 0 when the text is not an errno description
  std::string description;  // "No such file or directory (os error 2)", ...
};

// "{description} (os error {n})" with the C library's English description,
// whatever the locale.
[[nodiscard]] std::string os_error_text(int errnum);

// The C library's realpath: absolute, every link followed. Paths holding a
// NUL byte fail with ENOENT.
[[nodiscard]] Result<std::string, FileError> canonical_path(std::string_view path);

// The process's current directory, or nothing when it cannot be read.
[[nodiscard]] std::optional<std::string> current_directory();

// True when `path` names a directory, links followed; false when it is
// none or cannot be examined.
[[nodiscard]] bool is_directory(std::string_view path);

// True when `path` names a symbolic link itself (the final link not
// followed); false when it is none or cannot be examined.
[[nodiscard]] bool is_symbolic_link(std::string_view path);

// An open file descriptor, closed with the object.
class OpenedFile {
 public:
  explicit OpenedFile(int fd) noexcept : fd_(fd) {}
  OpenedFile(OpenedFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OpenedFile& operator=(OpenedFile&&) = delete;
  ~OpenedFile();
  [[nodiscard]] int fd() const noexcept { return fd_; }
  // The descriptor, no longer closed with the object.
  [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Device and inode: what tells two directories apart whatever their paths.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

enum class EntryType : unsigned char { Directory, Other, Unknown };

// One name of a directory, with the type the kernel gave for it (a DT_
// value; DT_UNKNOWN when the file system does not say).
struct DirectoryEntry {
  std::string name;
  unsigned char d_type = DT_UNKNOWN;
};

// What an entry is: its type with links followed, and whether the entry
// itself is a symbolic link.
struct EntryKind {
  EntryType type = EntryType::Unknown;
  bool link = false;
};

// A directory opened for listing; the stream is closed with the object.
class OpenedDirectory {
 public:
  // Takes over `file` when it is a directory (fdopendir).
  [[nodiscard]] static Result<OpenedDirectory, FileError> open(OpenedFile file);
  OpenedDirectory(OpenedDirectory&& other) noexcept
      : dir_(std::exchange(other.dir_, nullptr)), identity_(other.identity_) {}
  OpenedDirectory& operator=(OpenedDirectory&&) = delete;
  ~OpenedDirectory();

  [[nodiscard]] FileIdentity identity() const noexcept { return identity_; }
  // Every entry but "." and ".." in the order the kernel gives them; a read
  // error ends the list without a report.
  [[nodiscard]] std::vector<DirectoryEntry> read_entries();
  // What an entry of this directory is: from its d_type when that tells,
  // else by fstatat; a link is followed (Unknown when it cannot be, such as
  // a dangling link). Never opens the entry.
  [[nodiscard]] EntryKind entry_kind(const DirectoryEntry& entry) const;

 private:
  OpenedDirectory(DIR* dir, FileIdentity identity) noexcept : dir_(dir), identity_(identity) {}
  DIR* dir_;
  FileIdentity identity_;
};

// Reads an opened file whole as UTF-8 text, when it is a regular file. A
// directory fails with "Is a directory (os error 21)", anything else that
// is not a regular file with "not a regular file", text that is not UTF-8
// with "stream did not contain valid UTF-8".
[[nodiscard]] Result<std::string, FileError> read_opened(OpenedFile file);

// A descriptor of an include root, opened on first use and closed with the
// object.
class RootDirectory {
 public:
  // `canonical`: `root` is what realpath gave (the quick road needs it).
  RootDirectory(std::string root, bool canonical) : root_(std::move(root)), canonical_(canonical) {}
  ~RootDirectory();
  RootDirectory(const RootDirectory&) = delete;
  RootDirectory& operator=(const RootDirectory&) = delete;

  [[nodiscard]] const std::string& path() const noexcept { return root_; }

  // Reads the regular file at `path`, which must be canonical and lie under
  // the root, as UTF-8 text. Anything but a regular file is refused: a
  // directory with "Is a directory (os error 21)", everything else with
  // "not a regular file". Text that is not UTF-8 gives "stream did not
  // contain valid UTF-8".
  [[nodiscard]] Result<std::string, FileError> read_text(std::string_view path);

  // Opens the directory at `path` (canonical, under the root) the same way,
  // with O_DIRECTORY, for OpenedDirectory::open.
  [[nodiscard]] Result<OpenedFile, FileError> open_directory(std::string_view path);

  // The quick road for the usual include: `candidate` is absolute, spells
  // the root first, and the rest (".." allowed) leads to an existing entry
  // with no link on the way and without leaving the root. Then the kernel
  // opens it in one walk (openat2, RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS),
  // and the entry's canonical path is the candidate normalised lexically,
  // exactly what realpath would give. Nothing when any of that fails: the
  // caller takes the full road, which explains the failure.
  [[nodiscard]] std::optional<OpenedFile> open_plain_path(std::string_view candidate);

 private:
  Result<int, FileError> descriptor();
  Result<OpenedFile, FileError> open_beneath_root(std::string_view path, int extra_flags);

  std::string root_;
  bool canonical_;
  int fd_ = -1;
  int open_errno_ = 0;
};

// Opens `relative` (no "..", no "." components, not absolute) beneath the
// directory `dir_fd` for reading, never following a link: openat2 when
// `use_openat2` and the kernel has it, else a component walk with
// O_NOFOLLOW. `extra_flags` are added to the read flags of the last
// component (O_DIRECTORY for listings). Returns the descriptor or -errno.
// Exposed for tests of both ways.
[[nodiscard]] int open_beneath(int dir_fd, std::string_view relative, bool use_openat2,
                               int extra_flags = 0);

}  // namespace ostrevane
