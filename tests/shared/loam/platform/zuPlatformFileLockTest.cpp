#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "loam/platform/zuPlatformFileLock.h"
#include "support/TestSupport.h"

namespace {

using namespace zuPlatform;
namespace fs = std::filesystem;

TEST(PlatformFileLock, SecondTakerFailsUntilReleaseWhichDeletesTheFile) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("lock");
  const Handle first = acquireLockFile(path);
  ASSERT_TRUE(isValidHandle(first));
  EXPECT_NE(fcntl(first, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(isValidHandle(acquireLockFile(path)));
  EXPECT_TRUE(fs::exists(path));  // a failed take leaves the holder's file alone
  releaseLockFile(first, path);
  EXPECT_FALSE(fs::exists(path));
  const Handle second = acquireLockFile(path);
  EXPECT_TRUE(isValidHandle(second));
  releaseLockFile(second, path);
}

TEST(PlatformFileLock, FileLeftWithoutHolderIsTakenOver) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("lock");
  std::ofstream(path) << "1234";  // as left behind by a holder that crashed
  const Handle h = acquireLockFile(path);
  ASSERT_TRUE(isValidHandle(h));
  EXPECT_EQ(fs::file_size(path), 0u);  // a fresh file, as a new holder gets
  releaseLockFile(h, path);
  EXPECT_FALSE(fs::exists(path));
}

TEST(PlatformFileLock, FailsWithoutWaitingOnBadPaths) {
  tw::test::ScratchDir dir;
  EXPECT_FALSE(isValidHandle(acquireLockFile("")));
  EXPECT_FALSE(isValidHandle(acquireLockFile(dir.file("no/such/folder/lock"))));
}

TEST(PlatformFileLock, RemoveRefusesAHeldFile) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("lock");
  const Handle h = acquireLockFile(path);
  ASSERT_TRUE(isValidHandle(h));
  EXPECT_FALSE(removeUnheldLockFile(path));
  EXPECT_TRUE(fs::exists(path));
  // Deleting it would let a second taker in beside the holder.
  EXPECT_FALSE(isValidHandle(acquireLockFile(path)));
  releaseLockFile(h, path);
  std::ofstream(path) << "x";
  EXPECT_TRUE(removeUnheldLockFile(path));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(removeUnheldLockFile(path));
}

// Many takers racing on create, stale check and release: never two holders.
TEST(PlatformFileLock, ContendedTakersNeverHoldTogether) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("lock");
  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> takes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        const Handle h = acquireLockFile(path);
        if (!isValidHandle(h)) continue;
        if (holders.fetch_add(1) != 0) overlaps.fetch_add(1);
        takes.fetch_add(1);
        // Hold a moment so another taker that wrongly gets in is seen.
        for (int y = 0; y < 20; ++y) std::this_thread::yield();
        holders.fetch_sub(1);
        releaseLockFile(h, path);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_GT(takes.load(), 0);
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
