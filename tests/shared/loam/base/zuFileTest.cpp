#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "loam/base/zuDate.h"
#include "loam/base/zuFile.h"
#include "loam/base/zuTimeOfDay.h"
#include "support/TestSupport.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using tw::test::ScopedEnv;

// Restores the working folder a test changes.
class ScopedCwd {
 public:
  ScopedCwd() : saved_(fs::current_path()) {}
  ~ScopedCwd() { fs::current_path(saved_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  fs::path saved_;
};

using tw::test::readFile;
using tw::test::writeFile;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777u;
}

bool exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A folder nested deep enough that its path no longer fits 260 bytes.
std::string makeLongFolder(const std::string& base) {
  std::string path = base;
  while (path.size() < 300) path += "/" + std::string(40, 'd');
  fs::create_directories(path);
  return path;
}

// --- current folder -------------------------------------------------------

TEST(zuFile, CurrentDirectory) {
  tw::test::ScratchDir scratch;
  ScopedCwd restore;
  EXPECT_TRUE(zuSetCurrentDirectory(""));
  ASSERT_TRUE(zuSetCurrentDirectory(scratch.path()));
  EXPECT_EQ(zuGetCurrentDirectory(), fs::canonical(scratch.path()).string());
  EXPECT_FALSE(zuSetCurrentDirectory(scratch.file("missing")));
}

TEST(zuFile, CurrentDirectoryTooLongIsEmpty) {
  tw::test::ScratchDir scratch;
  ScopedCwd restore;
  const std::string deep = makeLongFolder(scratch.path());
  ASSERT_TRUE(zuSetCurrentDirectory(deep));
  EXPECT_EQ(zuGetCurrentDirectory(), "");
}

// --- folders -------------------------------------------------------------

TEST(zuFile, CreateDirectory) {
  tw::test::ScratchDir scratch;
  EXPECT_TRUE(zuCreateDirectory(scratch.file("a")));
  EXPECT_TRUE(fs::is_directory(scratch.file("a")));
  EXPECT_FALSE(zuCreateDirectory(scratch.file("a")));        // an existing folder is a failure
  EXPECT_TRUE(zuCreateDirectory(scratch.path() + "\\b\\"));  // one trailing backslash dropped
  EXPECT_TRUE(fs::is_directory(scratch.file("b")));
  EXPECT_FALSE(zuCreateDirectory(scratch.file("missing/c")));  // parents are not made
  EXPECT_FALSE(exists(scratch.file("missing")));
}

TEST(zuFile, IsDirectory) {
  tw::test::ScratchDir scratch;
  fs::create_directory(scratch.file("dir"));
  writeFile(scratch.file("file"), "x");
  fs::create_directory_symlink(scratch.file("dir"), scratch.file("dirlink"));
  const std::pair<std::string, bool> cases[] = {
      {scratch.file("dir"), true},
      {scratch.path() + "\\dir", true},
      {scratch.path() + "\\dir\\", true},  // one trailing backslash is dropped
      {scratch.path() + "\\dir/", false},  // a trailing slash is not
      {scratch.path() + "\\dir\\\\", false},
      {scratch.file("dirlink"), true},
      {scratch.file("file"), false},
      {scratch.file("missing"), false},
      {"", false},
  };
  for (const auto& [path, isDir] : cases) EXPECT_EQ(zuIsDirectory(path), isDir) << path;
}

TEST(zuFile, RemoveDirectoryTree) {
  tw::test::ScratchDir scratch;
  const std::string root = scratch.file("tree");
  fs::create_directories(root + "/a/b/c");
  fs::create_directories(root + "/empty");
  writeFile(root + "/top.txt", "1");
  writeFile(root + "/.hidden", "2");
  writeFile(root + "/a/b/c/deep", "3");
  writeFile(root + "/a/b/no-ext", "4");
  EXPECT_TRUE(zuRemoveDirectoryTree(root));
  EXPECT_FALSE(exists(root));
  EXPECT_FALSE(zuRemoveDirectoryTree(root));  // nothing there any more
}

TEST(zuFile, RemoveDirectoryTreeStopsAtReadOnlyFile) {
  tw::test::ScratchDir scratch;
  const std::string root = scratch.file("tree");
  fs::create_directories(root + "/a/b");
  fs::create_directories(root + "/z");
  writeFile(root + "/a/b/ro.txt", "keep");
  ::chmod((root + "/a/b/ro.txt").c_str(), 0444);
  writeFile(root + "/z/other", "x");
  EXPECT_FALSE(zuRemoveDirectoryTree(root));
  EXPECT_EQ(readFile(root + "/a/b/ro.txt"), "keep");
  EXPECT_TRUE(fs::is_directory(root + "/a/b"));
  EXPECT_TRUE(fs::is_directory(root + "/a"));
  EXPECT_TRUE(fs::is_directory(root));
  // A read-only file at the top ends the walk at once, with false.
  const std::string flat = scratch.file("flat");
  fs::create_directories(flat);
  writeFile(flat + "/ro", "x");
  ::chmod((flat + "/ro").c_str(), 0400);
  EXPECT_FALSE(zuRemoveDirectoryTree(flat));
  EXPECT_TRUE(exists(flat + "/ro"));
}

TEST(zuFile, RemoveDirectoryTreeDoesNotFollowLinks) {
  tw::test::ScratchDir scratch;
  const std::string outside = scratch.file("outside");
  fs::create_directories(outside + "/sub");
  writeFile(outside + "/keep.txt", "keep");
  writeFile(outside + "/sub/keep2.txt", "keep");
  const std::string root = scratch.file("tree");
  fs::create_directories(root + "/inner");
  fs::create_directory_symlink(outside, root + "/inner/to-outside");
  fs::create_symlink(outside + "/keep.txt", root + "/file-link");
  fs::create_symlink(scratch.file("nowhere"), root + "/dangling");
  fs::create_directory_symlink(root, root + "/inner/cycle");

  EXPECT_TRUE(zuRemoveDirectoryTree(root));
  EXPECT_FALSE(exists(root));
  EXPECT_EQ(readFile(outside + "/keep.txt"), "keep");
  EXPECT_EQ(readFile(outside + "/sub/keep2.txt"), "keep");

  // Given a link as the tree itself, only the link goes.
  fs::create_directory_symlink(outside, scratch.file("top-link"));
  EXPECT_TRUE(zuRemoveDirectoryTree(scratch.file("top-link")));
  EXPECT_FALSE(exists(scratch.file("top-link")));
  EXPECT_EQ(readFile(outside + "/keep.txt"), "keep");
}

// --- files -----------------------------------------------------------------

TEST(zuFile, FileExists) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("f"), "x");
  fs::create_directory(scratch.file("d"));
  ASSERT_EQ(::mkfifo(scratch.file("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(zuFileExists(scratch.file("f")));
  EXPECT_TRUE(zuFileExists(scratch.path() + "\\f"));
  EXPECT_FALSE(zuFileExists(scratch.file("d")));  // a folder counts as missing
  EXPECT_FALSE(zuFileExists(scratch.file("missing")));
  EXPECT_FALSE(zuFileExists(""));
  EXPECT_TRUE(zuFileExists(scratch.file("fifo")));  // and the probe does not wait for a writer
}

TEST(zuFile, GetFileTime) {
  tw::test::ScratchDir scratch;
  const std::string file = scratch.file("f");
  writeFile(file, "x");
  struct timespec times[2] = {{1236429296, 789000000}, {1236429296, 789000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  {
    ScopedEnv tz("TZ", "XST-5:30");  // 5 h 30 min east of UTC, no daylight saving
    ::tzset();
    zuDate date;
    zuTimeOfDay time;
    ASSERT_TRUE(zuGetFileTime(scratch.path() + "\\f", date, time));
    EXPECT_EQ(date.day(), 7);
    EXPECT_EQ(date.month(), 3);
    EXPECT_EQ(date.year(), 2009);
    EXPECT_EQ(time.hour(), 18);
    EXPECT_EQ(time.minute(), 4);
    EXPECT_EQ(time.second(), 56);
    EXPECT_EQ(time.millisecond(), 789);

    date.set(1, 2, 2003);
    time.set(1, 2, 3, 4);
    EXPECT_FALSE(zuGetFileTime(scratch.file("missing"), date, time));
    EXPECT_FALSE(zuGetFileTime(scratch.path() + "/", date, time));
    EXPECT_EQ(date.day(), 1);  // untouched
    EXPECT_EQ(date.month(), 2);
    EXPECT_EQ(date.year(), 2003);
    EXPECT_EQ(time.toMilliseconds(), 3723004u);  // 01:02:03.004, untouched
  }
  ::tzset();
}

TEST(zuFile, DeleteFile) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("f"), "x");
  EXPECT_TRUE(zuDeleteFile(scratch.path() + "\\f"));
  EXPECT_FALSE(exists(scratch.file("f")));
  EXPECT_FALSE(zuDeleteFile(scratch.file("f")));

  writeFile(scratch.file("ro"), "x");
  ::chmod(scratch.file("ro").c_str(), 0444);
  EXPECT_FALSE(zuDeleteFile(scratch.file("ro")));  // read-only, whoever asks
  EXPECT_TRUE(exists(scratch.file("ro")));

  fs::create_directory(scratch.file("d"));
  EXPECT_FALSE(zuDeleteFile(scratch.file("d")));
  EXPECT_TRUE(exists(scratch.file("d")));

  fs::create_symlink(scratch.file("ro"), scratch.file("link"));
  EXPECT_TRUE(zuDeleteFile(scratch.file("link")));  // the link goes, its read-only target stays
  EXPECT_FALSE(exists(scratch.file("link")));
  EXPECT_TRUE(exists(scratch.file("ro")));
}

TEST(zuFile, MoveFile) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("a"), "new");
  writeFile(scratch.file("b"), "old");
  EXPECT_TRUE(zuMoveFile(scratch.file("a"), scratch.file("b")));  // replaces the target
  EXPECT_FALSE(exists(scratch.file("a")));
  EXPECT_EQ(readFile(scratch.file("b")), "new");
  EXPECT_FALSE(zuMoveFile(scratch.file("a"), scratch.file("c")));

  writeFile(scratch.file("ro"), "keep");
  ::chmod(scratch.file("ro").c_str(), 0444);
  EXPECT_FALSE(zuMoveFile(scratch.file("b"), scratch.file("ro")));
  EXPECT_EQ(readFile(scratch.file("ro")), "keep");
  EXPECT_TRUE(exists(scratch.file("b")));
}

