#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformPrivateFile.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

TEST(zuPlatformPrivateFile, StaleFoldersOfGoneProcessesOnlyAreRemoved) {
  tw::test::ScratchDir scratch;
  std::string own;
  ASSERT_EQ(zuPlatform::createPrivateFolder(scratch.path(), "ua-upgrade-", own), 0);
  EXPECT_EQ(fs::path(own).filename().string().rfind("ua-upgrade-" + std::to_string(::getpid()) +
                                                        "-", 0),
            0u);
  const std::string dead = std::to_string(tw::test::goneProcessId());
  // Ended, its parent not done with it yet: as a killed service until init reaps it.
  const tw::test::UnreapedChild zombie;
  const std::string ended = std::to_string(zombie.pid());
  const std::string live = std::to_string(::getppid());
  tw::test::writeFile(scratch.file("outside"), "kept");
  auto make = [&](const std::string& name, mode_t mode) {
    fs::create_directory(scratch.file(name));
    ::chmod(scratch.file(name).c_str(), mode);
  };
  // The killed one's, with a file, a folder and a link out: all goes but
  // what the link points to.
  make("ua-upgrade-" + dead + "-abcdef", 0700);
  tw::test::writeFile(scratch.file("ua-upgrade-" + dead + "-abcdef/install.msi"), "x");
  fs::create_directory(scratch.file("ua-upgrade-" + dead + "-abcdef/sub"));
  fs::create_symlink(scratch.file("outside"),
                     scratch.file("ua-upgrade-" + dead + "-abcdef/sub/link"));
  make("ua-upgrade-" + ended + "-ghijkl", 0700);
  tw::test::writeFile(scratch.file("ua-upgrade-" + ended + "-ghijkl/install.sh"), "x");
  const std::vector<std::string> kept = {
      "ua-upgrade-" + live + "-abcdef",  // a live agent's
      "ua-upgrade-" + dead + "-open00",  // open to others: not one we made
      "ua-upgrade-" + dead + "-abcdefg",
      "ua-upgrade--abcdef",
      "ua-upgrade-abcdef",
      "other-" + dead + "-abcdef",
  };
  for (const std::string& name : kept) make(name, name.ends_with("open00") ? 0755 : 0700);
  fs::create_directory_symlink(own, scratch.file("ua-upgrade-" + dead + "-linked"));

  zuPlatform::removeStalePrivateFolders(scratch.path(), "ua-upgrade-");
  EXPECT_FALSE(fs::exists(scratch.file("ua-upgrade-" + dead + "-abcdef")));
  EXPECT_FALSE(fs::exists(scratch.file("ua-upgrade-" + ended + "-ghijkl")));
  EXPECT_EQ(tw::test::readFile(scratch.file("outside")), "kept");
  EXPECT_TRUE(fs::is_directory(own));
  for (const std::string& name : kept) EXPECT_TRUE(fs::is_directory(scratch.file(name))) << name;
  EXPECT_TRUE(fs::is_symlink(scratch.file("ua-upgrade-" + dead + "-linked")));
}

// A process whose first thread ended reads as a zombie in /proc while its
// other threads run: it is not done with its folder.
TEST(zuPlatformPrivateFile, FolderOfARunningProcessWhoseFirstThreadEndedIsKept) {
  tw::test::ScratchDir scratch;
  const pid_t pid = tw::test::spawnHelper({"leader-ends"});
  ASSERT_GT(pid, 0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{pid};
  const auto state = [&] {
    const std::string stat = tw::test::readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
  };
  ASSERT_TRUE(tw::test::eventually([&] { return state() == 'Z'; }));
  const std::string name = "ua-upgrade-" + std::to_string(pid) + "-abcdef";
  fs::create_directory(scratch.file(name));
  ::chmod(scratch.file(name).c_str(), 0700);

  zuPlatform::removeStalePrivateFolders(scratch.path(), "ua-upgrade-");
  EXPECT_TRUE(fs::is_directory(scratch.file(name)));
  // Once the whole process has ended, reaped or not, the folder goes.
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_TRUE(tw::test::waitForExit(pid));
  zuPlatform::removeStalePrivateFolders(scratch.path(), "ua-upgrade-");
  EXPECT_FALSE(fs::exists(scratch.file(name)));
}

}  // namespace
