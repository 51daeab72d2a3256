#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformFile.h"
#include "support/TestSupport.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace zuPlatform;

namespace {

using tw::test::writeFile;

std::vector<std::string> names(const std::vector<FindData>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.name);
  return out;
}

const FindData* entry(const std::vector<FindData>& entries, const std::string& name) {
  for (const auto& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

TEST(zuPlatformFile, NativePath) {
  EXPECT_EQ(nativePath("a\\b/c\\"), "a/b/c/");
  EXPECT_EQ(nativePath(""), "");
}

TEST(zuPlatformFile, ErrnoToWindowsError) {
  const std::pair<int, u32> cases[] = {
      {0, 0},           {ENOENT, 2},   {ENOTDIR, 3},    {EACCES, 5},
      {EPERM, 5},       {EISDIR, 5},   {ETXTBSY, 32},   {EEXIST, 183},
      {ENOTEMPTY, 145}, {ENOSPC, 112}, {EXDEV, 17},     {ENAMETOOLONG, 206},
      {EMFILE, 4},      {EINVAL, 87},  {EOVERFLOW, 31}, {EROFS, 19},
  };
  for (const auto& [err, win] : cases) EXPECT_EQ(errorFromErrno(err), win) << err;
  // A caller may name what an errno outside the table stands for.
  EXPECT_EQ(errorFromErrno(EOVERFLOW, kErrorRegistryIoFailed), kErrorRegistryIoFailed);
  EXPECT_EQ(errorFromErrno(ENOENT, kErrorRegistryIoFailed), kErrorFileNotFound);
}

TEST(zuPlatformFile, MatchFileName) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "anything", true},
      {"*", "", true},
      {"*.*", "noext", true},  // "*.*" is every name, dot or not
      {"*.*", ".", true},
      {"*.txt", "A.TXT", true},
      {"*.TXT", "a.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXcYYb", false},
      {"*a*", "bab", true},
      {"**x", "x", true},
      {"abc", "ABC", true},
      {"abc", "abcd", false},
      {"?", "", false},
      {"\xC3\xA9*", "\xC3\x89x", false},  // only ASCII letters are folded
  };
  for (const auto& c : cases)
    EXPECT_EQ(matchFileName(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_.path();
    for (const char* f : {"b.txt", "A.TXT", "c.Txt", "noext", "Zed.log", "a.txt"})
      writeFile(dir_ + "/" + f, "x");
    fs::create_directory(dir_ + "/Sub");
    fs::create_directory_symlink(dir_ + "/Sub", dir_ + "/dirlink");
    fs::create_symlink(dir_ + "/b.txt", dir_ + "/filelink");
    ::chmod((dir_ + "/c.Txt").c_str(), 0444);
  }

  tw::test::ScratchDir scratch_;
  std::string dir_;
};

TEST_F(SearchTest, StarDotStarListsEverythingSortedWithoutCase) {
  std::vector<FindData> out;
  ASSERT_EQ(searchFiles(dir_ + "\\*.*", out), 0u);
  const std::vector<std::string> expected = {".",     "..",    "A.TXT",   "a.txt",
                                             "b.txt", "c.Txt", "dirlink", "filelink",
                                             "noext", "Sub",   "Zed.log"};
  EXPECT_EQ(names(out), expected);
  EXPECT_TRUE(entry(out, ".")->directory);
  EXPECT_TRUE(entry(out, "..")->directory);
  EXPECT_TRUE(entry(out, "Sub")->directory);
  EXPECT_FALSE(entry(out, "Sub")->link);
  EXPECT_TRUE(entry(out, "dirlink")->directory);  // a folder link is marked as Windows marks it
  EXPECT_TRUE(entry(out, "dirlink")->link);
  EXPECT_FALSE(entry(out, "filelink")->directory);
  EXPECT_TRUE(entry(out, "filelink")->link);
  EXPECT_FALSE(entry(out, "b.txt")->directory);
  EXPECT_FALSE(entry(out, "b.txt")->link);
  EXPECT_TRUE(entry(out, "c.Txt")->readOnly);
  EXPECT_FALSE(entry(out, "b.txt")->readOnly);
  EXPECT_EQ(entry(out, "b.txt")->size, 1u);
}

TEST_F(SearchTest, PatternIgnoresCase) {
  std::vector<FindData> out;
  ASSERT_EQ(searchFiles(dir_ + "/*.TXT", out), 0u);
  EXPECT_EQ(names(out), (std::vector<std::string>{"A.TXT", "a.txt", "b.txt", "c.Txt"}));
  ASSERT_EQ(searchFiles(dir_ + "/?ed.*", out), 0u);
  EXPECT_EQ(names(out), std::vector<std::string>{"Zed.log"});
}

