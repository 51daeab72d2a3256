#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMessages.h"
#include "support/TestSupport.h"

namespace {

std::vector<std::string> drain() {
  std::vector<std::string> texts;
  u32 tag = 99;
  zuMessage message;
  while (zuMessages::next(tag, message)) {
    EXPECT_EQ(tag, 0u);
    texts.push_back(message.toString());
  }
  return texts;
}

// Sends std::cerr to a string for the life of the object.
class CapturedStderr {
 public:
  CapturedStderr() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~CapturedStderr() { std::cerr.rdbuf(old_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
};

// Takes every log line, so nothing reaches the console.
std::mutex g_linesMutex;
std::vector<std::pair<u32, std::string>> g_lines;
bool takeLine(u32 level, const char* text) {
  std::lock_guard<std::mutex> hold(g_linesMutex);
  g_lines.emplace_back(level, text);
  return true;
}

class CapturedLog {
 public:
  CapturedLog() {
    clear();
    zuLog::addListener(&takeLine);
  }
  ~CapturedLog() {
    zuLog::removeListener(&takeLine);
    clear();
  }
  std::vector<std::pair<u32, std::string>> lines() const {
    std::lock_guard<std::mutex> hold(g_linesMutex);
    return g_lines;
  }

 private:
  static void clear() {
    std::lock_guard<std::mutex> hold(g_linesMutex);
    g_lines.clear();
  }
};

class Messages : public testing::Test {
 protected:
  void SetUp() override {
    zuMessages::setMode(zuMessages::kModeQueue);
    drain();
  }
  void TearDown() override {
    zuMessages::setMode(zuMessages::kModeQueue);
    drain();
  }
};

TEST_F(Messages, QueueTakesEachPendingMessageOnce) {
  const zuMessage disk("Disk $d is full.", 'd', "C:");
  zuMessages::post(disk);
  zuMessages::post(zuMessage("Disk $d is full.", 'd', "C:"));
  zuMessages::post(zuMessage("Disk $d is full.", 'd', "D:"));  // other parameters
  zuMessages::postMessage(zuMessage("Low memory."));
  EXPECT_EQ(drain(),
            (std::vector<std::string>{"Disk C: is full.", "Disk D: is full.", "Low memory."}));
  // Once taken, the same message is news again.
  zuMessages::post(disk);
  EXPECT_EQ(drain(), std::vector<std::string>{"Disk C: is full."});
  u32 tag = 7;
  zuMessage out("untouched");
  EXPECT_FALSE(zuMessages::next(tag, out));
  EXPECT_EQ(tag, 7u);
  EXPECT_EQ(out.text(), "untouched");
}

TEST_F(Messages, QueueOperations) {
  EXPECT_TRUE(zuMessages::isEmpty());
  zuMessages::dropOldest();  // nothing to drop
  for (const char* text : {"one", "two", "three"}) zuMessages::post(zuMessage(text));
  EXPECT_FALSE(zuMessages::isEmpty());
  zuMessages::dropOldest();
  const std::vector<zuMessages::Entry> pending = zuMessages::pending();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].message.text(), "two");
  EXPECT_EQ(pending[1].message.text(), "three");
  EXPECT_EQ(pending[0].tag, 0u);
  EXPECT_EQ(drain().size(), 2u);  // the copy took nothing
  EXPECT_TRUE(zuMessages::isEmpty());
}

TEST_F(Messages, EmptyMessagesIgnoredInEveryMode) {
  zuErrorMessage cleared(5, "gone");
  cleared.clear();
  for (u32 mode : {zuMessages::kModeQueue, zuMessages::kModeLog, zuMessages::kModeStandardError}) {
    SCOPED_TRACE(mode);
    zuMessages::setMode(mode);
    CapturedLog log;
    CapturedStderr err;
    zuMessages::post(zuMessage());
    zuMessages::post(zuMessage(""));
    zuMessages::post(cleared);
    EXPECT_EQ(err.text(), "");
    EXPECT_TRUE(zuMessages::isEmpty());
    EXPECT_TRUE(log.lines().empty());
  }
}

TEST_F(Messages, LogModeWritesLevelZeroLines) {
  zuMessages::setMode(zuMessages::kModeLog);
  CapturedLog log;
  const zuMessage busy("Port $p is busy.", 'p', "4152");
  zuMessages::post(busy);
  zuMessages::post(busy);  // nothing is pending here
  zuMessages::reportException(std::runtime_error("boom"));
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (std::pair<u32, std::string>{0, "Port 4152 is busy."}));
  EXPECT_EQ(lines[1], lines[0]);
  EXPECT_EQ(lines[2].first, 0u);
  EXPECT_NE(lines[2].second.find("\"boom\""), std::string::npos);
  EXPECT_TRUE(zuMessages::isEmpty());
}

