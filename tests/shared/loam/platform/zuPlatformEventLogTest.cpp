#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"

namespace zp = zuPlatform;

namespace {

class EventLogTest : public tw::test::PlatformRootTest {
 protected:
  static std::vector<zp::EventRecord> records() {
    std::vector<zp::EventRecord> out;
    EXPECT_TRUE(zp::readEventLog(out)) << zp::getLastError();
    return out;
  }
};

TEST_F(EventLogTest, ReportedEventIsReadBackAndFormattedWithItsMessage) {
  const zp::EventSourceHandle source = zp::registerEventSource("Tarnwell Update Agent");
  ASSERT_NE(source, zp::kEventSourceNone);
  // std::time reads the coarse clock, which may lag the record's precise one.
  const auto now = [] {
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  };
  const std::time_t before = now();
  const char* strings[] = {"Tarnwell Update Agent"};
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 100, 1, strings));
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogErrorType, 3, 103, 0, nullptr));
  const std::time_t after = now();

  const std::vector<zp::EventRecord> log = records();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].recordNumber, 1u);
  EXPECT_EQ(log[1].recordNumber, 2u);
  EXPECT_EQ(log[0].source, "Tarnwell Update Agent");
  EXPECT_EQ(log[0].type, zp::kEventLogInformationType);
  EXPECT_EQ(log[0].eventId, 100u);
  EXPECT_EQ(log[0].strings, std::vector<std::string>{"Tarnwell Update Agent"});
  EXPECT_GE(log[0].timeGenerated, before);
  EXPECT_LE(log[0].timeGenerated, after);
  EXPECT_EQ(log[1].category, 3u);
  EXPECT_TRUE(log[1].strings.empty());

  EXPECT_EQ(zp::formatEventMessage(log[0]), "The Tarnwell Update Agent service was installed.\n");
  const std::string line = zp::formatEventRecord(log[1]);
  EXPECT_EQ(line.rfind("2 ", 0), 0u) << line;
  EXPECT_NE(line.find(" Error Tarnwell Update Agent [103] The control handler could not be "
                      "installed."),
            std::string::npos)
      << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_TRUE(zp::deregisterEventSource(source));
}

TEST(EventMessageTableTest, HoldsTheProgramsTenTexts) {
  const std::pair<u32, const char*> table[] = {
      {100, "The %1 service was installed.\n"},
      {101, "The %1 service was removed.\n"},
      {102, "The %1 service could not be removed.\n"},
      {103, "The control handler could not be installed.\n"},
      {104, "The initialization process failed.\n"},
      {105, "The service was started.\n"},
      {106, "The service received an unsupported request.\n"},
      {107, "Debug: %1\n"},
      {108, "The service was stopped.\n"},
      {109, "%1\n"},
  };
  for (const auto& [id, text] : table) {
    ASSERT_NE(zp::eventMessageTemplate(id), nullptr) << id;
    EXPECT_STREQ(zp::eventMessageTemplate(id), text) << id;
  }
  EXPECT_EQ(zp::eventMessageTemplate(99), nullptr);
  EXPECT_EQ(zp::eventMessageTemplate(110), nullptr);
}

TEST_F(EventLogTest, InsertionStringsSurviveTheRecordFormat) {
  const zp::EventSourceHandle source = zp::registerEventSource("Src\twith tab");
  const std::string awkward = std::string("line one\nline two\r\t\\x41 \x01 %1 end");
  const char* strings[] = {awkward.c_str(), nullptr, ""};
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogWarningType, 0, 109, 3, strings));
  const std::vector<zp::EventRecord> log = records();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].source, "Src\twith tab");
  EXPECT_EQ(log[0].strings, (std::vector<std::string>{awkward, "", ""}));
  // An inserted string is not scanned for insertions itself.
  EXPECT_EQ(zp::formatEventMessage(log[0]), awkward + "\n");
  zp::deregisterEventSource(source);
}

TEST(EventMessageFormatTest, MissingStringsAndUnknownIds) {
  zp::EventRecord record;
  record.eventId = 107;
  EXPECT_EQ(zp::formatEventMessage(record), "Debug: %1\n");
  record.eventId = 500;
  record.source = "Other";
  record.strings = {"a", "b"};
  const std::string text = zp::formatEventMessage(record);
  EXPECT_NE(text.find("500"), std::string::npos) << text;
  EXPECT_NE(text.find("Other"), std::string::npos) << text;
  EXPECT_NE(text.find("\"b\""), std::string::npos) << text;
}

TEST_F(EventLogTest, ReportsFromSeveralProcessesGetUniqueAscendingNumbers) {
  constexpr int kWriters = 3;
  constexpr int kEach = 30;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(tw::test::spawnHelper({"report-events", std::to_string(kEach)}));
  }
  for (pid_t pid : pids) EXPECT_EQ(tw::test::joinHelper(pid), 0);
  const std::vector<zp::EventRecord> log = records();
  ASSERT_EQ(log.size(), static_cast<size_t>(kWriters * kEach));
  for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].recordNumber, i + 1);
}

