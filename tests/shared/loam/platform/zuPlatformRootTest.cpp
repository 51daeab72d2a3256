#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "loam/platform/zuPlatformFile.h"
#include "loam/platform/zuPlatformRoot.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Sets (or with nullopt unsets) the platform root for one scope.
class ScopedRoot : public tw::test::ScopedEnv {
 public:
  explicit ScopedRoot(std::optional<std::string> value)
      : ScopedEnv(zuPlatform::kPlatformRootVariable, std::move(value)) {}
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