// A listener that looks at the queue holds the log lock while it takes the
// queue lock; posting in log mode must not hold them the other way round.
std::atomic<int> g_listenerCalls{0};
bool peekQueue(u32, const char*) {
  (void)zuMessages::isEmpty();
  ++g_listenerCalls;
  return true;
}

TEST_F(Messages, LogModeAndQueueReadingListenerDoNotDeadlock) {
  zuMessages::setMode(zuMessages::kModeLog);
  g_listenerCalls = 0;
  zuLog::addListener(&peekQueue);
  constexpr int kRounds = 500;
  auto work = [](bool viaRouter) {
    for (int i = 0; i < kRounds; ++i) {
      if (viaRouter)
        zuMessages::post(zuMessage("routed $i", 'i', std::to_string(i)));
      else
        zuLog::write(0, "direct");
    }
  };
  std::vector<std::thread> threads;
  std::vector<std::future<void>> done;
  for (int t = 0; t < 4; ++t) {
    std::promise<void> finished;
    done.push_back(finished.get_future());
    threads.emplace_back(
        [work, t](std::promise<void> p) {
          work(t % 2 == 0);
          p.set_value();
        },
        std::move(finished));
  }
  const auto deadline = std::chrono::steady_clock::now() + tw::test::kFailBound;
  for (auto& d : done) {
    if (d.wait_until(deadline) != std::future_status::ready) {
      // Both locks stay held for good: nothing after this could finish.
      std::fprintf(stderr, "deadlock between the log and the message queue\n");
      std::_Exit(1);
    }
  }
  for (std::thread& thread : threads) thread.join();
  zuLog::removeListener(&peekQueue);
  EXPECT_EQ(g_listenerCalls.load(), 4 * kRounds);
}

TEST_F(Messages, StandardErrorModeWritesFormattedLine) {
  zuMessages::setMode(zuMessages::kModeStandardError);
  CapturedStderr err;
  zuMessages::post(zuMessage("Port $p is busy.", 'p', "4152"));
  zuMessages::post(zuMessage("Port $p is busy.", 'p', "4152"));  // nothing is pending here
  EXPECT_EQ(err.text(), "Port 4152 is busy.\nPort 4152 is busy.\n");
  EXPECT_TRUE(zuMessages::isEmpty());
}

// A stream buffer that refuses every byte.
class BrokenBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST_F(Messages, FailureWhilePostingIsSwallowed) {
  zuMessages::setMode(zuMessages::kModeStandardError);
  BrokenBuffer broken;
  std::streambuf* old = std::cerr.rdbuf(&broken);
  const std::ios::iostate oldMask = std::cerr.exceptions();
  std::cerr.exceptions(std::ios::badbit);
  EXPECT_NO_THROW(zuMessages::post(zuMessage("lost")));
  std::cerr.exceptions(std::ios::goodbit);
  std::cerr.clear();
  std::cerr.rdbuf(old);
  std::cerr.exceptions(oldMask);
}

TEST_F(Messages, ReportedExceptionsBecomeMessages) {
  zuMessages::reportException(zuException(1538, "File \"$f\" failed to open.", 'f', "a.txt"));
  zuMessages::reportException(std::runtime_error("boom"));
  zuMessages::reportUnknownException();
  EXPECT_EQ(drain(), (std::vector<std::string>{
                         "File \"a.txt\" failed to open.",
                         "An unexpected exception \"boom\" occurred.  Please notify Tarnwell "
                         "Technical Support.",
                         "An unexpected exception \"unknown\" occurred.  Please notify Tarnwell "
                         "Technical Support.",
                     }));
}

TEST_F(Messages, ReportCurrentException) {
  try {
    throw std::logic_error("inside");
  } catch (...) {
    zuMessages::reportCurrentException();
  }
  try {
    throw 42;
  } catch (...) {
    zuMessages::reportCurrentException();
  }
  // Outside a handler: nothing to report, and the process goes on.
  zuMessages::reportCurrentException();
  const std::vector<std::string> texts = drain();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("\"inside\""), std::string::npos);
  EXPECT_NE(texts[1].find("\"unknown\""), std::string::npos);
}

TEST_F(Messages, PostingFromSeveralThreadsKeepsOneOfEach) {
  constexpr int kThreads = 8;
  constexpr int kDistinct = 50;
  constexpr int kRounds = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int round = 0; round < kRounds; ++round)
        for (int i = 0; i < kDistinct; ++i)
          zuMessages::post(zuMessage("Message $i.", 'i', std::to_string(i)));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> texts = drain();
  ASSERT_EQ(texts.size(), static_cast<std::size_t>(kDistinct));
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
}

}  // namespace