TEST(zuFile, CopyFile) {
  tw::test::ScratchDir scratch;
  const std::string big(200000, 'q');
  writeFile(scratch.file("src"), big);
  ::chmod(scratch.file("src").c_str(), 0666);
  EXPECT_TRUE(zuCopyFile(scratch.file("src"), scratch.path() + "\\new"));
  EXPECT_EQ(readFile(scratch.file("new")), big);
  EXPECT_EQ(modeOf(scratch.file("new")), 0666u);  // a new target takes the source's mode

  writeFile(scratch.file("old"), std::string(300000, 'o'));
  ::chmod(scratch.file("old").c_str(), 0600);
  EXPECT_TRUE(zuCopyFile(scratch.file("src"), scratch.file("old")));
  EXPECT_EQ(readFile(scratch.file("old")), big);  // truncated, not just overwritten
  EXPECT_EQ(modeOf(scratch.file("old")), 0600u);  // an existing target keeps its mode

  EXPECT_FALSE(zuCopyFile(scratch.file("missing"), scratch.file("x")));
  EXPECT_FALSE(exists(scratch.file("x")));
  EXPECT_FALSE(zuCopyFile(scratch.file("src"), scratch.file("no/such/folder")));
  fs::create_directory(scratch.file("d"));
  EXPECT_FALSE(zuCopyFile(scratch.file("d"), scratch.file("x")));
  EXPECT_FALSE(zuCopyFile(scratch.file("src"), scratch.file("d")));

  writeFile(scratch.file("ro"), "keep");
  ::chmod(scratch.file("ro").c_str(), 0444);
  EXPECT_FALSE(zuCopyFile(scratch.file("src"), scratch.file("ro")));
  EXPECT_EQ(readFile(scratch.file("ro")), "keep");
}

