#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "loam/platform/zuPlatformOutputFile.h"
#include "support/TestSupport.h"

namespace {

using tw::test::openFlagsOf;

TEST(PlatformOutputFile, OpensCloseOnExecInBinaryMode) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("a.txt");
  auto out = zuPlatform::openOutputFile(path);
  const auto* file = dynamic_cast<const std::filebuf*>(out->rdbuf());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->is_open());
  const long flags = openFlagsOf(path);
  ASSERT_NE(flags, -1);
  EXPECT_NE(flags & 02000000, 0) << "O_CLOEXEC";
  *out << "a\nb\r\n";
  out.reset();
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "a\nb\r\n");
}

TEST(PlatformOutputFile, FailureGivesAStreamWithNoFile) {
  tw::test::ScratchDir dir;
  auto out = zuPlatform::openOutputFile(dir.file("none/a.txt"));
  const auto* file = dynamic_cast<const std::filebuf*>(out->rdbuf());
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->is_open());
  EXPECT_TRUE(out->fail());
}

// The descriptor this process has open for path; -1 when none.
int descriptorOf(const std::string& path) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) == fs::path(path))
      return std::stoi(entry.path().filename().string());
  }
  return -1;
}

// Whether a program started now has descriptor fd open.
bool childInherits(int fd) {
  const std::string test = "[ -e /proc/self/fd/" + std::to_string(fd) + " ]";
  const char* argv[] = {"/bin/sh", "-c", test.c_str(), nullptr};
  pid_t child = 0;
  if (::posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return true;
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PlatformInputFile, ReadsAndSeeksAndIsNotInherited) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("in.bin");
  tw::test::writeFile(path, std::string("a\0b\r\n", 5));
  auto in = zuPlatform::openInputFile(path);
  ASSERT_FALSE(in->fail());
  ASSERT_TRUE(in->seekg(0, std::ios::end));
  EXPECT_EQ(in->tellg(), 5);
  in->seekg(0);
  std::stringstream text;
  text << in->rdbuf();
  EXPECT_EQ(text.str(), std::string("a\0b\r\n", 5));
  EXPECT_NE(openFlagsOf(path) & 02000000, 0) << "O_CLOEXEC";
  const int fd = descriptorOf(path);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(childInherits(fd));
  // The probe itself sees a descriptor that is inherited.
  const int plain = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(plain, 0);
  EXPECT_TRUE(childInherits(plain));
  ::close(plain);
  in.reset();
  EXPECT_EQ(descriptorOf(path), -1);
}

TEST(PlatformInputFile, FailureGivesAFailedStream) {
  tw::test::ScratchDir dir;
  auto in = zuPlatform::openInputFile(dir.file("missing"));
  EXPECT_TRUE(in->fail());
  char c = 0;
  EXPECT_FALSE(in->get(c));
}

// A path that came from the network is judged by what it opened: each of
// these passed the path checks before it was swapped, or lies there as
// planted by a local user. None of them may block or lead outside the root.
TEST(PlatformOutputFile, FileInsideTheRootIsCheckedOnItsDescriptor) {
  tw::test::ScratchDir dir;
  namespace fs = std::filesystem;
  const std::string root = dir.file("root");
  const std::string outside = dir.file("outside");
  fs::create_directories(root + "/sub");
  fs::create_directories(outside);
  tw::test::writeFile(outside + "/secret", "secret");
  tw::test::writeFile(root + "/plain", "plain");
  fs::create_symlink(outside + "/secret", root + "/link");
  fs::create_symlink(root + "/plain", root + "/inner-link");
  ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0600), 0);
  // "swapped": the folder, once checked, replaced by a link to elsewhere.
  fs::create_directory_symlink(outside, root + "/swapped");
  // A second name inside for a file outside: readable, never written.
  tw::test::writeFile(outside + "/linked", "linked");
  fs::create_hard_link(outside + "/linked", root + "/hard");
  // Errors 0: opened. A pipe without a reader refuses a writer at once.
  struct Case {
    const char* name;
    int readError;
    int writeError;
  };
  for (const Case& c :
       {Case{"plain", 0, 0}, Case{"link", ELOOP, ELOOP}, Case{"inner-link", ELOOP, ELOOP},
        Case{"pipe", EACCES, ENXIO}, Case{"sub", EISDIR, EISDIR},
        Case{"swapped/secret", EACCES, EACCES}, Case{"hard", 0, EACCES}}) {
    SCOPED_TRACE(c.name);
    const std::string path = root + "/" + c.name;
    int error = -1;
    auto in = zuPlatform::openInputFileInside(path, root, error);
    EXPECT_EQ(error, c.readError);
    EXPECT_EQ(in != nullptr, c.readError == 0);
    error = -1;
    auto out = zuPlatform::openOutputFileInside(path, root, error);
    EXPECT_EQ(error, c.writeError);
    EXPECT_EQ(out != nullptr, c.writeError == 0);
  }
  // Refused before anything was written or emptied; the one allowed file was
  // emptied for writing.
  EXPECT_EQ(tw::test::readFile(outside + "/secret"), "secret");
  EXPECT_EQ(tw::test::readFile(outside + "/linked"), "linked");
  EXPECT_EQ(tw::test::readFile(root + "/plain"), "");
  // A root that does not resolve refuses everything.
  int error = 0;
  EXPECT_EQ(zuPlatform::openInputFileInside(root + "/plain", dir.file("none"), error), nullptr);
  EXPECT_EQ(error, EACCES);
}

TEST(PlatformOutputFile, ModeIsSetOnTheStreamsOwnFile) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("f");
  tw::test::writeFile(path, "");
  int error = 0;
  auto out = zuPlatform::openOutputFileInside(path, dir.path(), error);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(zuPlatform::setStreamFileMode(*out, 0640), 0);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  std::ostringstream other;
  EXPECT_EQ(zuPlatform::setStreamFileMode(other, 0640), EBADF);
}

}  // namespace
