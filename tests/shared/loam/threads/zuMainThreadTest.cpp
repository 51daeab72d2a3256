#include <gtest/gtest.h>

#include <thread>

#include "loam/platform/zuPlatformThread.h"
#include "loam/threads/zuMainThread.h"

namespace {

// The global object is shared by the whole test program: each test leaves it
// bound to the test's own thread and removes foreign ids it entered.
TEST(MainThread, BuiltRunningWithoutParentOrThread) {
  zuMainThread& m = zuMainThread::instance();
  EXPECT_EQ(m.state(), zuThread::kStateRunning);
  EXPECT_TRUE(m.isRunning());
  EXPECT_EQ(m.parent(), nullptr);
  m.wait();  // no operating-system thread of its own: returns at once
}

TEST(MainThread, AttachBindsOnceAndFollowsTheMainWork) {
  zuMainThread& m = zuMainThread::instance();
  m.attach();
  const u32 me = zuPlatform::currentThreadId();
  EXPECT_TRUE(m.isBound());
  EXPECT_EQ(m.threadId(), me);
  EXPECT_EQ(zuThread::currentThread(), &m);

  u32 other = 0;
  std::thread([&] {
    other = zuPlatform::currentThreadId();
    m.attach(false);  // bound already: stays
    EXPECT_EQ(m.threadId(), me);
    m.attach();  // follows this thread; the old id stays registered
    EXPECT_EQ(m.threadId(), other);
    EXPECT_EQ(zuThread::currentThread(), &m);
  }).join();
  EXPECT_EQ(zuThread::findThread(me), &m);
  EXPECT_EQ(zuThread::findThread(other), &m);

  zuThread::unregisterThread(other);
  m.attach();
  EXPECT_EQ(m.threadId(), me);
}

TEST(MainThread, StopEventIsTheStopSignal) {
  zuMainThread& m = zuMainThread::instance();
  m.stop(4);
  EXPECT_TRUE(m.stopEvent()->isSet());
  EXPECT_EQ(m.exitCode(), 4u);
  EXPECT_EQ(m.state(), zuThread::kStateRunning);
  m.stopEvent()->reset();
}

class Plain : public zuThread {
 public:
  using zuThread::zuThread;

 protected:
  void run() override {}
};

TEST(MainThread, ThreadWithAParentBindsAnUnboundMainObject) {
  // A parent given explicitly binds the main object when nothing bound it
  // yet; once bound it stays where it is.
  zuMainThread& m = zuMainThread::instance();
  m.attach();
  const u32 me = m.threadId();
  u32 seen = 0;
  std::thread([&] {
    Plain p(&m);
    seen = m.threadId();
    EXPECT_EQ(p.parent(), &m);
  }).join();
  EXPECT_EQ(seen, me);
}

}  // namespace