TEST_F(SearchTest, LiteralNameIsOneEntry) {
  std::vector<FindData> out;
  ASSERT_EQ(searchFiles(dir_ + "/Sub", out), 0u);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].name, "Sub");
  EXPECT_TRUE(out[0].directory);
  EXPECT_EQ(searchFiles(dir_ + "/sub", out), kFileErrorFileNotFound);  // names are exact
  EXPECT_TRUE(out.empty());
}

TEST_F(SearchTest, Failures) {
  std::vector<FindData> out;
  EXPECT_EQ(searchFiles(dir_ + "/Sub/", out), kFileErrorFileNotFound);
  EXPECT_EQ(searchFiles(dir_ + "\\Sub\\", out), kFileErrorFileNotFound);
  EXPECT_EQ(searchFiles("", out), kFileErrorFileNotFound);
  EXPECT_EQ(searchFiles(dir_ + "/*.none", out), kFileErrorFileNotFound);
  EXPECT_EQ(searchFiles(dir_ + "/missing/*.*", out), kFileErrorPathNotFound);
  EXPECT_EQ(searchFiles(dir_ + "/b.txt/*", out), kFileErrorPathNotFound);
  EXPECT_EQ(searchFiles(dir_ + "/missing", out), kFileErrorFileNotFound);
  EXPECT_TRUE(out.empty());
}

TEST_F(SearchTest, LastWriteTime) {
  const std::string file = dir_ + "/b.txt";
  struct timespec times[2] = {{1236429296, 789000000}, {1236429296, 789000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  FindData data;
  ASSERT_EQ(fileInfo(file, data), 0u);
  EXPECT_EQ(data.lastWrite.seconds, 1236429296);
  EXPECT_EQ(data.lastWrite.nanoseconds, 789000000u);
  std::vector<FindData> out;
  ASSERT_EQ(searchFiles(dir_ + "/b.*", out), 0u);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].lastWrite.seconds, 1236429296);
  EXPECT_EQ(out[0].lastWrite.nanoseconds, 789000000u);
}

TEST(zuPlatformFile, DeleteHonoursReadOnly) {
  tw::test::ScratchDir scratch;
  const std::string ro = scratch.file("ro");
  writeFile(ro, "x");
  ::chmod(ro.c_str(), 0444);
  EXPECT_EQ(deleteFile(ro), kFileErrorAccessDenied);
  EXPECT_TRUE(fs::exists(ro));
  ::chmod(ro.c_str(), 0644);
  EXPECT_EQ(deleteFile(ro), 0u);
  EXPECT_EQ(deleteFile(ro), kFileErrorFileNotFound);
  EXPECT_EQ(deleteFile(scratch.file("no/such")), kFileErrorFileNotFound);
  EXPECT_EQ(deleteFile(scratch.path()), kFileErrorAccessDenied);
}

TEST(zuPlatformFile, Folders) {
  tw::test::ScratchDir scratch;
  EXPECT_EQ(createDirectory(scratch.file("d")), 0u);
  EXPECT_EQ(createDirectory(scratch.file("d")), kFileErrorAlreadyExists);
  EXPECT_EQ(createDirectory(scratch.file("x/y")), kFileErrorPathNotFound);
  writeFile(scratch.file("d/f"), "x");
  EXPECT_EQ(removeDirectory(scratch.file("d")), kFileErrorDirNotEmpty);
  EXPECT_EQ(removeDirectory(scratch.file("d/f")), kFileErrorDirectory);
  EXPECT_EQ(removeDirectory(scratch.file("gone")), kFileErrorFileNotFound);
}

TEST(zuPlatformFile, CopyErrors) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("f"), "x");
  EXPECT_EQ(copyFile(scratch.file("f"), scratch.path() + "\\f"), kFileErrorSharingViolation);
  EXPECT_EQ(copyFile(scratch.file("missing"), scratch.file("g")), kFileErrorFileNotFound);
  EXPECT_EQ(copyFile(scratch.file("f"), scratch.file("no/g")), kFileErrorPathNotFound);
}

