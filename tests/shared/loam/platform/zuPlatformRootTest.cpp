#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformRoot.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class ScopedRoot {
 public:
  explicit ScopedRoot(std::optional<std::string> value) {
    if (const char* old = std::getenv(zuPlatform::kPlatformRootVariable)) old_ = old;
    if (value)
      ::setenv(zuPlatform::kPlatformRootVariable, value->c_str(), 1);
    else
      ::unsetenv(zuPlatform::kPlatformRootVariable);
  }
  ~ScopedRoot() {
    if (old_)
      ::setenv(zuPlatform::kPlatformRootVariable, old_->c_str(), 1);
    else
      ::unsetenv(zuPlatform::kPlatformRootVariable);
  }
  ScopedRoot(const ScopedRoot&) = delete;
  ScopedRoot& operator=(const ScopedRoot&) = delete;

 private:
  std::optional<std::string> old_;
};

TEST(zuPlatformRoot, RootFolder) {
  {
    ScopedRoot root(std::nullopt);
    EXPECT_EQ(zuPlatform::rootFolder(), "/var/lib/tarnwell");
  }
  {
    ScopedRoot root{std::string()};
    EXPECT_EQ(zuPlatform::rootFolder(), "/var/lib/tarnwell");
  }
  {
    ScopedRoot root("/srv/tw//");
    EXPECT_EQ(zuPlatform::rootFolder(), "/srv/tw");
  }
  {
    ScopedRoot root("/");
    EXPECT_EQ(zuPlatform::rootFolder(), "/");
  }
}

TEST(zuPlatformRoot, CommonAppDataFolder) {
  tw::test::ScratchDir scratch;
  ScopedRoot root(scratch.file("machine"));
  std::string folder = "unchanged";
  EXPECT_EQ(zuPlatform::commonAppDataFolder(folder, false), zuPlatform::kFileErrorFileNotFound);
  EXPECT_EQ(folder, "unchanged");
  ASSERT_EQ(zuPlatform::commonAppDataFolder(folder, true), 0u);  // root and folder made
  EXPECT_EQ(folder, scratch.file("machine/ProgramData"));
  EXPECT_TRUE(fs::is_directory(folder));
  folder.clear();
  EXPECT_EQ(zuPlatform::commonAppDataFolder(folder, false), 0u);
  EXPECT_EQ(folder, scratch.file("machine/ProgramData"));
}

TEST(zuPlatformRoot, CommonAppDataFolderBlockedByAFile) {
  tw::test::ScratchDir scratch;
  std::ofstream(scratch.file("machine")) << "not a folder";
  ScopedRoot root(scratch.file("machine"));
  std::string folder;
  EXPECT_NE(zuPlatform::commonAppDataFolder(folder, true), 0u);
  EXPECT_TRUE(folder.empty());
}

}  // namespace
