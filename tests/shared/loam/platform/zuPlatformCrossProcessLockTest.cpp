#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/platform/zuPlatformService.h"

namespace zp = zuPlatform;

namespace {

class CrossProcessLockTest : public tw::test::PlatformRootTest {
 protected:
  void TearDown() override { zp::setLockWaitBoundForTest(std::nullopt); }
};

// A stopped holder in another process makes each call that needs its lock fail
// with the error a busy object gives, within the bound; once the holder is
// gone the same call works again.
TEST_F(CrossProcessLockTest, StoppedHolderCostsABoundedWaitAndTheBusyError) {
  const zp::ScHandle manager = zp::openScManager(zp::kScManagerAllAccess);
  ASSERT_NE(manager, zp::kScHandleNone);
  const zp::ScHandle service = zp::createService(
      manager, "Tw Locked", nullptr, zp::kServiceAllAccess, zp::kServiceWin32OwnProcess,
      zp::kServiceDemandStart, zp::kServiceErrorNormal, "/bin/true", nullptr, nullptr);
  ASSERT_NE(service, zp::kScHandleNone) << zp::getLastError();
  int keyCount = 0;

  struct Case {
    const char* lockFile;  // under the root
    u32 busyError;
    std::function<u32()> call;  // the call's error, 0 on success
  };
  const Case cases[] = {
      {"registry/registry.lock", zp::kErrorSharingViolation,
       [&] {
         zp::RegKey key = zp::kRegKeyNone;
         const std::string name = "SOFTWARE\\Tw\\K" + std::to_string(keyCount++);
         const u32 err = zp::regCreateKeyEx(zp::kRegLocalMachine, name.c_str(), zp::kKeyAllAccess,
                                            &key, nullptr);
         zp::regCloseKey(key);
         return err;
       }},
      {"services/tw%20locked/manager.lock", zp::kErrorServiceDatabaseLocked,
       [&] { return zp::deleteService(service) ? 0u : zp::getLastError(); }},
  };
  constexpr auto kBound = std::chrono::milliseconds(300);
  zp::setLockWaitBoundForTest(kBound);
  for (const Case& c : cases) {
    const std::string lock = root() + "/" + c.lockFile;
    std::filesystem::create_directories(std::filesystem::path(lock).parent_path());
    const pid_t holder = tw::test::spawnHelper({"hold-lock", lock});
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(tw::test::eventually([&] { return std::filesystem::exists(lock + ".held"); }))
        << c.lockFile;
    ASSERT_EQ(::kill(holder, SIGSTOP), 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.call(), c.busyError) << c.lockFile;
    EXPECT_GE(std::chrono::steady_clock::now() - start, kBound) << c.lockFile;
    // A lock already found stuck is not waited for again.
    EXPECT_EQ(c.call(), c.busyError) << c.lockFile;

    ::kill(holder, SIGKILL);
    ::kill(holder, SIGCONT);
    EXPECT_EQ(tw::test::joinHelper(holder), -1);  // killed, not exited
    EXPECT_EQ(c.call(), zp::kErrorSuccess) << c.lockFile;
  }
  zp::closeServiceHandle(service);
  zp::closeServiceHandle(manager);
}

// Reports are made under the caller's own locks (the log's), so they never
// wait for a lock that another process holds: they are kept, in order, and
// written once it is free.
TEST_F(CrossProcessLockTest, ReportsBehindAStoppedLogHolderDoNotWaitAndArriveInOrder) {
  constexpr auto kBound = std::chrono::milliseconds(20000);
  zp::setLockWaitBoundForTest(kBound);
  const zp::EventSourceHandle source = zp::registerEventSource("Tw Lock Test");
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 0, nullptr));
  const std::string lock =
      zp::eventLogFile().substr(0, zp::eventLogFile().rfind('/')) + "/Application.seq";
  const pid_t holder = tw::test::spawnHelper({"hold-lock", lock});
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(tw::test::eventually([&] { return std::filesystem::exists(lock + ".held"); }));
  ASSERT_EQ(::kill(holder, SIGSTOP), 0);

  const auto start = std::chrono::steady_clock::now();
  for (const char* text : {"a", "b", "c"}) {
    const char* strings[] = {text};
    EXPECT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 1, strings));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, kBound / 2);  // no wait for the holder
  std::vector<zp::EventRecord> log;
  ASSERT_TRUE(zp::readEventLog(log));
  EXPECT_EQ(log.size(), 1u);

  ::kill(holder, SIGKILL);
  ::kill(holder, SIGCONT);
  tw::test::joinHelper(holder);
  ASSERT_TRUE(tw::test::eventually([&] { return zp::readEventLog(log) && log.size() == 4; }));
  for (size_t i = 1; i < log.size(); ++i) {
    EXPECT_EQ(log[i].recordNumber, i + 1);
    EXPECT_EQ(log[i].strings,
              std::vector<std::string>{std::string(1, static_cast<char>('a' + i - 1))});
  }
  zp::deregisterEventSource(source);
}

}  // namespace