TEST_F(EventLogTest, ARecordCutShortCostsOnlyItself) {
  const zp::EventSourceHandle source = zp::registerEventSource("Tw");
  const char* strings[] = {"first"};
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 1, strings));
  std::ofstream(zp::eventLogFile(), std::ios::app) << "2\t1700000000\t4\t0";  // a crash mid-write
  strings[0] = "second";
  ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 1, strings));
  const std::vector<zp::EventRecord> log = records();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].strings[0], "first");
  EXPECT_EQ(log[1].strings[0], "second");
  EXPECT_GT(log[1].recordNumber, log[0].recordNumber);
  zp::deregisterEventSource(source);
}

// Sets the Application log's size limit the way an administrator would.
void setLogLimit(u32 bytes) {
  zp::RegKey key = zp::kRegKeyNone;
  ASSERT_EQ(zp::regCreateKeyEx(zp::kRegLocalMachine,
                               "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                               zp::kKeyAllAccess, &key, nullptr),
            zp::kErrorSuccess);
  ASSERT_EQ(zp::regSetValueEx(key, zp::kEventLogMaxSizeValue, zp::kRegDword,
                              reinterpret_cast<const u8*>(&bytes), sizeof bytes),
            zp::kErrorSuccess);
  zp::regCloseKey(key);
}

TEST_F(EventLogTest, ManyConnectionLinesLeaveTheLogWithinItsLimitKeepingTheNewest) {
  constexpr u32 kLimit = 128 * 1024;
  setLogLimit(kLimit);
  const zp::EventSourceHandle source = zp::registerEventSource("Tarnwell Update Agent");
  constexpr u64 kLines = 100000;
  for (u64 i = 1; i <= kLines; ++i) {
    const std::string text = "Connection " + std::to_string(i) +
                             " from 127.0.0.1:" + std::to_string(40000 + i % 20000) + " accepted";
    const char* strings[] = {text.c_str()};
    ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 1, strings)) << i;
    if (i % 5000 == 0) {
      ASSERT_LE(std::filesystem::file_size(zp::eventLogFile()), kLimit) << i;
    }
  }
  EXPECT_LE(std::filesystem::file_size(zp::eventLogFile()), kLimit);
  // The oldest went; what is left is the newest, whole and in order.
  const std::vector<zp::EventRecord> log = records();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().recordNumber, kLines);
  EXPECT_GT(log.size(), 1000u);
  for (size_t i = 1; i < log.size(); ++i) {
    ASSERT_EQ(log[i].recordNumber, log[i - 1].recordNumber + 1) << i;
  }
  EXPECT_EQ(log.back().strings[0].rfind("Connection 100000 ", 0), 0u);
  zp::deregisterEventSource(source);
}

TEST_F(EventLogTest, LostCounterContinuesFromTheLastRecord) {
  const zp::EventSourceHandle source = zp::registerEventSource("Tw");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 0, nullptr));
  }
  std::ofstream(zp::eventLogFile(), std::ios::app) << "garbage after the last record\n";
  const std::string counter = root() + "/eventlog/Application.seq";
  for (const char* damaged : {"", "not a number\n"}) {
    std::ofstream(counter, std::ios::trunc) << damaged;
    ASSERT_TRUE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 0, nullptr));
  }
  const std::vector<zp::EventRecord> log = records();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[3].recordNumber, 4u);
  EXPECT_EQ(log[4].recordNumber, 5u);
  zp::deregisterEventSource(source);
}

TEST_F(EventLogTest, RecordTooLongForTheLogIsRefused) {
  setLogLimit(64 * 1024);
  const zp::EventSourceHandle source = zp::registerEventSource("Tw");
  const std::string huge(40 * 1024, 'x');
  const char* strings[] = {huge.c_str()};
  EXPECT_FALSE(zp::reportEvent(source, zp::kEventLogInformationType, 0, 109, 1, strings));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidParameter);
  EXPECT_TRUE(records().empty());
  zp::deregisterEventSource(source);
}

TEST_F(EventLogTest, HandlesAreChecked) {
  EXPECT_EQ(zp::registerEventSource(nullptr), zp::kEventSourceNone);
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidParameter);
  EXPECT_FALSE(zp::reportEvent(zp::kEventSourceNone, zp::kEventLogErrorType, 0, 100, 0, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidHandle);
  const zp::EventSourceHandle source = zp::registerEventSource("Tw");
  EXPECT_FALSE(zp::reportEvent(source, zp::kEventLogErrorType, 0, 100, 1, nullptr));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidParameter);
  EXPECT_TRUE(zp::deregisterEventSource(source));
  EXPECT_FALSE(zp::deregisterEventSource(source));
  EXPECT_EQ(zp::getLastError(), zp::kErrorInvalidHandle);
  EXPECT_TRUE(records().empty());
}

}  // namespace