TEST(zuPlatformFile, CopyOntoRunningExecutableIsSharingViolation) {
  tw::test::ScratchDir scratch;
  const std::string program = scratch.file("sleeper");
  fs::copy_file("/bin/sleep", program);
  fs::permissions(program, fs::perms::owner_all);
  writeFile(scratch.file("new"), "replacement");

  std::string arg0 = program;
  std::string arg1 = "60";
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = 0;
  // posix_spawn returns once the program runs, so its file is busy from here on.
  ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  const u32 err = copyFile(scratch.file("new"), program);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(err, kFileErrorSharingViolation);
  EXPECT_EQ(fs::file_size(program), fs::file_size("/bin/sleep"));  // left whole
}

TEST(zuPlatformFile, TempFileErrors) {
  tw::test::ScratchDir scratch;
  std::string out = "unchanged";
  EXPECT_EQ(createTempFile(scratch.file("missing"), "tmp", out), kFileErrorPathNotFound);
  EXPECT_EQ(out, "unchanged");
  ASSERT_EQ(createTempFile(scratch.path() + "/", "abcdef", out), 0u);
  EXPECT_EQ(out.rfind(scratch.path() + "/abc", 0), 0u) << out;  // three prefix letters at most
  EXPECT_EQ(out.find("//"), std::string::npos);
}

TEST(zuPlatformFile, ModulePathIsTheRunningProgram) {
  std::string path;
  ASSERT_EQ(modulePath(path), 0u);
  EXPECT_EQ(path, fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(path.find('\0'), std::string::npos);
}

// --- whole-file read and atomic replacement ------------------------------

using tw::test::folderNames;

using tw::test::ScopedFileSizeLimit;

TEST(zuPlatformFile, ReadFile) {
  tw::test::ScratchDir scratch;
  const std::string bytes("a\0b\r\n", 5);
  writeFile(scratch.file("f"), bytes);
  std::string out = "old";
  ASSERT_EQ(readFile(scratch.path() + "\\f", out), 0u);
  EXPECT_EQ(out, bytes);

  ASSERT_EQ(::mkfifo(scratch.file("fifo").c_str(), 0600), 0);
  const std::pair<std::string, u32> refused[] = {
      {scratch.file("missing"), kFileErrorFileNotFound},
      {scratch.path(), kFileErrorAccessDenied},
      {scratch.file("fifo"), kFileErrorAccessDenied},  // no writer: must not hang
  };
  for (const auto& [path, err] : refused) {
    out = "old";
    EXPECT_EQ(readFile(path, out), err) << path;
    EXPECT_EQ(out, "old") << path;
  }
}

TEST(zuPlatformFile, WriteAtomicallyReplacesAndKeepsTheMode) {
  tw::test::ScratchDir scratch;
  const std::string path = scratch.file("prefs.cfg");
  writeFile(path, "old contents that are longer");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  FileTime written;
  ASSERT_EQ(writeFileAtomically(path, "new", &written), 0u);
  EXPECT_EQ(tw::test::readFile(path), "new");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777u, 0640u);
  EXPECT_EQ(written.seconds, st.st_mtim.tv_sec);
  EXPECT_EQ(written.nanoseconds, static_cast<u32>(st.st_mtim.tv_nsec));
  EXPECT_EQ(folderNames(scratch.path()),
            std::vector<std::string>{"prefs.cfg"});  // no temporary left

  ASSERT_EQ(writeFileAtomically(scratch.path() + "\\fresh", ""), 0u);  // created, empty
  EXPECT_TRUE(fs::is_regular_file(scratch.file("fresh")));
  EXPECT_EQ(fs::file_size(scratch.file("fresh")), 0u);
}

TEST(zuPlatformFile, SecretFilesAreOwnerOnlyNewOrReplaced) {
  tw::test::ScratchDir scratch;
  const std::string fresh = scratch.file("id_rsa");
  const std::string replaced = scratch.file("old_key");
  writeFile(replaced, "old");
  ASSERT_EQ(::chmod(replaced.c_str(), 0644), 0);
  const mode_t oldMask = ::umask(0);  // a permissive umask must not widen the mode
  const u32 freshResult = writeSecretFileAtomically(fresh, "secret");
  const u32 replacedResult = writeSecretFileAtomically(replaced, "secret");
  ::umask(oldMask);
  ASSERT_EQ(freshResult, 0u);
  ASSERT_EQ(replacedResult, 0u);
  for (const std::string& path : {fresh, replaced}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, 0600u) << path;
    EXPECT_EQ(tw::test::readFile(path), "secret");
  }
  EXPECT_EQ(folderNames(scratch.path()), (std::vector<std::string>{"id_rsa", "old_key"}));
}

