#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loam/threads/zuLog.h"
#include "support/TestSupport.h"
#include "support/TimeTestSupport.h"

namespace {

// What the listeners saw, in order. Listeners run under the log lock, and the
// tests read it only when no line is in flight.
std::vector<std::string> g_calls;

bool record(const char* who, u32 level, const char* text) {
  g_calls.push_back(std::string(who) + "/" + std::to_string(level) + "/" + text);
  return false;
}
bool listenerA(u32 level, const char* text) { return record("A", level, text); }
bool listenerB(u32 level, const char* text) { return record("B", level, text); }
bool taker(u32 level, const char* text) {
  record("take", level, text);
  return true;
}
bool throwsStd(u32 level, const char* text) {
  record("std", level, text);
  throw std::runtime_error("listener failed");
}
bool throwsOther(u32 level, const char* text) {
  record("other", level, text);
  throw 42;
}
// Logs a line of its own from inside the outer line.
bool reenters(u32 level, const char* text) {
  record("re", level, text);
  if (std::string(text) == "outer") zuLog::write(2, "inner");
  return false;
}
// Changes the list while a line is offered: A goes, B comes.
bool rearranges(u32 level, const char* text) {
  record("mut", level, text);
  zuLog::removeListener(&listenerA);
  zuLog::removeListener(&rearranges);
  zuLog::addListener(&listenerB);
  return false;
}

// Everything written to file descriptor 2 while it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = ::dup(2);
    std::FILE* f = std::fopen(path.c_str(), "w");
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
  ~StderrCapture() { restore(); }
  std::string text() {
    restore();
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

using tw::test::readFile;

// Puts the log back as it was and fixes the clock at 12:34:56 UTC on 5 Jan.
class zuLogTest : public tw::test::LocalClockTest {
 protected:
  void SetUp() override {
    LocalClockTest::SetUp();
    setNowUtc(2010, 1, 5, 12, 34, 56);
    savedLevel_ = zuLog::getLogLevel();
    savedMode_ = zuLog::getMode();
    savedFile_ = zuLog::getLogFileName();
    zuLog::init("", zuLog::kModeConsole);
    g_calls.clear();
  }
  void TearDown() override {
    for (auto l :
         {&listenerA, &listenerB, &taker, &throwsStd, &throwsOther, &reenters, &rearranges}) {
      zuLog::removeListener(l);
    }
    zuLog::initFile(savedFile_);
    zuLog::init("", savedMode_);
    zuLog::setLogLevel(savedLevel_);
    LocalClockTest::TearDown();
  }
  tw::test::ScratchDir dir_;

 private:
  i32 savedLevel_ = 0;
  u32 savedMode_ = 0;
  std::string savedFile_;
};

TEST_F(zuLogTest, StartValues) {
  EXPECT_EQ(zuLog::getMode(), zuLog::kModeConsole);
  EXPECT_EQ(zuLog::getLogLevel(), 3);
  EXPECT_EQ(zuLog::getLogFileName(), "infoLog.log");
}

TEST_F(zuLogTest, LevelsDecideWhoSeesALine) {
  struct Case {
    i32 logLevel;
    bool listener;
    i32 line;
    bool listenerSees;
    bool written;
  };
  const Case cases[] = {
      {3, false, 3, false, true},   {3, false, 4, false, false}, {3, true, 4, false, false},
      {3, true, 0, true, true},     {-1, true, 0, true, false},  {-1, true, 1, false, false},
      {-1, false, 0, false, false}, {5, true, 5, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "log level " << c.logLevel << ", line " << c.line
                                    << (c.listener ? ", with listener" : ""));
    g_calls.clear();
    zuLog::setLogLevel(c.logLevel);
    if (c.listener) zuLog::addListener(&listenerA);
    StderrCapture capture(dir_.file("stderr"));
    zuLog::write(c.line, "text");
    const std::string console = capture.text();
    zuLog::removeListener(&listenerA);
    EXPECT_EQ(console, c.written ? "12:34:56 text\n" : "");
    EXPECT_EQ(g_calls.size(), c.listenerSees ? 1u : 0u);
  }
}

TEST_F(zuLogTest, EveryListenerSeesTheLineInOrderAndATakenLineIsNotWritten) {
  zuLog::addListener(&listenerA);
  zuLog::addListener(&taker);
  zuLog::addListener(&listenerB);
  zuLog::addListener(&listenerA);
  StderrCapture capture(dir_.file("stderr"));
  zuLog::write(1, "hello");
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(g_calls,
            (std::vector<std::string>{"A/1/hello", "take/1/hello", "B/1/hello", "A/1/hello"}));
  // Both entries of A go.
  zuLog::removeListener(&listenerA);
  zuLog::removeListener(&taker);
  g_calls.clear();
  StderrCapture again(dir_.file("stderr2"));
  zuLog::write(1, "next");
  EXPECT_EQ(again.text(), "12:34:56 next\n");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"B/1/next"}));
}

TEST_F(zuLogTest, ThrowingListenersAreSkipped) {
  const std::string path = dir_.file("log.txt");
  zuLog::initFile(path);
  zuLog::addListener(&throwsStd);
  zuLog::addListener(&throwsOther);
  zuLog::addListener(&listenerA);
  zuLog::write(0, "still here");
  EXPECT_EQ(g_calls,
            (std::vector<std::string>{"std/0/still here", "other/0/still here", "A/0/still here"}));
  EXPECT_EQ(readFile(path), "Jan 5 12:34:56 Tarnwell Update Agent: still here\n");
}