TEST(zuFile, CopyFileOntoItselfIsRefused) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("f"), "content");
  fs::create_hard_link(scratch.file("f"), scratch.file("hard"));
  fs::create_symlink(scratch.file("f"), scratch.file("soft"));
  const std::string sameFile[] = {
      scratch.file("f"),    scratch.path() + "\\f", scratch.path() + "/./f",
      scratch.file("hard"), scratch.file("soft"),
  };
  for (const auto& target : sameFile) {
    EXPECT_FALSE(zuCopyFile(scratch.file("f"), target)) << target;
    EXPECT_EQ(readFile(scratch.file("f")), "content") << target;
  }
}

// --- temporary files -------------------------------------------------------

TEST(zuFile, TempPath) {
  tw::test::ScratchDir scratch;
  {
    ScopedEnv env("TMPDIR", scratch.path());
    EXPECT_EQ(zuGetTempPath(), scratch.path() + "/");
  }
  {
    ScopedEnv env("TMPDIR", scratch.path() + "/");
    EXPECT_EQ(zuGetTempPath(), scratch.path() + "/");
  }
  {
    ScopedEnv env("TMPDIR", std::nullopt);
    EXPECT_EQ(zuGetTempPath(), "/tmp/");
  }
  {
    ScopedEnv env("TMPDIR", "/" + std::string(258, 'x'));  // 260 bytes with the separator
    EXPECT_EQ(zuGetTempPath(), "");
  }
  {
    ScopedEnv env("TMPDIR", "/" + std::string(257, 'x'));
    EXPECT_EQ(zuGetTempPath().size(), 259u);
  }
}

