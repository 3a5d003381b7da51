// Atomic file replacement: naming, permissions, refusals and the cleanup of
// every failure, through the file system of a fresh temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "directives/atomic_write.hpp"

namespace ostrevane {
namespace {

namespace fs = std::filesystem;

class AtomicWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/osv-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = fs::canonical(pattern).string();
    old_umask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(old_umask_);
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  [[nodiscard]] std::string path(std::string_view name) const {
    return dir_ + "/" + std::string(name);
  }

  static void put(const std::string& p, std::string_view text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  static std::string get(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static struct stat lstat_of(const std::string& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
  }
  // Every name in the directory, sorted.
  [[nodiscard]] std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  [[nodiscard]] std::string temp_name(std::string_view name, std::uint64_t n) const {
    return path(name) + ".ostrevane-tmp." + std::to_string(::getpid()) + "." + std::to_string(n);
  }

  std::string dir_;
  mode_t old_umask_ = 0;
};

TEST_F(AtomicWrite, ReplacesTheFileWithANewInodeAndLeavesNothingBehind) {
  const std::string target = path("app.yaml");
  put(target, "old: 1\n");
  const ino_t before = lstat_of(target).st_ino;
  ASSERT_TRUE(write_file_atomic(target, "new: 2\n"));
  EXPECT_EQ(get(target), "new: 2\n");
  EXPECT_NE(lstat_of(target).st_ino, before);
  EXPECT_EQ(names(), std::vector<std::string>{"app.yaml"});
}

TEST_F(AtomicWrite, EmptyContentAndANewFile) {
  const std::string target = path("fresh.yaml");
  ASSERT_TRUE(write_file_atomic(target, ""));
  EXPECT_EQ(get(target), "");
  EXPECT_EQ(names(), std::vector<std::string>{"fresh.yaml"});
}

TEST_F(AtomicWrite, ANewFileGets0666LessTheUmask) {
  struct Case {
    mode_t umask;
    mode_t mode;
  };
  for (const Case c : {Case{022, 0644}, Case{077, 0600}, Case{0, 0666}}) {
    ::umask(c.umask);
    const std::string target = path("new" + std::to_string(c.umask));
    ASSERT_TRUE(write_file_atomic(target, "x"));
    EXPECT_EQ(lstat_of(target).st_mode & 07777, c.mode) << c.umask;
  }
}

TEST_F(AtomicWrite, AnExistingRegularFileKeepsItsPermissionBits) {
  for (const mode_t mode : {mode_t{0600}, mode_t{0755}, mode_t{0640}}) {
    const std::string target = path("keep" + std::to_string(mode));
    put(target, "secret: 1\n");
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    ASSERT_TRUE(write_file_atomic(target, "secret: 2\n"));
    EXPECT_EQ(lstat_of(target).st_mode & 07777, mode);
    EXPECT_EQ(get(target), "secret: 2\n");
  }
}

TEST_F(AtomicWrite, PathsWithoutANameAreRefusedAndTouchNothing) {
  const std::uint64_t counter = temp_file_counter_value();
  for (const std::string& bad : {std::string(), std::string("."), std::string("/"), path(".."),
                                 path("sub/.."), std::string("..")}) {
    auto result = write_file_atomic(bad, "x");
    ASSERT_FALSE(result) << bad;
    EXPECT_EQ(result.error().description, "cannot write a path that ends in `..` or is empty");
  }
  EXPECT_EQ(temp_file_counter_value(), counter);
  EXPECT_TRUE(names().empty());
}

TEST_F(AtomicWrite, ATrailingSeparatorOrDotStillNamesTheFile) {
  ASSERT_TRUE(write_file_atomic(path("a.yaml/"), "1"));
  ASSERT_TRUE(write_file_atomic(path("b.yaml/."), "2"));
  ASSERT_TRUE(write_file_atomic(dir_ + "//c.yaml", "3"));
  EXPECT_EQ(get(path("a.yaml")), "1");
  EXPECT_EQ(get(path("b.yaml")), "2");
  EXPECT_EQ(get(path("c.yaml")), "3");
}

TEST_F(AtomicWrite, ANulByteIsRefused) {
  auto result = write_file_atomic(path(std::string("a\0b", 3)), "x");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().description, "file name contained an unexpected NUL byte");
  EXPECT_TRUE(names().empty());
}

TEST_F(AtomicWrite, MissingAndNonDirectoryParentsGiveTheSystemsError) {
  auto missing = write_file_atomic(path("nowhere/app.yaml"), "x");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().description, "No such file or directory (os error 2)");
  put(path("plain"), "");
  auto file_parent = write_file_atomic(path("plain/app.yaml"), "x");
  ASSERT_FALSE(file_parent);
  EXPECT_EQ(file_parent.error().description, "Not a directory (os error 20)");
  EXPECT_EQ(names(), std::vector<std::string>{"plain"});
}

TEST_F(AtomicWrite, ALinkAtTheTargetIsReplacedNotFollowed) {
  put(path("real.yaml"), "real\n");
  ASSERT_EQ(::symlink("real.yaml", path("link.yaml").c_str()), 0);
  ASSERT_TRUE(write_file_atomic(path("link.yaml"), "new\n"));
  EXPECT_TRUE(S_ISREG(lstat_of(path("link.yaml")).st_mode));
  EXPECT_EQ(get(path("link.yaml")), "new\n");
  EXPECT_EQ(get(path("real.yaml")), "real\n");
}

TEST_F(AtomicWrite, ATakenTemporaryNameMovesOnToTheNextCounter) {
  const std::string target = path("app.yaml");
  const std::uint64_t n = temp_file_counter_value();
  const std::string taken = temp_name("app.yaml", n);
  put(taken, "leftover");
  ASSERT_TRUE(write_file_atomic(target, "content"));
  EXPECT_EQ(temp_file_counter_value(), n + 2);
  EXPECT_EQ(get(taken), "leftover");
  EXPECT_EQ(get(target), "content");
  // Successive calls take successive values.
  ASSERT_TRUE(write_file_atomic(target, "again"));
  EXPECT_EQ(temp_file_counter_value(), n + 3);
}

TEST_F(AtomicWrite, ABareNameIsWrittenInTheCurrentDirectory) {
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  const std::uint64_t n = temp_file_counter_value();
  put(temp_name("app.yaml", n), "");  // proves the name: it is skipped
  auto result = write_file_atomic("app.yaml", "bare\n");
  fs::current_path(cwd);
  ASSERT_TRUE(result);
  EXPECT_EQ(get(path("app.yaml")), "bare\n");
  EXPECT_EQ(temp_file_counter_value(), n + 2);
}

TEST_F(AtomicWrite, AFailingFlushOrCloseKeepsTheOldFileAndRemovesTheTemporary) {
  const std::string target = path("app.yaml");
  put(target, "old\n");
  struct Case {
    AtomicWriteStep step;
    int errnum;
    std::string_view text;
  };
  for (const Case c :
       {Case{AtomicWriteStep::Fsync, EIO, "Input/output error (os error 5)"},
        Case{AtomicWriteStep::Close, EDQUOT, "Disk quota exceeded (os error 122)"}}) {
    fail_next_atomic_write_step(c.step, c.errnum);
    auto result = write_file_atomic(target, "new\n");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, c.text);
    EXPECT_EQ(get(target), "old\n");
    EXPECT_EQ(names(), std::vector<std::string>{"app.yaml"});
  }
  // The hook is spent: the next write succeeds.
  ASSERT_TRUE(write_file_atomic(target, "new\n"));
  EXPECT_EQ(get(target), "new\n");
}

