// Byte paths and the confined open: the internals that Python cannot reach
// (the component-walking fallback is only taken where the kernel lacks
// openat2).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "directives/expand.hpp"
#include "directives/file_access.hpp"
#include "directives/paths.hpp"
#include "tree_builders.hpp"

namespace ostrevane {
namespace {

using testing::source_of;

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

  // The fixture directory as realpath gives it (/tmp may be a link).
  [[nodiscard]] std::string canonical_dir() const {
    char* real = ::realpath(dir_.c_str(), nullptr);
    EXPECT_NE(real, nullptr);
    std::string out = real != nullptr ? real : "";
    std::free(real);
    return out;
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
  const std::string root = canonical_dir();
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
  const std::string root = canonical_dir();
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
  IncludeSource second_source = source_of("!include", "second.yaml", 3);
  second_source.root_comments = CommentLines{};
  EXPECT_EQ(second.source(), second_source);
  // mid.yaml's root was itself a directive: its source is kept as replaced.
  const YamlNode& mid = root.value(2);
  EXPECT_EQ(mid.text(), "");
  ASSERT_TRUE(mid.source());
  EXPECT_EQ(mid.source()->target, "mid.yaml");
  EXPECT_EQ(mid.source()->target_file_id, std::optional<std::uint32_t>(4));
  ASSERT_EQ(mid.source()->replaced.size(), 1u);
  IncludeSource inner = source_of("!include", "sub/f.yaml", 5);
  inner.root_comments = CommentLines{};
  inner.directive_file_id = 4;  // the directive stood in mid.yaml
  EXPECT_EQ(mid.source()->replaced[0], inner);
  EXPECT_EQ(mid.span.file_id, 5u);
}

TEST_F(Beneath, DirectoryResultsAndNamedKeysArePlaced) {
  ASSERT_EQ(::mkdir((dir_ + "/d").c_str(), 0700), 0);
  write(dir_ + "/d/x.yaml", "k: v\n");
  write(dir_ + "/d/y.yaml", "\n\n[1]\n");
  write(dir_ + "/secrets.yaml", "pw: &p\n  [a, b]  # note\n");
  IncludeContext ctx(dir_, DirectiveFlags{true, true, false});
  Result<NodeList, IncludeError> roots = expand_root_document(
      ctx, "a: !include_dir_named d\nb: !include_dir_merge_list d\nc: !secret pw\n", std::nullopt);
  ASSERT_TRUE(roots) << roots.error().message;
  const YamlNode& root = roots->front();
  // The result stands at the directive's argument, zero width.
  const YamlNode& named = root.value(0);
  EXPECT_EQ(named.span, (Span{22, 0, 0, 22}));
  EXPECT_EQ(named.end_offset, 22u);
  EXPECT_EQ(named.end_column, 22u);
  EXPECT_EQ(named.source(), source_of("!include_dir_named", "d"));
  ASSERT_EQ(named.pair_count(), 2u);
  // Each key sits at the very start of its own file.
  for (std::uint32_t i = 0; i < 2; ++i) {
    const YamlNode& key = named.key(i);
    EXPECT_EQ(key.text(), i == 0 ? "x" : "y");
    EXPECT_EQ(key.span, (Span{0, i + 1, 0, 0}));
    EXPECT_EQ(key.end_offset + key.end_line + key.end_column, 0u);
    EXPECT_FALSE(key.source());
  }
  EXPECT_EQ(named.value(1).span.file_id, 2u);
  EXPECT_EQ(named.value(1).span.line, 2u);
  const YamlNode& merged = root.value(1);
  EXPECT_EQ(merged.source(), source_of("!include_dir_merge_list", "d"));
  ASSERT_EQ(merged.item_count(), 2u);
  EXPECT_EQ(merged.items()[1].text(), "1");
  // A secret takes the directive's start and keeps the rest of its own
  // form, but not its anchor.
  const YamlNode& secret = root.value(2);
  EXPECT_EQ(secret.span, (Span{64, 0, 2, 11}));
  EXPECT_EQ(secret.source(), source_of("!secret", "pw"));
  EXPECT_EQ(secret.kind(), NodeKind::Sequence);
  EXPECT_EQ(secret.style, CollectionStyle::Flow);
  EXPECT_FALSE(secret.anchor());
  EXPECT_EQ(secret.end_line, 1u);
  EXPECT_EQ(secret.items()[0].span.file_id, 5u);
  EXPECT_EQ(ctx.file_paths[5], dir_ + "/secrets.yaml");
}

TEST_F(Beneath, ListingsReadNamesAndClassifyWithoutOpening) {
  const std::string root = canonical_dir();
  ASSERT_EQ(::mkfifo((root + "/sub/pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("none", (root + "/sub/dangling").c_str()), 0);
  RootDirectory dir(root, true);
  EXPECT_FALSE(dir.open_directory(root + "/linkdir/.."));  // a link on the way is refused
  Result<OpenedFile, FileError> file = dir.open_directory(root + "/sub");
  ASSERT_TRUE(file);
  Result<OpenedDirectory, FileError> listing = OpenedDirectory::open(std::move(*file));
  ASSERT_TRUE(listing);
  std::vector<DirectoryEntry> entries = listing->read_entries();
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"dangling", "f.yaml", "link.yaml", "pipe"}));
  const auto kind = [&](std::size_t i) {
    const EntryKind k = listing->entry_kind(entries[i]);
    return std::pair(k.type, k.link);
  };
  EXPECT_EQ(kind(0), std::pair(EntryType::Unknown, true));
  EXPECT_EQ(kind(1), std::pair(EntryType::Other, false));
  EXPECT_EQ(kind(2), std::pair(EntryType::Other, true));
  EXPECT_EQ(kind(3), std::pair(EntryType::Other, false));
  // Without d_type the same answers come from fstatat.
  for (DirectoryEntry& entry : entries) entry.d_type = DT_UNKNOWN;
  EXPECT_EQ(kind(0), std::pair(EntryType::Unknown, true));
  EXPECT_EQ(kind(1), std::pair(EntryType::Other, false));
  EXPECT_EQ(kind(2), std::pair(EntryType::Other, true));
  Result<OpenedFile, FileError> again = dir.open_directory(root + "/sub");
  ASSERT_TRUE(again);
  EXPECT_EQ(OpenedDirectory::open(std::move(*again))->identity(), listing->identity());
  Result<OpenedFile, FileError> plain = dir.open_directory(root + "/sub/f.yaml");
  ASSERT_FALSE(plain);
  EXPECT_EQ(plain.error().description, "Not a directory (os error 20)");
}

TEST(Paths, KeysAndLossyText) {
  EXPECT_EQ(path_key("/a//b/./c/"), "/a/b/c");
  EXPECT_EQ(path_key("./a"), "./a");
  EXPECT_EQ(path_key("a/../b"), "a/../b");
  EXPECT_EQ(utf8_lossy("plain \xc3\xa9"), "plain \xc3\xa9");
  EXPECT_EQ(utf8_lossy("a\xff"
                       "b\xc3"),
            "a\xef\xbf\xbd"
            "b\xef\xbf\xbd");
}

}  // namespace
}  // namespace ostrevane