TEST(zuFile, TempFileNamesAreUniqueNewFiles) {
  tw::test::ScratchDir scratch;
  const std::regex shape(R"(tmp[0-9A-F]{1,4}\.tmp)");
  std::set<std::string> names;
  for (int i = 0; i < 300; ++i) {
    const std::string path = zuGetTempFileName(scratch.path());
    ASSERT_FALSE(path.empty());
    std::string dir;
    std::string name;
    zuSplitPath(path, dir, name);
    EXPECT_EQ(dir, scratch.path() + "/");
    EXPECT_TRUE(std::regex_match(name, shape)) << name;
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_TRUE(names.insert(path).second) << path;
  }
}

TEST(zuFile, TempFileNamesAreExclusiveAcrossProcesses) {
  // After fork both processes count from the same number, so every name they
  // share is settled by the exclusive create alone.
  tw::test::ScratchDir scratch;
  constexpr int kEach = 200;
  const std::string first = zuGetTempFileName(scratch.path());  // the counter is set up here
  ASSERT_FALSE(first.empty());
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(fds[0]);
    std::string all;
    for (int i = 0; i < kEach; ++i) all += zuGetTempFileName(scratch.path()) + "\n";
    const ssize_t n = ::write(fds[1], all.data(), all.size());
    ::_exit(n == static_cast<ssize_t>(all.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::vector<std::string> mine;
  for (int i = 0; i < kEach; ++i) mine.push_back(zuGetTempFileName(scratch.path()));
  std::string theirs;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    theirs.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::set<std::string> all(mine.begin(), mine.end());
  all.insert(first);
  std::istringstream lines(theirs);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) all.insert(line);
  EXPECT_EQ(count, kEach);
  EXPECT_EQ(all.count(""), 0u);
  EXPECT_EQ(all.size(), 2u * kEach + 1);
  const auto onDisk = std::distance(fs::directory_iterator(scratch.path()), {});
  EXPECT_EQ(onDisk, 2 * kEach + 1);
}

TEST(zuFile, TempFileNameDefaultFolder) {
  tw::test::ScratchDir scratch;
  {
    ScopedEnv env("TMPDIR", scratch.path());
    const std::string path = zuGetTempFileName("");
    EXPECT_EQ(path.rfind(scratch.path() + "/tmp", 0), 0u) << path;
    EXPECT_TRUE(fs::is_regular_file(path));
  }
  {
    // Without a usable temporary folder the name is made in ".".
    ScopedCwd restore;
    fs::current_path(scratch.path());
    ScopedEnv env("TMPDIR", "/" + std::string(300, 'x'));
    const std::string path = zuGetTempFileName("");
    EXPECT_EQ(path.rfind("./tmp", 0), 0u) << path;
    EXPECT_TRUE(fs::is_regular_file(scratch.path() + "/" + path.substr(2)));
  }
  EXPECT_EQ(zuGetTempFileName(scratch.file("missing")), "");
}

// --- module path -----------------------------------------------------------

TEST(zuFile, ModulePath) {
  if (const char* marker = std::getenv("TW_LONG_MODULE_PATH_CHILD")) {
    // Run from a folder whose path does not fit 260 bytes (see below).
    EXPECT_EQ(zuGetModulePath(), "");
    EXPECT_EQ(zuGetModuleDirectory(), "");
    EXPECT_EQ(zuGetModuleFileName(), "");
    writeFile(marker, "ran");
    return;
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(zuGetModulePath(), self);
  EXPECT_EQ(zuGetModuleFileName(), "test_loam_base");
  ASSERT_FALSE(zuGetModuleDirectory().empty());
  EXPECT_TRUE(zuIsPathSeparator(zuGetModuleDirectory().back()));
  EXPECT_EQ(zuGetModuleDirectory() + zuGetModuleFileName(), self);
  EXPECT_EQ(&zuGetModulePath(), &zuGetModulePath());  // one cached string
}

TEST(zuFile, ModulePathTooLongIsEmpty) {
  tw::test::ScratchDir scratch;
  const std::string deep = makeLongFolder(scratch.path());
  const std::string copy = deep + "/test_loam_base";
  fs::copy_file("/proc/self/exe", copy);
  fs::permissions(copy, fs::perms::owner_all);

  std::vector<std::string> args = {copy, "--gtest_filter=zuFile.ModulePath"};
  const std::string marker = scratch.file("child-ran");
  std::vector<std::string> envs = {"TW_LONG_MODULE_PATH_CHILD=" + marker};
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readFile(marker), "ran");
}

// --- search ----------------------------------------------------------------

// The names find(1) gives for a case-blind pattern, leaving out folders and
// links to folders, as a set of '/' paths.
std::set<std::string> findINames(const std::string& dir, const std::string& pattern,
                                 bool recursive) {
  const std::string cmd = "LC_ALL=C find '" + dir + "' -mindepth 1 " +
                          (recursive ? "" : "-maxdepth 1 ") + "-iname '" + pattern +
                          "' ! -xtype d -print";
  std::set<std::string> out;
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return out;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s = line;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    out.insert(s);
  }
  ::pclose(pipe);
  return out;
}

