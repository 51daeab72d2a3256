#include <gtest/gtest.h>

#include <atomic>

#include "loam/threads/zuTimerThread.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

std::atomic<int> g_calls{0};
std::atomic<zuSingleEvent*> g_thirdCall{nullptr};

void countCall() {
  if (++g_calls == 3)
    if (zuSingleEvent* e = g_thirdCall.load()) e->set();
}
void otherCall() {}

// Sets its own stop event on the thread before run begins.
class PreStopped : public zuTimerThread {
 public:
  using zuTimerThread::zuTimerThread;

 protected:
  void onStart() override { stopEvent()->set(); }
};

TEST(TimerThread, CallsBackEveryIntervalUntilStopped) {
  g_calls = 0;
  zuSingleEvent third;
  g_thirdCall = &third;
  zuTimerThread t(&countCall, 1);
  t.start();
  ASSERT_FALSE(zuThread::waitForObjects(kBoundMs, &third));
  t.stop(0);
  t.wait();
  g_thirdCall = nullptr;
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
  EXPECT_GE(g_calls.load(), 3);
}

TEST(TimerThread, StopEventSetBeforeRunNeverCallsBack) {
  g_calls = 0;
  // Interval 0 would call at once if run did not look at the stop event first.
  PreStopped t(&countCall, 0);
  t.start();
  ASSERT_FALSE(zuThread::waitForObjects(kBoundMs, t.finishedEvent()));
  t.wait();
  EXPECT_EQ(g_calls.load(), 0);
}

TEST(TimerThread, StopDuringALongIntervalEndsAtOnce) {
  g_calls = 0;
  zuTimerThread t(&countCall, 0x7FFFFFF0u);
  t.start();
  t.stop(0);
  ASSERT_FALSE(zuThread::waitForObjects(kBoundMs, t.finishedEvent()));
  EXPECT_EQ(g_calls.load(), 0);
}

TEST(TimerThread, SetCallbackReturnsThePrevious) {
  zuTimerThread t(nullptr, 10);
  EXPECT_EQ(t.setCallback(&countCall), nullptr);
  EXPECT_EQ(t.setCallback(&otherCall), &countCall);
  EXPECT_EQ(t.interval(), 10u);
}

TEST(TimerThread, NullCallbackOnlyKeepsTime) {
  zuTimerThread t(nullptr, 1);
  t.start();
  t.stop(0);
  t.wait();
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
}

TEST(TimerThread, DestroyingARunningTimerStopsIt) {
  g_calls = 0;
  zuSingleEvent third;
  g_thirdCall = &third;
  u32 id = 0;
  {
    zuTimerThread t(&countCall, 1);
    t.start();
    id = t.threadId();
    ASSERT_FALSE(zuThread::waitForObjects(kBoundMs, &third));
  }  // stopped and joined, so nothing runs on the freed object
  g_thirdCall = nullptr;
  EXPECT_EQ(zuThread::findThread(id), nullptr);
}

}  // namespace
