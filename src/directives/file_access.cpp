#include "directives/file_access.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "directives/paths.hpp"
#include "scanner/input_decode.hpp"

namespace ostrevane {
namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Set once the kernel has answered ENOSYS (or a filter EPERM) to openat2:
// later opens walk the components straight away.
std::atomic<bool> openat2_missing{false};

int open_with_openat2(int dir_fd, const char* relative, int extra_flags = 0) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(kReadFlags | extra_flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  // EAGAIN: the walk raced with a rename somewhere on the path, and the
  // kernel would rather retry than risk an escape; so do we, a few times.
  for (int again = 0;;) {
    const long fd = ::syscall(SYS_openat2, dir_fd, relative, &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == EINTR || (errno == EAGAIN && ++again < 8)) continue;
    return -errno;
  }
}

int openat_retrying(int dir_fd, const char* name, int flags) {
  for (;;) {
    const int fd = ::openat(dir_fd, name, flags);
    if (fd >= 0 || errno != EINTR) return fd >= 0 ? fd : -errno;
  }
}

// Each directory with O_PATH | O_DIRECTORY | O_NOFOLLOW, the last component
// with the read flags and O_NOFOLLOW: a link anywhere fails with ELOOP or
// ENOTDIR instead of being followed.
int open_by_walking(int dir_fd, std::string_view relative, int extra_flags) {
  const std::vector<PathComponent> parts = split_path(relative);
  if (parts.empty()) return openat_retrying(dir_fd, ".", kReadFlags | extra_flags);
  int current = dir_fd;
  int result = -ENOENT;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const PathComponent& part = parts[i];
    if (part.kind != PathComponentKind::Name) {
      result = -EXDEV;  // "..", "." or a root: not a path beneath the root
      break;
    }
    const std::string name(part.text);
    const bool last = i + 1 == parts.size();
    const int flags = last ? kReadFlags | extra_flags | O_NOFOLLOW
                           : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int fd = openat_retrying(current, name.c_str(), flags);
    if (current != dir_fd) ::close(current);
    current = dir_fd;
    if (fd < 0) {
      result = fd;
      break;
    }
    if (last) return fd;
    current = fd;
  }
  if (current != dir_fd) ::close(current);
  return result;
}

FileError os_error(int errnum) { return FileError{errnum, os_error_text(errnum)}; }

}  // namespace

std::string os_error_text(int errnum) {
  const char* desc = ::strerrordesc_np(errnum);
  std::string out = desc != nullptr ? desc : "Unknown error";
  out += " (os error ";
  out += std::to_string(errnum);
  out += ')';
  return out;
}

Result<std::string, FileError> canonical_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(os_error(ENOENT));
  const std::string owned(path);
  char* resolved = ::realpath(owned.c_str(), nullptr);
  if (resolved == nullptr) return std::unexpected(os_error(errno));
  std::string out(resolved);
  std::free(resolved);
  return out;
}

std::optional<std::string> current_directory() {
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) return std::nullopt;
  std::string out(cwd);
  std::free(cwd);
  return out;
}

