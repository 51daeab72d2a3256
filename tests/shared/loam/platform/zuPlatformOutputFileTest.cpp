#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
