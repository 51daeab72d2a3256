#include <gtest/gtest.h>

#include "loam/platform/zuPlatformAppendFile.h"
#include "support/TestSupport.h"

namespace {

using tw::test::readFile;

TEST(PlatformAppendFile, CreatesAppendsAndReportsFailure) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("log.txt");
  EXPECT_TRUE(zuPlatform::appendToFile(path, "one\n"));
  EXPECT_TRUE(zuPlatform::appendToFile(path, std::string_view("two\0\n", 5)));
  EXPECT_TRUE(zuPlatform::appendToFile(path, ""));
  EXPECT_EQ(readFile(path), std::string("one\ntwo\0\n", 9));
  EXPECT_FALSE(zuPlatform::appendToFile(dir.file("missing/log.txt"), "x"));
  EXPECT_FALSE(zuPlatform::appendToFile(dir.path(), "x")) << "a folder";
}

}  // namespace