class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.file("root");
    outside_ = scratch_.file("outside");
    for (const char* d : {"/Sub", "/Sub/Deeper", "/other", "/empty", "/x.dir"})
      fs::create_directories(root_ + d);
    for (const char* f : {"/a.txt", "/B.TXT", "/c.Txt", "/abc", "/aXc.log", "/.hidden.txt",
                          "/Sub/d.txt", "/Sub/README", "/Sub/Deeper/e.TXT", "/Sub/Deeper/abc",
                          "/other/f.txt.bak", "/other/ac", "/x.dir/y.txt"})
      writeFile(root_ + f, "x");
    fs::create_directories(outside_);
    writeFile(outside_ + "/out.txt", "x");
    fs::create_directory_symlink(outside_, root_ + "/Sub/to-outside");
    fs::create_directory_symlink(root_, root_ + "/other/cycle");
    fs::create_symlink(outside_ + "/out.txt", root_ + "/link.txt");
    fs::create_symlink(scratch_.file("nowhere"), root_ + "/dangling.txt");
  }

  tw::test::ScratchDir scratch_;
  std::string root_;
  std::string outside_;
};

TEST_F(FindFilesTest, MatchesFindAsSets) {
  for (const char* pattern : {"*.txt", "*.TXT", "a?c*", "*", "?", "*c", "*.*.*", "README"}) {
    for (bool recursive : {false, true}) {
      std::vector<std::string> found;
      zuFindFiles(root_, pattern, found, recursive);
      std::set<std::string> got;
      for (const auto& f : found) got.insert(slashes(f));
      EXPECT_EQ(got.size(), found.size()) << pattern;  // nothing listed twice
      EXPECT_EQ(got, findINames(root_, pattern, recursive))
          << pattern << (recursive ? " recursive" : "");
    }
  }
}

TEST_F(FindFilesTest, StarDotStarMatchesEveryName) {
  std::vector<std::string> found;
  zuFindFiles(root_, "*.*", found, true);
  std::set<std::string> got;
  for (const auto& f : found) got.insert(slashes(f));
  EXPECT_EQ(got, findINames(root_, "*", true));
}

TEST_F(FindFilesTest, OrderAndJoins) {
  std::vector<std::string> found = {"kept"};
  zuFindFiles(root_ + "/Sub", "*.txt", found, true);
  const std::vector<std::string> expected = {
      "kept",
      root_ + "/Sub/d.txt",
      root_ + "/Sub/Deeper/e.TXT",
  };
  EXPECT_EQ(found, expected);

  found.clear();
  zuFindFiles(root_, "*.txt", found, false);
  const std::vector<std::string> top = {
      root_ + "/.hidden.txt", root_ + "/a.txt",        root_ + "/B.TXT",
      root_ + "/c.Txt",       root_ + "/dangling.txt", root_ + "/link.txt",
  };
  EXPECT_EQ(found, top);  // sorted by name without regard to case
}

TEST_F(FindFilesTest, NothingFound) {
  std::vector<std::string> found = {"kept"};
  zuFindFiles(root_, "*.none", found, true);
  zuFindFiles(scratch_.file("missing"), "*", found, true);
  zuFindFiles(root_ + "/empty", "*", found, false);
  EXPECT_EQ(found, std::vector<std::string>{"kept"});
}

}  // namespace