TEST_F(zuLogTest, AListenerMayLogAndItsLineIsOfferedAgain) {
  zuLog::addListener(&reenters);
  zuLog::addListener(&listenerA);
  StderrCapture capture(dir_.file("stderr"));
  zuLog::write(1, "outer");
  EXPECT_EQ(g_calls,
            (std::vector<std::string>{"re/1/outer", "re/2/inner", "A/2/inner", "A/1/outer"}));
  EXPECT_EQ(capture.text(), "12:34:56 inner\n12:34:56 outer\n");
}

TEST_F(zuLogTest, AListenerMayChangeTheListWhileALineIsOffered) {
  zuLog::addListener(&rearranges);
  zuLog::addListener(&listenerA);
  zuLog::write(1, "one");
  zuLog::write(1, "two");
  EXPECT_EQ(g_calls, (std::vector<std::string>{"mut/1/one", "A/1/one", "B/1/two"}));
}

TEST_F(zuLogTest, FileLines) {
  struct Case {
    const char* name;  // null: as initFile leaves it
    int month;
    int day;
    int hour;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, 1, 5, 12, "hello", "Jan 5 12:34:56 Tarnwell Update Agent: hello\n"},
      {"", 1, 5, 12, "hello", "Jan 5 12:34:56 hello\n"},
      {"svc", 12, 31, 9, "bye", "Dec 31 09:34:56 svc: bye\n"},
      {"", 11, 15, 0, "a\nb", "Nov 15 00:34:56 a\nb\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string path = dir_.file("log" + std::to_string(n++) + ".txt");
    zuLog::initFile(path);
    if (c.name) zuLog::init(c.name, zuLog::kModeFile);
    EXPECT_EQ(zuLog::getMode(), zuLog::kModeFile);
    EXPECT_EQ(zuLog::getLogFileName(), path);
    setNowUtc(2010, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day), c.hour, 34, 56);
    zuLog::write(3, c.text);
    EXPECT_EQ(readFile(path), c.expected);
  }
}

TEST_F(zuLogTest, FileLinesAreAppended) {
  const std::string path = dir_.file("log.txt");
  { std::ofstream(path) << "earlier\n"; }
  zuLog::initFile(path);
  zuLog::write(3, "one");
  zuLog::logf(3, "two %d", 2);
  EXPECT_EQ(readFile(path),
            "earlier\n"
            "Jan 5 12:34:56 Tarnwell Update Agent: one\n"
            "Jan 5 12:34:56 Tarnwell Update Agent: two 2\n");
}

TEST_F(zuLogTest, AFileThatCannotBeOpenedLosesTheLineAndTheNextOneTriesAgain) {
  const std::string folder = dir_.file("later");
  const std::string path = folder + "/log.txt";
  zuLog::initFile(path);
  zuLog::write(0, "lost");
  std::filesystem::create_directory(folder);
  zuLog::write(0, "kept");
  EXPECT_EQ(readFile(path), "Jan 5 12:34:56 Tarnwell Update Agent: kept\n");
}

TEST_F(zuLogTest, ModesWithoutOutputStillFeedTheListeners) {
  zuLog::addListener(&listenerA);
  for (const u32 mode : {zuLog::kModeNone, zuLog::kModeService}) {
    zuLog::init("name", mode);
    StderrCapture capture(dir_.file("stderr"));
    zuLog::write(0, "event");
    EXPECT_EQ(capture.text(), "") << mode;
  }
  EXPECT_EQ(g_calls, (std::vector<std::string>{"A/0/event", "A/0/event"}));
}

TEST_F(zuLogTest, LogfFormatsOnlyWantedLinesAndCutsLongTexts) {
  zuLog::addListener(&taker);
  zuLog::logf(5, "%s", "unwanted");
  EXPECT_TRUE(g_calls.empty());

  zuLog::logf(0, "Caught an unhandled exception 0x%lX at 0x%lX",
              static_cast<unsigned long>(0xC0000005u), static_cast<unsigned long>(0));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], "take/0/Caught an unhandled exception 0xC0000005 at 0x0");

  g_calls.clear();
  const std::string longText(20000, 'x');
  zuLog::logf(1, "<%s>", longText.c_str());
  ASSERT_EQ(g_calls.size(), 1u);
  const std::string expected = "take/1/<" + std::string(zuLog::kFormatBufferSize - 2, 'x');
  EXPECT_EQ(g_calls[0], expected);
}

TEST_F(zuLogTest, LogFormatsTheMessage) {
  zuLog::addListener(&taker);
  zuLog::log(0, zuMessage("Unknown option \"$a\".", 'a', std::string("-x")));
  zuLog::log(4, zuMessage("unwanted"));
  EXPECT_EQ(g_calls, (std::vector<std::string>{"take/0/Unknown option \"-x\"."}));
}

// Listeners are called one line at a time, whichever thread logs.
std::atomic<int> g_inside{0};
std::atomic<int> g_mostInside{0};
std::atomic<int> g_lines{0};
bool counts(u32, const char*) {
  const int now = g_inside.fetch_add(1) + 1;
  int most = g_mostInside.load();
  while (now > most && !g_mostInside.compare_exchange_weak(most, now)) {
  }
  g_lines.fetch_add(1);
  g_inside.fetch_sub(1);
  return true;
}

TEST_F(zuLogTest, LinesFromManyThreadsNeverOverlap) {
  zuLog::addListener(&counts);
  constexpr int kThreads = 8;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) zuLog::logf(1, "thread %d line %d", t, i);
    });
  }
  for (auto& t : threads) t.join();
  zuLog::removeListener(&counts);
  EXPECT_EQ(g_lines.load(), kThreads * kLines);
  EXPECT_EQ(g_mostInside.load(), 1);
}

}  // namespace
