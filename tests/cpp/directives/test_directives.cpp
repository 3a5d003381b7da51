// Byte paths and the confined open: the internals that Python cannot reach
// (the component-walking fallback is only taken where the kernel lacks
// openat2).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "directives/paths.hpp"

namespace ostrevane {
namespace {

struct NormalizeCase {
  std::string_view in;
  std::string_view out;
};

TEST(Paths, NormalizeLexically) {
  const NormalizeCase cases[] = {
      {"/a/b/../c", "/a/c"},  {"/../x", "/x"}, {"a/../../b", "b"},
      {"./a", "a"},           {"", ""},        {".", ""},
      {"a//b/./c/", "a/b/c"}, {"/", "/"},      {"cfg/../conf", "conf"},
      {"/a/..", "/"},         {"a/..", ""},
  };
  for (const NormalizeCase& c : cases) EXPECT_EQ(normalize_path_lexically(c.in), c.out) << c.in;
}

struct UnderCase {
  std::string_view path;
  std::string_view root;
  bool under;
};

TEST(Paths, LiesUnder) {
  const UnderCase cases[] = {
      {"/etc/app", "/etc", true}, {"/etcetera", "/etc", false},
      {"/etc", "/etc", true},     {"/data/app-old", "/data/app", false},
      {"/x", "rel", false},       {"/x", "", true},
      {"rel/x", "rel", true},     {"/a//b/", "/a/b", true},
      {"/a", "/a/b", false},      {"/", "/", true},
  };
  for (const UnderCase& c : cases) {
    EXPECT_EQ(path_lies_under(c.path, c.root), c.under) << c.path << " under " << c.root;
  }
}

TEST(Paths, JoinAndParent) {
  EXPECT_EQ(join_path(".", "<root>"), "./<root>");
  EXPECT_EQ(join_path("", "x"), "x");
  EXPECT_EQ(join_path("a/", "x"), "a/x");
  EXPECT_EQ(join_path("a", "/abs"), "/abs");
  std::string parent;
  ASSERT_TRUE(parent_path("/r/sub/b.yaml", parent));
  EXPECT_EQ(parent, "/r/sub");
  ASSERT_TRUE(parent_path("/b.yaml", parent));
  EXPECT_EQ(parent, "/");
  ASSERT_TRUE(parent_path("app.yaml", parent));
  EXPECT_EQ(parent, "");
  ASSERT_TRUE(parent_path("./<root>", parent));
  EXPECT_EQ(parent, ".");
  EXPECT_FALSE(parent_path("/", parent));
  EXPECT_FALSE(parent_path("", parent));
  EXPECT_TRUE(paths_equal("/a//b/", "/a/b"));
  EXPECT_FALSE(paths_equal("/a/b", "/a/bc"));
}

TEST(IncludeContext, RootAndFileNames) {
  const IncludeContext lexical("osv_no_such_cfg/../conf", DirectiveFlags{true, false, false});
  EXPECT_EQ(lexical.include_root, "conf");  // relative, not joined to the current directory
  EXPECT_EQ(lexical.source_file_name(7), "osv_no_such_cfg/../conf");
  const IncludeContext env_only("", DirectiveFlags{false, false, true});
  EXPECT_EQ(env_only.include_root, "");
  const IncludeContext empty("", DirectiveFlags{true, false, false});
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  char* real = ::realpath(cwd, nullptr);
  EXPECT_EQ(empty.include_root, real);  // the empty text means ".", never the empty root
  std::free(real);
  std::free(cwd);
}

TEST(FileAccess, OsErrorTextIsEnglishWithTheNumber) {
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error_text(EISDIR), "Is a directory (os error 21)");
}

// A directory tree under a fresh temporary directory, removed afterwards.
class Beneath : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/osv_beneath_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0700), 0);
    write(dir_ + "/sub/f.yaml", "x: 1\n");
    ASSERT_EQ(::symlink("f.yaml", (dir_ + "/sub/link.yaml").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir_ + "/linkdir").c_str()), 0);
    fd_ = ::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
    const std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  static void write(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }

  std::string dir_;
  int fd_ = -1;
};

TEST_F(Beneath, BothWaysOpenPlainPathsAndRefuseLinksAndEscapes) {
  for (const bool use_openat2 : {true, false}) {
    SCOPED_TRACE(use_openat2 ? "openat2" : "walk");
    const int ok = open_beneath(fd_, "sub/f.yaml", use_openat2);
    ASSERT_GE(ok, 0);
    ::close(ok);
    EXPECT_LT(open_beneath(fd_, "sub/link.yaml", use_openat2), 0);
    EXPECT_LT(open_beneath(fd_, "linkdir/f.yaml", use_openat2), 0);
    EXPECT_LT(open_beneath(fd_, "../x", use_openat2), 0);
    EXPECT_EQ(open_beneath(fd_, "sub/none.yaml", use_openat2), -ENOENT);
  }
}