TEST(zuPlatformFile, WriteAtomicallyFollowsALink) {
  tw::test::ScratchDir scratch;
  fs::create_directory(scratch.file("real"));
  writeFile(scratch.file("real/prefs.cfg"), "old");
  fs::create_symlink("real/prefs.cfg", scratch.file("link.cfg"));
  ASSERT_EQ(writeFileAtomically(scratch.file("link.cfg"), "new"), 0u);
  EXPECT_TRUE(fs::is_symlink(scratch.file("link.cfg")));
  EXPECT_EQ(tw::test::readFile(scratch.file("real/prefs.cfg")), "new");
  EXPECT_EQ(folderNames(scratch.file("real")), std::vector<std::string>{"prefs.cfg"});
}

TEST(zuPlatformFile, WriteAtomicallyRefusals) {
  tw::test::ScratchDir scratch;
  writeFile(scratch.file("readonly"), "kept");
  ASSERT_EQ(::chmod(scratch.file("readonly").c_str(), 0444), 0);
  fs::create_directory(scratch.file("folder"));
  ASSERT_EQ(::mkfifo(scratch.file("fifo").c_str(), 0600), 0);
  const std::pair<std::string, u32> cases[] = {
      {scratch.file("readonly"), kFileErrorAccessDenied},  // refused even for root
      {scratch.file("folder"), kFileErrorAccessDenied},
      {scratch.file("fifo"), kFileErrorAccessDenied},
      {scratch.file("missing/prefs.cfg"), kFileErrorPathNotFound},
      {scratch.path() + "/", kFileErrorPathNotFound},
      {"", kFileErrorPathNotFound},
  };
  for (const auto& [path, err] : cases) EXPECT_EQ(writeFileAtomically(path, "new"), err) << path;
  EXPECT_EQ(tw::test::readFile(scratch.file("readonly")), "kept");
  EXPECT_EQ(folderNames(scratch.path()), (std::vector<std::string>{"fifo", "folder", "readonly"}));
}

TEST(zuPlatformFile, WriteRefusedHalfwayLeavesTheOldFileWhole) {
  tw::test::ScratchDir scratch;
  const std::string path = scratch.file("prefs.cfg");
  writeFile(path, "old");
  {
    ScopedFileSizeLimit limit(4096);
    EXPECT_NE(writeFileAtomically(path, std::string(64 * 1024, 'x')), 0u);
  }
  EXPECT_EQ(tw::test::readFile(path), "old");
  EXPECT_EQ(folderNames(scratch.path()), std::vector<std::string>{"prefs.cfg"});
}

TEST(zuPlatformFile, WriteAtomicallyRemovesTemporaryFilesOfDeadWritersOnly) {
  tw::test::ScratchDir scratch;
  const std::string path = scratch.file("prefs.cfg");
  writeFile(path, "old");
  const std::string dead = std::to_string(tw::test::goneProcessId());
  const tw::test::UnreapedChild zombie;
  const std::string ended = std::to_string(zombie.pid());
  const std::string live = std::to_string(::getppid());
  const std::string self = std::to_string(::getpid());
  fs::create_directory(scratch.file("prefs.cfg.tmp." + dead + ".7"));
  fs::create_symlink("prefs.cfg", scratch.file("prefs.cfg.tmp." + dead + ".8"));
  const std::pair<std::string, bool> files[] = {
      {"prefs.cfg.tmp." + dead + ".0", false},  // its writer was killed
      {"prefs.cfg.tmp." + dead + ".12", false},
      {"prefs.cfg.tmp." + ended + ".3", false},  // ended, not reaped yet
      {"prefs.cfg.tmp." + live + ".0", true},    // its writer may be writing
      {"prefs.cfg.tmp." + self + ".99", true},
      {"other.cfg.tmp." + dead + ".0", true},  // another file's
      {"prefs.cfg.tmp." + dead, true},         // not our pattern
      {"prefs.cfg.tmp." + dead + ".1x", true},
      {"prefs.cfg.tmp.x" + dead + ".1", true},
      {"prefs.cfg.tmp.." + dead, true},
      {"xprefs.cfg.tmp." + dead + ".0", true},
  };
  for (const auto& [name, kept] : files) writeFile(scratch.file(name), "left");
  ASSERT_EQ(writeFileAtomically(path, "new"), 0u);
  EXPECT_EQ(tw::test::readFile(path), "new");
  for (const auto& [name, kept] : files) EXPECT_EQ(fs::exists(scratch.file(name)), kept) << name;
  EXPECT_TRUE(fs::is_directory(scratch.file("prefs.cfg.tmp." + dead + ".7")));
  EXPECT_TRUE(fs::is_symlink(scratch.file("prefs.cfg.tmp." + dead + ".8")));
}

}  // namespace
