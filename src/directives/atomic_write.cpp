#include "directives/atomic_write.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "directives/paths.hpp"

namespace ostrevane {
namespace {

std::atomic<std::uint64_t> temp_file_counter{0};

// The pending test failure of each step: 0 when none.
std::atomic<int> fail_fsync{0};
std::atomic<int> fail_close{0};

FileError os_error(int errnum) { return FileError{errnum, os_error_text(errnum)}; }

FileError invalid_path() {
  return FileError{0, "cannot write a path that ends in `..` or is empty"};
}

// A descriptor closed with the object.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// The target split into its parent directory and its file name. The last
// component must be a name: "", ".", "/" and a trailing ".." name no file.
struct SplitTarget {
  std::vector<PathComponent> parents;
  std::string name;
};

Result<SplitTarget, FileError> split_target(std::string_view path) {
  std::vector<PathComponent> parts = split_path(path);
  if (parts.empty() || parts.back().kind != PathComponentKind::Name) {
    return std::unexpected(invalid_path());
  }
  // A NUL would cut the path short in the kernel.
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(FileError{0, "file name contained an unexpected NUL byte"});
  }
  SplitTarget out;
  out.name = std::string(parts.back().text);
  parts.pop_back();
  out.parents = std::move(parts);
  return out;
}

// The parent as a path text for open(2); "." when nothing is left.
std::string parent_text(const std::vector<PathComponent>& parents) {
  std::string out;
  for (const PathComponent& part : parents) {
    if (part.kind == PathComponentKind::Root) {
      // Not `out = "/"`: g++ 12 warns falsely (-Wrestrict) on that assignment.
      out.assign(1, '/');
      continue;
    }
    if (!out.empty() && out.back() != '/') out += '/';
    out += part.text;
  }
  return out.empty() ? std::string(".") : out;
}

int take_failure(std::atomic<int>& slot) noexcept {
  if (slot.load(std::memory_order_relaxed) == 0) return 0;
  return slot.exchange(0);
}

Result<void, FileError> write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (n == 0) return std::unexpected(FileError{0, "failed to write whole buffer"});
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// Everything between creation and rename; the descriptor is closed on every
// road, and the caller removes the file when this fails.
Result<void, FileError> fill_temporary(int dir_fd, int fd, const std::string& name,
                                       std::string_view content) {
  Result<void, FileError> written = write_all(fd, content);
  // The old file's permission bits, when it is a regular file: a file of
  // credentials kept private stays private.
  struct stat st {};
  if (written && ::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & 07777) != 0) {
    written = std::unexpected(os_error(errno));
  }
  if (written) {
    int failed = take_failure(fail_fsync);
    if (failed == 0 && ::fsync(fd) != 0) failed = errno;
    if (failed != 0) written = std::unexpected(os_error(failed));
  }
  // close(2) is not retried on EINTR: the descriptor is gone either way.
  int close_failed = ::close(fd) != 0 ? errno : 0;
  if (const int injected = take_failure(fail_close); injected != 0) close_failed = injected;
  if (written && close_failed != 0) written = std::unexpected(os_error(close_failed));
  return written;
}

Result<void, FileError> replace_in(int dir_fd, const std::string& name, std::string_view content) {
  const std::string pid = std::to_string(::getpid());
  std::string temp;
  int fd = -1;
  for (;;) {
    const std::uint64_t n = temp_file_counter.fetch_add(1);
    temp = name;
    temp += ".ostrevane-tmp.";
    temp += pid;
    temp += '.';
    temp += std::to_string(n);
    fd = ::openat(dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) break;
    if (errno == EINTR || errno == EEXIST) continue;
    return std::unexpected(os_error(errno));
  }
  Result<void, FileError> filled = fill_temporary(dir_fd, fd, name, content);
  if (filled && ::renameat(dir_fd, temp.c_str(), dir_fd, name.c_str()) != 0) {
    filled = std::unexpected(os_error(errno));
  }
  if (!filled) static_cast<void>(::unlinkat(dir_fd, temp.c_str(), 0));
  return filled;
}

}  // namespace

Result<void, FileError> write_file_atomic(std::string_view path, std::string_view content) {
  const SplitTarget target = OSV_TRY(split_target(path));
  const std::string parent = parent_text(target.parents);
  const Descriptor dir(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return std::unexpected(os_error(errno));
  return replace_in(dir.get(), target.name, content);
}

Result<void, FileError> write_file_atomic_no_links(std::string_view path,
                                                   std::string_view content) {
  const SplitTarget target = OSV_TRY(split_target(path));
  // Recorded paths are canonical; anything else is walked from the current
  // directory with the same refusal of links.
  const bool absolute =
      !target.parents.empty() && target.parents.front().kind == PathComponentKind::Root;
  std::string relative;
  for (const PathComponent& part : target.parents) {
    if (part.kind == PathComponentKind::Root) continue;
    if (!relative.empty()) relative += '/';
    relative += part.text;
  }
  const Descriptor start(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (start.get() < 0) return std::unexpected(os_error(errno));
  const Descriptor dir(open_beneath(start.get(), relative, false, O_PATH | O_DIRECTORY));
  if (dir.get() < 0) return std::unexpected(os_error(-dir.get()));
  return replace_in(dir.get(), target.name, content);
}

std::uint64_t temp_file_counter_value() noexcept { return temp_file_counter.load(); }

void fail_next_atomic_write_step(AtomicWriteStep step, int errnum) noexcept {
  (step == AtomicWriteStep::Fsync ? fail_fsync : fail_close).store(errnum);
}

}  // namespace ostrevane
