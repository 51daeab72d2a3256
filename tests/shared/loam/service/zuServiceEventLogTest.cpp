#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/base/zuRegistry.h"
#include "loam/service/zuServiceEventLog.h"
#include "loam/threads/zuLog.h"
#include "shared/loam/platform/PlatformTestSupport.h"

namespace zp = zuPlatform;

namespace {

constexpr const char* kSource = "Tarnwell Update Agent";

std::vector<zp::EventRecord> events() {
  std::vector<zp::EventRecord> out;
  EXPECT_TRUE(zp::readEventLog(out));
  return out;
}

class EventLogTest : public tw::test::PlatformRootTest {};

TEST_F(EventLogTest, RegisteredSourceNamesItsMessageFileAndTypes) {
  ASSERT_TRUE(zuServiceEventLog::registerEventSource(kSource, "\"/opt/tw/agent\""));
  const std::string key =
      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwell Update Agent";
  zp::RegKey h = zp::kRegKeyNone;
  ASSERT_EQ(zp::regOpenKeyEx(zp::kRegLocalMachine, key.c_str(), zp::kKeyRead, &h),
            zp::kErrorSuccess);
  u32 type = 0;
  u32 size = 0;
  ASSERT_EQ(zp::regQueryValueEx(h, "EventMessageFile", &type, nullptr, &size), zp::kErrorSuccess);
  EXPECT_EQ(type, zp::kRegExpandSz);
  EXPECT_EQ(size, 16u);  // with its NUL
  ASSERT_EQ(zp::regQueryValueEx(h, "TypesSupported", &type, nullptr, &size), zp::kErrorSuccess);
  EXPECT_EQ(type, zp::kRegDword);
  zp::regCloseKey(h);

  std::string text;
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, key, "EventMessageFile", text));
  EXPECT_EQ(text, "\"/opt/tw/agent\"");
  EXPECT_TRUE(zuRegistryReadValue(zp::kRegLocalMachine, key, "TypesSupported", text));
  EXPECT_EQ(text, "7");
}

TEST_F(EventLogTest, ReportedEventCarriesItsInsertionStringAndFormatsWithItsText) {
  zuServiceEventLog log(kSource);
  ASSERT_TRUE(log.reportEvent(zp::kEventLogInformationType, 0, kzuEventServiceInstalled, kSource));
  ASSERT_TRUE(log.reportEvent(zp::kEventLogErrorType, 0, kzuEventUnsupportedRequest));

  const std::vector<zp::EventRecord> records = events();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].source, kSource);
  EXPECT_EQ(records[0].type, zp::kEventLogInformationType);
  EXPECT_EQ(records[0].eventId, 100u);
  EXPECT_EQ(records[0].strings, std::vector<std::string>{kSource});
  EXPECT_EQ(zp::formatEventMessage(records[0]),
            "The Tarnwell Update Agent service was installed.\n");
  EXPECT_EQ(records[1].type, zp::kEventLogErrorType);
  EXPECT_EQ(records[1].eventId, 106u);
  EXPECT_TRUE(records[1].strings.empty());
  EXPECT_EQ(zp::formatEventMessage(records[1]), "The service received an unsupported request.\n");
}

TEST_F(EventLogTest, FirstReportsFromManyThreadsAllArrive) {
  zuServiceEventLog log(kSource);
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::atomic<int> reported{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      const std::string text = std::to_string(i);
      if (log.reportEvent(zp::kEventLogInformationType, 0, kzuEventText, text.c_str())) {
        ++reported;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(reported.load(), kThreads);
  EXPECT_EQ(events().size(), static_cast<size_t>(kThreads));
}

// The log is process-wide: each test leaves it as the program starts it.
class LogListenerTest : public EventLogTest {
 protected:
  void SetUp() override {
    zuLog::init(kSource, zuLog::kModeService);
    zuLog::setLogLevel(5);
  }
  void TearDown() override {
    zuLog::init(nullptr, zuLog::kModeConsole);
    zuLog::setLogLevel(3);
  }
};

TEST_F(LogListenerTest, LinesBecomeEvent109WithTheTypeOfTheirLevel) {
  zuServiceEventLog log(kSource);
  log.attachToLog();
  const u16 wanted[] = {zp::kEventLogErrorType,       zp::kEventLogInformationType,
                        zp::kEventLogWarningType,     zp::kEventLogInformationType,
                        zp::kEventLogInformationType, zp::kEventLogInformationType};
  for (i32 level = 0; level <= 5; ++level) {
    zuLog::write(level, ("line at level " + std::to_string(level)).c_str());
  }
  const std::vector<zp::EventRecord> records = events();
  ASSERT_EQ(records.size(), 6u);
  for (size_t level = 0; level < records.size(); ++level) {
    const std::string line = "line at level " + std::to_string(level);
    EXPECT_EQ(records[level].type, wanted[level]) << level;
    EXPECT_EQ(records[level].eventId, kzuEventText) << level;
    EXPECT_EQ(records[level].source, kSource) << level;
    EXPECT_EQ(records[level].strings, std::vector<std::string>{line}) << level;
    EXPECT_EQ(zp::formatEventMessage(records[level]), line + "\n") << level;
  }
  // A line with no text is taken without an event.
  EXPECT_TRUE(zuServiceEventLog::logToEventLog(0, nullptr));
  EXPECT_EQ(events().size(), 6u);
}

TEST_F(LogListenerTest, LeavesLinesToTheLogOutsideServiceModeOrAboveTheLevel) {
  zuServiceEventLog log(kSource);
  log.attachToLog();
  zuLog::setLogLevel(2);
  EXPECT_FALSE(zuServiceEventLog::logToEventLog(3, "above the level"));
  zuLog::write(3, "above the level");
  EXPECT_TRUE(zuServiceEventLog::logToEventLog(2, "at the level"));

  zuLog::init(kSource, zuLog::kModeConsole);
  EXPECT_FALSE(zuServiceEventLog::logToEventLog(0, "in the console"));
  zuLog::init(kSource, zuLog::kModeFile);
  EXPECT_FALSE(zuServiceEventLog::logToEventLog(0, "in a file"));

  const std::vector<zp::EventRecord> records = events();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings, std::vector<std::string>{"at the level"});
}

TEST_F(LogListenerTest, NoEventsOnceTheServiceObjectIsGone) {
  {
    zuServiceEventLog log(kSource);
    log.attachToLog();
    zuLog::write(0, "while present");
  }
  // Without a service object the line goes back to the log.
  EXPECT_FALSE(zuServiceEventLog::logToEventLog(0, "after"));
  zuLog::write(0, "after");

  zuServiceEventLog detached(kSource);
  detached.attachToLog();
  detached.detachFromLog();
  zuLog::write(0, "after detach");
  EXPECT_FALSE(zuServiceEventLog::logToEventLog(0, "after detach"));

  const std::vector<zp::EventRecord> records = events();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings, std::vector<std::string>{"while present"});
}

}  // namespace
