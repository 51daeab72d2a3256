#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "loam/platform/zuPlatformOutputFile.h"
#include "support/TestSupport.h"

namespace {

// The open flags of the descriptor behind path, from /proc/self/fdinfo.
long openFlagsOf(const std::string& path) {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) != fs::path(path)) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        return std::stol(octal, nullptr, 8);
      }
    }
  }
  return -1;
}

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

}  // namespace
