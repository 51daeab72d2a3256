#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformSignals.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/platform/zuPlatformWait.h"
#include "support/TestSupport.h"

namespace {

using namespace zuPlatform;

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

// What the handlers saw, one event per call; handlers run on the signal thread.
std::atomic<int> g_firstEvent{-1};
std::atomic<int> g_secondEvent{-1};
std::atomic<u32> g_handlerThread{0};
std::atomic<bool> g_secondTakes{true};
std::atomic<int> g_stops{0};
std::atomic<Handle> g_called{kInvalidHandle};

bool firstHandler(u32 event) {
  g_firstEvent = static_cast<int>(event);
  setEvent(g_called);
  return true;
}

bool secondHandler(u32 event) {
  g_secondEvent = static_cast<int>(event);
  g_handlerThread = currentThreadId();
  // Read once: the test may flip it as soon as the event is set.
  const bool takes = g_secondTakes;
  if (takes) setEvent(g_called);
  return takes;
}

void stopHandler() {
  ++g_stops;
  setEvent(g_called);
}

class PlatformConsoleSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    g_called = createEvent();
    g_firstEvent = -1;
    g_secondEvent = -1;
    g_secondTakes = true;
  }
  void TearDown() override {
    setConsoleCtrlHandler(firstHandler, false);
    setConsoleCtrlHandler(secondHandler, false);
    setStopRequestHandler(nullptr);
    closeHandle(g_called);
  }
  // Sends the signal to the whole process and waits for a handler's event.
  bool send(int sig) {
    resetEvent(g_called);
    ::kill(::getpid(), sig);
    return waitForOne(g_called, kBoundMs);
  }
};

struct SignalCase {
  int sig;
  int event;
};

TEST_F(PlatformConsoleSignals, SignalsBecomeEventsOnTheSignalThreadLastHandlerFirst) {
  ASSERT_TRUE(setConsoleCtrlHandler(firstHandler, true));
  ASSERT_TRUE(setConsoleCtrlHandler(secondHandler, true));
  const SignalCase table[] = {{SIGINT, 0}, {SIGQUIT, 1}, {SIGHUP, 2}, {SIGTERM, 2}};
  for (const SignalCase& c : table) {
    g_firstEvent = -1;
    ASSERT_TRUE(send(c.sig)) << c.sig;
    EXPECT_EQ(g_secondEvent, c.event) << c.sig;
    EXPECT_EQ(g_firstEvent, -1) << c.sig;  // the second took it
  }
  EXPECT_NE(g_handlerThread, currentThreadId());

  g_secondTakes = false;  // refused: the next one in line gets it
  ASSERT_TRUE(send(SIGINT));
  EXPECT_EQ(g_firstEvent, 0);

  ASSERT_TRUE(setConsoleCtrlHandler(secondHandler, false));
  EXPECT_FALSE(setConsoleCtrlHandler(secondHandler, false));
  g_secondEvent = -1;
  ASSERT_TRUE(send(SIGINT));
  EXPECT_EQ(g_secondEvent, -1);
}

TEST_F(PlatformConsoleSignals, TermGoesToTheStopHandlerWhenOneIsSet) {
  ASSERT_TRUE(setConsoleCtrlHandler(firstHandler, true));
  setStopRequestHandler(stopHandler);
  const int before = g_stops;
  ASSERT_TRUE(send(SIGTERM));
  EXPECT_EQ(g_stops, before + 1);
  EXPECT_EQ(g_firstEvent, -1);
}

TEST_F(PlatformConsoleSignals, ThreadStartedBeforeTheBlockStillPassesSignalsOn) {
  // This thread stands for one started before the first handler: nothing is
  // blocked in it. A signal sent to it lands with the signal thread all the same.
  std::atomic<pthread_t> early{};
  Handle ready = createEvent();
  Handle quit = createEvent();
  std::thread old([&] {
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    early = ::pthread_self();
    setEvent(ready);
    waitForOne(quit, kBoundMs);
  });
  ASSERT_TRUE(waitForOne(ready, kBoundMs));
  ASSERT_TRUE(setConsoleCtrlHandler(firstHandler, true));
  resetEvent(g_called);
  ::pthread_kill(early.load(), SIGINT);
  EXPECT_TRUE(waitForOne(g_called, kBoundMs));
  EXPECT_EQ(g_firstEvent, 0);
  setEvent(quit);
  old.join();
  closeHandle(ready);
  closeHandle(quit);
}

using PlatformSignalsDeathTest = PlatformConsoleSignals;

bool refuse(u32) { return false; }

TEST_F(PlatformSignalsDeathTest, UnhandledConsoleSignalEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setConsoleCtrlHandler(refuse, true);
        ::kill(::getpid(), SIGINT);
        for (;;) ::pause();
      },
      ::testing::KilledBySignal(SIGINT), "");
}

i32 writingFilter(const ExceptionRecord* record) {
  const char* text = record->code == kExceptionIllegalInstruction ? "filter: illegal instruction"
                     : record->code == kExceptionAccessViolation  ? "filter: access violation"
                     : record->code == kExceptionCpp              ? "filter: c++ exception"
                                                                  : "filter: other";
  writeCrashText(text, static_cast<u32>(std::strlen(text)));
  if (record->code != kExceptionCpp && record->address == 0) {
    const char* none = "filter: no address";
    writeCrashText(none, static_cast<u32>(std::strlen(none)));
  }
  return 0;
}

TEST_F(PlatformSignalsDeathTest, FaultReachesTheFilterAndThenEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setUnhandledExceptionFilter(writingFilter);
        __builtin_trap();
      },
      ::testing::KilledBySignal(SIGILL), "filter: illegal instruction\n$");
}

// Runs off the end of the thread's stack (the limit only keeps the
// compiler from calling it endless).
std::atomic<long> g_depthLimit{1L << 40};
int recurse(long depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_depthLimit) return frame[0];
  return recurse(depth + 1) + frame[0];
}

TEST_F(PlatformSignalsDeathTest, StackOverflowStillReachesTheFilter) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setUnhandledExceptionFilter(writingFilter);
        recurse(0);
      },
      ::testing::KilledBySignal(SIGSEGV), "filter: access violation");
}

void overflow(void*) { recurse(0); }

TEST_F(PlatformSignalsDeathTest, StackOverflowOnAStartedThreadStillReachesTheFilter) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setUnhandledExceptionFilter(writingFilter);
        Thread thread;
        if (thread.create(overflow, nullptr)) {
          thread.open();
          thread.join();
        }
      },
      ::testing::KilledBySignal(SIGSEGV), "filter: access violation");
}

TEST_F(PlatformSignalsDeathTest, UncaughtCppExceptionReachesTheFilter) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        setUnhandledExceptionFilter(writingFilter);
        std::thread([] { throw std::runtime_error("nobody catches this"); }).join();
      },
      "filter: c\\+\\+ exception");
}

}  // namespace
