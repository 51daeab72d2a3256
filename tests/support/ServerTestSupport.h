#pragma once
// For tests that run a server's console on a thread: every log line as the
// test sees it, and the run itself. Header-only, so each test program links
// the libraries it already uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loam/platform/zuTypes.h"
#include "loam/service/zuServer.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"
#include "support/TestSupport.h"

namespace tw::test {

struct LogLine {
  u32 level;
  std::string text;
};

namespace detail {
inline std::mutex g_logLinesLock;
inline std::condition_variable g_logLinesChanged;
inline std::vector<LogLine> g_logLines;
}  // namespace detail

// The log listener: keeps every line.
inline bool takeLine(u32 level, const char* text) {
  {
    std::lock_guard<std::mutex> hold(detail::g_logLinesLock);
    detail::g_logLines.push_back({level, text});
  }
  detail::g_logLinesChanged.notify_all();
  return true;
}

inline void clearLines() {
  std::lock_guard<std::mutex> hold(detail::g_logLinesLock);
  detail::g_logLines.clear();
}

inline u32 countLines(const std::string& text) {
  std::lock_guard<std::mutex> hold(detail::g_logLinesLock);
  return static_cast<u32>(std::count_if(detail::g_logLines.begin(), detail::g_logLines.end(),
                                        [&](const LogLine& l) { return l.text == text; }));
}

inline u32 countPrefix(const std::string& prefix) {
  std::lock_guard<std::mutex> hold(detail::g_logLinesLock);
  return static_cast<u32>(
      std::count_if(detail::g_logLines.begin(), detail::g_logLines.end(),
                    [&](const LogLine& l) { return l.text.rfind(prefix, 0) == 0; }));
}

inline bool hasLine(u32 level, const std::string& text) {
  std::lock_guard<std::mutex> hold(detail::g_logLinesLock);
  return std::any_of(detail::g_logLines.begin(), detail::g_logLines.end(),
                     [&](const LogLine& l) { return l.level == level && l.text == text; });
}

// Waits for the count-th line that begins with prefix; returns it, or "".
inline std::string waitForLine(const std::string& prefix, u32 count = 1) {
  std::unique_lock<std::mutex> hold(detail::g_logLinesLock);
  std::string found;
  detail::g_logLinesChanged.wait_for(hold, kFailBound, [&] {
    u32 seen = 0;
    for (const LogLine& l : detail::g_logLines) {
      if (l.text.rfind(prefix, 0) == 0 && ++seen == count) {
        found = l.text;
        return true;
      }
    }
    return false;
  });
  return found;
}

// A server's console run on a thread of its own, as program with -debug.
class ServerRun {
 public:
  ServerRun(zuServer& server, std::vector<std::string> args, const std::string& program)
      : server_(server) {
    args.insert(args.begin(), {program, "-debug"});
    args_ = std::move(args);
    thread_ = std::thread([this] {
      std::vector<char*> argv;
      for (std::string& arg : args_) argv.push_back(arg.data());
      argv.push_back(nullptr);
      result_ = server_.run(static_cast<u32>(args_.size()), argv.data());
      ended_.set();
    });
  }
  ~ServerRun() { stop(); }
  ServerRun(const ServerRun&) = delete;
  ServerRun& operator=(const ServerRun&) = delete;

  // The port, once listening; 0 when the run never got there.
  u16 waitListening() {
    const std::string prefix = "Listening started on port [";
    const std::string line = waitForLine(prefix);
    return line.empty() ? 0 : static_cast<u16>(std::stoul(line.substr(prefix.size())));
  }
  // Waits for the run to end by itself.
  bool waitEnded() { return !zuThread::waitForObjects(kWait, &ended_); }
  u32 stop() {
    if (thread_.joinable()) {
      server_.stop();
      if (zuThread::waitForObjects(kWait, &ended_)) ADD_FAILURE() << "the run did not end";
      thread_.join();
    }
    return result_;
  }

 private:
  static constexpr u32 kWait = static_cast<u32>(kFailBound.count());

  zuServer& server_;
  std::vector<std::string> args_;
  std::thread thread_;
  zuSingleEvent ended_;
  u32 result_ = 0xFFFFFFFF;
};

// A private platform root, every log line captured at level 5 and the
// process stop signal clear, for tests that run a server.
class ServerLogTest : public PlatformRootTest {
 protected:
  void SetUp() override {
    clearLines();
    zuMainThread::instance().stopEvent()->reset();
    zuLog::addListener(takeLine);
    zuLog::setLogLevel(5);
  }
  void TearDown() override {
    zuLog::removeListener(takeLine);
    zuLog::setLogLevel(3);
    zuMainThread::instance().stopEvent()->reset();
  }
};

}  // namespace tw::test