bool is_directory(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  const std::string owned(path);
  struct stat st {};
  return ::stat(owned.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_symbolic_link(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  const std::string owned(path);
  struct stat st {};
  return ::lstat(owned.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int open_beneath(int dir_fd, std::string_view relative, bool use_openat2, int extra_flags) {
  if (use_openat2 && !openat2_missing.load(std::memory_order_relaxed)) {
    const std::string owned(relative.empty() ? std::string_view(".") : relative);
    const int fd = open_with_openat2(dir_fd, owned.c_str(), extra_flags);
    if (fd != -ENOSYS && fd != -EPERM) return fd;
    openat2_missing.store(true, std::memory_order_relaxed);
  }
  return open_by_walking(dir_fd, relative, extra_flags);
}

RootDirectory::~RootDirectory() {
  if (fd_ >= 0) ::close(fd_);
}

Result<int, FileError> RootDirectory::descriptor() {
  if (fd_ >= 0) return fd_;
  if (open_errno_ != 0) return std::unexpected(os_error(open_errno_));
  const int fd = root_.empty() || root_.find('\0') != std::string::npos
                     ? -ENOENT
                     : openat_retrying(AT_FDCWD, root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    open_errno_ = -fd;
    return std::unexpected(os_error(open_errno_));
  }
  fd_ = fd;
  return fd_;
}

Result<std::string, FileError> RootDirectory::read_text(std::string_view path) {
  return read_opened(OSV_TRY(open_beneath_root(path, 0)));
}

Result<OpenedFile, FileError> RootDirectory::open_directory(std::string_view path) {
  return open_beneath_root(path, O_DIRECTORY);
}

Result<OpenedFile, FileError> RootDirectory::open_beneath_root(std::string_view path,
                                                               int extra_flags) {
  const int dir_fd = OSV_TRY(descriptor());
  // The part of the canonical path below the root.
  const std::vector<PathComponent> root_parts = split_path(root_);
  const std::vector<PathComponent> parts = split_path(path);
  if (parts.size() < root_parts.size()) return std::unexpected(os_error(EXDEV));
  std::string relative;
  for (std::size_t i = root_parts.size(); i < parts.size(); ++i) {
    if (!relative.empty()) relative += '/';
    relative += parts[i].text;
  }
  const int fd = open_beneath(dir_fd, relative, true, extra_flags);
  // Opening a UNIX socket for reading (or a device file with no device
  // behind it) fails with ENXIO before fstat can tell what it is; like a
  // FIFO, it is not a file to read.
  if (fd == -ENXIO && (extra_flags & O_DIRECTORY) == 0) {
    return std::unexpected(FileError{0, "not a regular file"});
  }
  if (fd < 0) return std::unexpected(os_error(-fd));
  return OpenedFile(fd);
}

std::optional<OpenedFile> RootDirectory::open_plain_path(std::string_view candidate) {
  // A NUL would cut the path short in the kernel: the full road refuses it.
  if (!canonical_ || candidate.empty() || candidate[0] != '/' ||
      candidate.find('\0') != std::string_view::npos ||
      openat2_missing.load(std::memory_order_relaxed)) {
    return std::nullopt;
  }
  // The candidate must spell the root first, component for component.
  std::string_view rest = candidate;
  for (const PathComponent& part : split_path(root_)) {
    while (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
    if (part.kind == PathComponentKind::Root) continue;
    if (!rest.starts_with(part.text)) return std::nullopt;
    rest.remove_prefix(part.text.size());
    if (!rest.empty() && rest[0] != '/') return std::nullopt;
  }
  while (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
  if (rest.empty()) return std::nullopt;
  Result<int, FileError> dir_fd = descriptor();
  if (!dir_fd) return std::nullopt;
  const std::string relative(rest);
  const int fd = open_with_openat2(*dir_fd, relative.c_str());
  if (fd < 0) return std::nullopt;
  return OpenedFile(fd);
}

Result<OpenedDirectory, FileError> OpenedDirectory::open(OpenedFile file) {
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) return std::unexpected(os_error(errno));
  if (!S_ISDIR(st.st_mode)) return std::unexpected(os_error(ENOTDIR));
  DIR* dir = ::fdopendir(file.fd());
  if (dir == nullptr) return std::unexpected(os_error(errno));
  static_cast<void>(file.release());  // the stream owns the descriptor now
  return OpenedDirectory(dir, FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                                           static_cast<std::uint64_t>(st.st_ino)});
}

OpenedDirectory::~OpenedDirectory() {
  if (dir_ != nullptr) ::closedir(dir_);
}

std::vector<DirectoryEntry> OpenedDirectory::read_entries() {
  std::vector<DirectoryEntry> entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir_);
    // The end, or a read error: either way the listing stops here.
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    entries.push_back(DirectoryEntry{std::string(name), entry->d_type});
  }
  return entries;
}

EntryKind OpenedDirectory::entry_kind(const DirectoryEntry& entry) const {
  // Most file systems give the type with the name, which spares a stat per
  // entry of a large directory.
  unsigned char d_type = entry.d_type;
  struct stat st {};
  if (d_type == DT_UNKNOWN) {
    if (::fstatat(::dirfd(dir_), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return EntryKind{EntryType::Unknown, false};
    }
    d_type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
  }
  if (d_type == DT_DIR) return EntryKind{EntryType::Directory, false};
  if (d_type != DT_LNK) return EntryKind{EntryType::Other, false};
  // Links are followed: a link to a directory is a directory here.
  if (::fstatat(::dirfd(dir_), entry.name.c_str(), &st, 0) != 0) {
    return EntryKind{EntryType::Unknown, true};
  }
  return EntryKind{S_ISDIR(st.st_mode) ? EntryType::Directory : EntryType::Other, true};
}

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) ::close(fd_);
}

Result<std::string, FileError> read_opened(OpenedFile file) {
  const int fd = file.fd();
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::unexpected(os_error(errno));
  if (S_ISDIR(st.st_mode)) return std::unexpected(os_error(EISDIR));
  if (!S_ISREG(st.st_mode)) return std::unexpected(FileError{0, "not a regular file"});

  // Read straight into the text, sized from fstat. Once the size fstat gave
  // is read the file is whole, which spares the read that would see its
  // end; files whose size the kernel does not know (0) read to the end.
  const auto size = static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0);
  std::string text;
  text.resize(size > 0 ? size : 4096);
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (size > 0 && used == size) break;
      text.resize(text.size() * 2);
    }
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n > 0) {
      used += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    return std::unexpected(os_error(errno));
  }
  text.resize(used);
  if (!validate_utf8(text)) {
    return std::unexpected(FileError{0, "stream did not contain valid UTF-8"});
  }
  return text;
}

}  // namespace ostrevane
