#include <fcntl.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformWait.h"
#include "support/TestSupport.h"

namespace {

using namespace zuPlatform;

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

// Owns one platform event for a test.
struct Event {
  Handle h = createEvent();
  ~Event() { closeHandle(h); }
};

TEST(PlatformEvent, CreatedClearAndCloseOnExec) {
  Event e;
  ASSERT_TRUE(isValidHandle(e.h));
  EXPECT_FALSE(isSignalled(e.h));
  EXPECT_NE(fcntl(e.h, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(fcntl(e.h, F_GETFL) & O_NONBLOCK, 0);  // reset must never block
}

// Each row: operations applied in order to a fresh event, and whether it is
// signalled afterwards.
struct Steps {
  const char* name;
  std::vector<char> ops;  // s set, r reset, p pulse
  bool signalled;
};

TEST(PlatformEvent, SetResetPulseTable) {
  const Steps table[] = {
      {"set", {'s'}, true},
      {"set twice", {'s', 's'}, true},
      {"set then reset", {'s', 'r'}, false},
      {"set twice then one reset", {'s', 's', 'r'}, false},
      {"reset a clear event", {'r'}, false},
      {"pulse", {'p'}, false},
      {"set then pulse", {'s', 'p'}, false},
      {"pulse then set", {'p', 's'}, true},
  };
  for (const Steps& row : table) {
    Event e;
    for (char op : row.ops) {
      const bool ok = op == 's' ? setEvent(e.h) : op == 'r' ? resetEvent(e.h) : pulseEvent(e.h);
      ASSERT_TRUE(ok) << row.name;
    }
    EXPECT_EQ(isSignalled(e.h), row.signalled) << row.name;
    // Testing does not consume the state.
    EXPECT_EQ(isSignalled(e.h), row.signalled) << row.name;
  }
}

TEST(PlatformEvent, OperationsOnInvalidHandleFail) {
  EXPECT_FALSE(setEvent(kInvalidHandle));
  EXPECT_FALSE(resetEvent(kInvalidHandle));
  EXPECT_FALSE(pulseEvent(kInvalidHandle));
  EXPECT_FALSE(isSignalled(kInvalidHandle));
}

TEST(PlatformWait, ReturnsIndexOfSignalledHandle) {
  Event a, b, c;
  ASSERT_TRUE(setEvent(b.h));
  const Handle list[] = {a.h, b.h, c.h};
  EXPECT_EQ(waitForAny(list, 0), 1);
  ASSERT_TRUE(setEvent(a.h));
  EXPECT_EQ(waitForAny(list, 0), 0);  // the first signalled one wins
}

TEST(PlatformWait, TimesOutWhenNothingIsSignalled) {
  Event a, b;
  const Handle list[] = {a.h, b.h};
  EXPECT_EQ(waitForAny(list, 0), kWaitTimeout);
  EXPECT_EQ(waitForAny(list, 20), kWaitTimeout);
  EXPECT_FALSE(waitForOne(a.h, 0));
}

TEST(PlatformWait, InvalidEntriesKeepIndices) {
  Event a;
  ASSERT_TRUE(setEvent(a.h));
  const Handle list[] = {kInvalidHandle, a.h};
  EXPECT_EQ(waitForAny(list, 0), 1);
}

TEST(PlatformWait, FailsOnClosedHandleAndOnEndlessEmptyWait) {
  Handle h = createEvent();
  closeHandle(h);
  const Handle list[] = {h};
  EXPECT_EQ(waitForAny(list, 0), kWaitFailed);
  EXPECT_EQ(waitForAny({}, kWaitForever), kWaitFailed);
  EXPECT_EQ(waitForAny({}, 0), kWaitTimeout);
}

TEST(PlatformWait, WokenBySetFromAnotherThread) {
  Event idle, go, done;
  std::thread other([&] {
    // Waits on a list for the main thread's signal, then answers.
    const Handle list[] = {idle.h, go.h};
    if (waitForAny(list, kBoundMs) == 1) setEvent(done.h);
  });
  ASSERT_TRUE(setEvent(go.h));
  EXPECT_TRUE(waitForOne(done.h, kBoundMs));
  other.join();
}

}  // namespace