TEST_F(Beneath, ReadTextReadsRegularFilesOnly) {
  char* real = ::realpath(dir_.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string root = real;
  std::free(real);
  RootDirectory dir(root, true);
  Result<std::string, FileError> text = dir.read_text(root + "/sub/f.yaml");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "x: 1\n");
  Result<std::string, FileError> sub = dir.read_text(root + "/sub");
  ASSERT_FALSE(sub);
  EXPECT_EQ(sub.error().description, "Is a directory (os error 21)");
  ASSERT_EQ(::mkfifo((root + "/sub/pipe").c_str(), 0600), 0);
  Result<std::string, FileError> pipe = dir.read_text(root + "/sub/pipe");
  ASSERT_FALSE(pipe);
  EXPECT_EQ(pipe.error().description, "not a regular file");
  RootDirectory missing("", false);
  Result<std::string, FileError> none = missing.read_text("/etc/hostname");
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().description, "No such file or directory (os error 2)");
}

TEST_F(Beneath, PlainPathsTakeTheQuickRoadOthersDoNot) {
  char* real = ::realpath(dir_.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  const std::string root = real;
  std::free(real);
  RootDirectory dir(root, true);
  EXPECT_TRUE(dir.open_plain_path(root + "/sub/f.yaml"));
  EXPECT_TRUE(dir.open_plain_path(root + "//sub/../sub/./f.yaml"));
  EXPECT_FALSE(dir.open_plain_path(root + "/sub/link.yaml"));   // a link
  EXPECT_FALSE(dir.open_plain_path(root + "/linkdir/f.yaml"));  // a link on the way
  EXPECT_FALSE(dir.open_plain_path(root + "/../x"));            // leaves the root
  EXPECT_FALSE(dir.open_plain_path(root + "x/sub/f.yaml"));     // another directory
  EXPECT_FALSE(dir.open_plain_path("sub/f.yaml"));              // relative
  EXPECT_FALSE(dir.open_plain_path(root));                      // the root itself
  RootDirectory lexical(root, false);
  EXPECT_FALSE(lexical.open_plain_path(root + "/sub/f.yaml"));
}

TEST_F(Beneath, ExpansionNumbersFilesDepthFirstAndKeepsReplacedSources) {
  write(dir_ + "/mid.yaml", "!include sub/f.yaml\n");
  write(dir_ + "/first.yaml", "one: !include third.yaml\n");
  write(dir_ + "/third.yaml", "3\n");
  write(dir_ + "/second.yaml", "2\n");
  IncludeContext ctx(dir_, DirectiveFlags{true, false, false});
  Result<NodeList, IncludeError> roots = expand_root_document(
      ctx, "a: !include first.yaml\nb: !include second.yaml\nc: !include mid.yaml\n", std::nullopt);
  ASSERT_TRUE(roots) << roots.error().message;
  ASSERT_EQ(roots->size(), 1u);
  const YamlNode& root = roots->front();
  ASSERT_EQ(ctx.file_paths.size(), 6u);
  EXPECT_EQ(ctx.file_paths[0], dir_ + "/<root>");
  EXPECT_EQ(ctx.file_paths[1], ctx.include_root + "/first.yaml");
  EXPECT_EQ(ctx.file_paths[2], ctx.include_root + "/third.yaml");
  EXPECT_EQ(ctx.file_paths[3], ctx.include_root + "/second.yaml");
  EXPECT_EQ(ctx.file_texts[3], std::optional<std::string>("2\n"));
  // An included root keeps its own span, in its own file.
  const YamlNode& second = root.value(1);
  EXPECT_EQ(second.span.file_id, 3u);
  EXPECT_EQ(second.source(), (IncludeSource{"!include", "second.yaml", 3, {}}));
  // mid.yaml's root was itself a directive: its source is kept as replaced.
  const YamlNode& mid = root.value(2);
  EXPECT_EQ(mid.text(), "");
  ASSERT_TRUE(mid.source());
  EXPECT_EQ(mid.source()->target, "mid.yaml");
  EXPECT_EQ(mid.source()->target_file_id, std::optional<std::uint32_t>(4));
  ASSERT_EQ(mid.source()->replaced.size(), 1u);
  EXPECT_EQ(mid.source()->replaced[0], (IncludeSource{"!include", "sub/f.yaml", 5, {}}));
  EXPECT_EQ(mid.span.file_id, 5u);
}

}  // namespace
}  // namespace ostrevane