TEST_F(AtomicWrite, AFailingRenameRemovesTheTemporary) {
  fs::create_directory(path("dir.yaml"));
  put(path("dir.yaml/inside"), "");
  auto result = write_file_atomic(path("dir.yaml"), "x");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().description, "Is a directory (os error 21)");
  EXPECT_EQ(names(), std::vector<std::string>{"dir.yaml"});
}

TEST_F(AtomicWrite, AnUnwritableDirectoryFailsAtCreation) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  fs::create_directory(path("ro"));
  fs::permissions(path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
  auto result = write_file_atomic(path("ro/app.yaml"), "x");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().description, "Permission denied (os error 13)");
}

TEST_F(AtomicWrite, RecordedPathsRefuseALinkOnTheWay) {
  fs::create_directory(path("real"));
  put(path("real/app.yaml"), "old\n");
  ASSERT_EQ(::symlink("real", path("swapped").c_str()), 0);
  ASSERT_TRUE(write_file_atomic_no_links(path("real/app.yaml"), "new\n"));
  EXPECT_EQ(get(path("real/app.yaml")), "new\n");
  auto through_link = write_file_atomic_no_links(path("swapped/app.yaml"), "evil\n");
  ASSERT_FALSE(through_link);
  EXPECT_EQ(through_link.error().description, "Not a directory (os error 20)");
  EXPECT_EQ(get(path("real/app.yaml")), "new\n");
  // The caller's own path follows the link.
  ASSERT_TRUE(write_file_atomic(path("swapped/app.yaml"), "mine\n"));
  EXPECT_EQ(get(path("real/app.yaml")), "mine\n");
}

}  // namespace
}  // namespace ostrevane
