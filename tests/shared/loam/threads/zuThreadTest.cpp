#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/platform/zuPlatformRandom.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuThread.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());
constexpr u32 kForever = 0xFFFFFFFF;

// True when the event is set within the failure bound.
bool setWithinBound(zuEvent* event) { return !zuThread::waitForObjects(kBoundMs, event); }

// A thread whose run and onExit are given by the test, and that records what
// it saw on its own thread.
class ProbeThread : public zuThread {
 public:
  using Body = std::function<void(ProbeThread&)>;

  explicit ProbeThread(Body body = {}) : body_(std::move(body)) {}
  ProbeThread(zuThread* parent, Body body) : zuThread(parent), body_(std::move(body)) {}
  // A failing test must not leave the thread running on a dead object.
  ~ProbeThread() override {
    stop(0);
    wait();
  }

  std::function<void()> exitHook;
  std::function<void(const std::exception&)> exceptionHook;
  std::atomic<int> runs{0};
  std::atomic<int> exits{0};
  std::atomic<u32> stateInRun{99};
  std::atomic<zuThread*> currentInRun{nullptr};
  std::atomic<u32> idInRun{0};

  // A body that returns once the thread is stopped.
  static void untilStopped(ProbeThread& t) { zuThread::waitForObjects(kForever, t.stopEvent()); }

 protected:
  void run() override {
    ++runs;
    stateInRun = state();
    currentInRun = currentThread();
    idInRun = zuPlatform::currentThreadId();
    if (body_) body_(*this);
  }
  void onExit() override {
    ++exits;
    if (exitHook) exitHook();
  }
  void handleException(const std::exception& e) override {
    zuThread::handleException(e);
    if (exceptionHook) exceptionHook(e);
  }

 private:
  Body body_;
};

TEST(Thread, ImmediateRunGoesThroughRunningToEnded) {
  const u32 before = zuThread::threadCount();
  ProbeThread t;
  EXPECT_EQ(t.state(), zuThread::kStateCreated);
  EXPECT_EQ(t.threadId(), 0u);
  t.start();
  ASSERT_TRUE(setWithinBound(t.finishedEvent()));
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
  EXPECT_EQ(t.runs.load(), 1);
  EXPECT_EQ(t.exits.load(), 1);
  // run saw itself registered and running, however quickly it returned.
  EXPECT_EQ(t.stateInRun.load(), zuThread::kStateRunning);
  EXPECT_EQ(t.currentInRun.load(), &t);
  EXPECT_EQ(t.idInRun.load(), t.threadId());
  EXPECT_EQ(zuThread::findThread(t.threadId()), nullptr);
  EXPECT_EQ(zuThread::threadCount(), before);
  EXPECT_FALSE(t.isRunning());
  EXPECT_EQ(t.lastError().code(), 0);
}

// What an exception escaping run leaves as the last error.
TEST(Thread, EscapingExceptionBecomesTheLastError) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    u16 code;
    std::string text;
  } cases[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }, 259,
       "Could not perform operation because available memory is exhausted."},
      {"std exception", [] { throw std::runtime_error("boom"); }, 261,
       "An unexpected exception \"boom\" occurred.  Please notify Tarnwell Technical Support."},
      {"zuException", [] { throw zuException(1541, "File $f failed.", 'f', "a.msi"); }, 1541,
       "File a.msi failed."},
      {"not a std exception", [] { throw 42; }, 261,
       "An internal error occurred in \".\\shared\\loam\\threads\\zuThread\" line \"1010\".  "
       "Please notify Tarnwell Tech Support."},
  };
  for (const Case& c : cases) {
    ProbeThread t([&](ProbeThread&) { c.raise(); });
    t.start();
    ASSERT_TRUE(setWithinBound(t.finishedEvent())) << c.name;
    EXPECT_EQ(t.state(), zuThread::kStateEnded) << c.name;
    EXPECT_EQ(t.exits.load(), 1) << c.name;
    const zuErrorMessage error = t.lastError();
    EXPECT_EQ(error.code(), c.code) << c.name;
    EXPECT_EQ(error.toString(), c.text) << c.name;
  }
}

TEST(Thread, NonStdExceptionReachesHandleExceptionAsZuException) {
  std::atomic<bool> wasZu{false};
  ProbeThread t([](ProbeThread&) { throw 7; });
  t.exceptionHook = [&](const std::exception& e) {
    wasZu = dynamic_cast<const zuException*>(&e) != nullptr;
  };
  t.start();
  t.wait();
  EXPECT_TRUE(wasZu.load());
  const zuErrorMessage error = t.lastError();
  EXPECT_EQ(error.text(), kzuInternalErrorAtText);
  EXPECT_EQ(error.paramRef('f'), ".\\shared\\loam\\threads\\zuThread");
  EXPECT_EQ(error.paramRef('l'), "1010");
}

// Owners reap by state 3 and the finished event; a throwing onExit or
// handleException must not keep a thread from reaching them.
TEST(Thread, ThrowingExitStepsStillEndTheThread) {
  struct Case {
    const char* name;
    bool runThrows;
    bool exitThrows;
    bool handlerThrows;
  } cases[] = {
      {"onExit throws", false, true, false},
      {"handleException throws", true, false, true},
      {"both throw", true, true, true},
  };
  for (const Case& c : cases) {
    const u32 before = zuThread::threadCount();
    ProbeThread t([&](ProbeThread&) {
      if (c.runThrows) throw std::runtime_error("run");
    });
    if (c.exitThrows) t.exitHook = [] { throw std::runtime_error("exit"); };
    if (c.handlerThrows) t.exceptionHook = [](const std::exception&) { throw 1; };
    t.start();
    ASSERT_TRUE(setWithinBound(t.finishedEvent())) << c.name;
    EXPECT_EQ(t.state(), zuThread::kStateEnded) << c.name;
    EXPECT_EQ(zuThread::findThread(t.threadId()), nullptr) << c.name;
    EXPECT_EQ(zuThread::threadCount(), before) << c.name;
  }
}

TEST(Thread, StopOnlyActsOnARunningThread) {
  ProbeThread t(&ProbeThread::untilStopped);
  t.stop(5);  // created: nothing happens
  EXPECT_EQ(t.exitCode(), 0u);
  EXPECT_FALSE(t.stopEvent()->isSet());
  EXPECT_EQ(t.state(), zuThread::kStateCreated);

  t.start();
  t.stop(7);
  ASSERT_TRUE(setWithinBound(t.finishedEvent()));
  t.wait();
  EXPECT_EQ(t.exitCode(), 7u);

  t.stop(9);  // ended: nothing happens either
  EXPECT_EQ(t.exitCode(), 7u);
}

TEST(Thread, WaitReturnsAtOnceWithoutAThreadOrOnItself) {
  ProbeThread never;
  never.wait();  // never started
  EXPECT_EQ(never.state(), zuThread::kStateCreated);

  std::atomic<bool> returned{false};
  ProbeThread self([&](ProbeThread& t) {
    t.wait();
    returned = true;
  });
  self.start();
  ASSERT_TRUE(setWithinBound(self.finishedEvent()));
  EXPECT_TRUE(returned.load());
}

TEST(Thread, WaitJoinsEvenAfterStateThree) {
  // wait from several threads at once, while the thread ends.
  ProbeThread t(&ProbeThread::untilStopped);
  t.start();
  std::thread a([&] { t.wait(); });
  std::thread b([&] { t.wait(); });
  t.stop(0);
  a.join();
  b.join();
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
  t.wait();
}

TEST(Thread, RestartAfterEndRunsAgainRegisteredWithFreshEvents) {
  ProbeThread t(&ProbeThread::untilStopped);
  for (int round = 1; round <= 3; ++round) {
    t.start();
    EXPECT_FALSE(t.finishedEvent()->isSet()) << round;
    EXPECT_FALSE(t.stopEvent()->isSet()) << round;
    EXPECT_EQ(t.state(), zuThread::kStateRunning) << round;
    EXPECT_EQ(zuThread::findThread(t.threadId()), &t) << round;
    t.stop(static_cast<u32>(round));
    t.wait();
    EXPECT_EQ(t.state(), zuThread::kStateEnded) << round;
    EXPECT_EQ(t.runs.load(), round);
    EXPECT_EQ(t.currentInRun.load(), &t) << round;
    EXPECT_EQ(t.exitCode(), static_cast<u32>(round));
  }
}

TEST(Thread, StartOnALiveThreadDoesNothing) {
  ProbeThread t(&ProbeThread::untilStopped);
  t.start();
  const u32 id = t.threadId();
  t.start();
  EXPECT_EQ(t.threadId(), id);
  t.suspend();
  t.start();
  EXPECT_EQ(t.threadId(), id);
  t.stop(0);
  t.wait();
  EXPECT_EQ(t.runs.load(), 1);
}

TEST(Thread, CreationFailureThrowsBadAllocAndKeepsTheState) {
  const u32 before = zuThread::threadCount();
  ProbeThread t;
  zuPlatform::Thread::failCreationsForTest(1);
  EXPECT_THROW(t.start(), std::bad_alloc);
  EXPECT_EQ(t.state(), zuThread::kStateCreated);
  EXPECT_EQ(zuThread::threadCount(), before);
  t.start();
  t.wait();
  EXPECT_EQ(t.runs.load(), 1);
}

// Ends at once; its destructor neither stops nor waits, as the server's
// handlers do not.
class QuickThread : public zuThread {
 protected:
  void run() override {}
};

// The server deletes a handler the moment it reads state 3; the thread may
// then still be setting its finished event. Run under ASan and TSan.
TEST(Thread, DeleteRightAfterStateThree) {
  for (int i = 0; i < 200; ++i) {
    auto t = std::make_unique<QuickThread>();
    t->start();
    ASSERT_TRUE(tw::test::eventually([&] { return t->state() == zuThread::kStateEnded; }));
    t.reset();
  }
}

TEST(Thread, SuspendAndResumeChangeTheStateOnly) {
  ProbeThread never;
  never.suspend();  // no thread: nothing
  EXPECT_EQ(never.state(), zuThread::kStateCreated);

  ProbeThread t(&ProbeThread::untilStopped);
  t.start();
  t.suspend();
  EXPECT_EQ(t.state(), zuThread::kStateSuspended);
  EXPECT_TRUE(t.isRunning());
  t.resume();
  EXPECT_EQ(t.state(), zuThread::kStateRunning);
  t.suspend();
  t.stop(3);  // resumes, then stops
  t.wait();
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
  EXPECT_EQ(t.exitCode(), 3u);
}

TEST(Thread, TerminateOfAThreadThatEndsInTimeJoinsIt) {
  ProbeThread t(&ProbeThread::untilStopped);
  t.start();
  t.terminate();
  EXPECT_EQ(t.state(), zuThread::kStateEnded);
  EXPECT_EQ(t.exits.load(), 1);  // its own last steps ran: not given up
  EXPECT_EQ(zuThread::findThread(t.threadId()), nullptr);
}

TEST(Thread, TerminateAbandonsAThreadThatIgnoresTheStop) {
  // What the abandoned run still touches lives outside the thread object.
  struct Shared {
    zuSingleEvent entered;
    zuSingleEvent release;
    zuSingleEvent returned;
  };
  auto shared = std::make_shared<Shared>();
  auto t = std::make_unique<ProbeThread>([shared](ProbeThread&) {
    const std::shared_ptr<Shared> keep = shared;  // the body's copy dies with the object
    keep->entered.set();
    zuThread::waitForObjects(kBoundMs, &keep->release);
    keep->returned.set();
  });
  t->start();
  ASSERT_TRUE(setWithinBound(&shared->entered));
  const u32 id = t->threadId();
  t->terminate();
  EXPECT_EQ(t->state(), zuThread::kStateEnded);
  EXPECT_TRUE(t->finishedEvent()->isSet());
  EXPECT_EQ(zuThread::findThread(id), nullptr);
  t.reset();  // the owner deletes it; the thread goes on alone
  shared->release.set();
  EXPECT_TRUE(setWithinBound(&shared->returned));
}

TEST(Thread, RegistryHoldsRunningThreadsOnly) {
  const u32 before = zuThread::threadCount();
  std::vector<std::unique_ptr<ProbeThread>> threads;
  for (int i = 0; i < 8; ++i) {
    threads.push_back(std::make_unique<ProbeThread>(&ProbeThread::untilStopped));
    threads.back()->start();
  }
  EXPECT_EQ(zuThread::threadCount(), before + 8);
  for (auto& t : threads) EXPECT_EQ(zuThread::findThread(t->threadId()), t.get());
  for (auto& t : threads) t->stop(0);
  for (auto& t : threads) t->wait();
  for (auto& t : threads) EXPECT_EQ(zuThread::findThread(t->threadId()), nullptr);
  EXPECT_EQ(zuThread::threadCount(), before);
}

TEST(Thread, RegistryFunctions) {
  ProbeThread ended;
  ended.start();
  ended.wait();
  const u32 before = zuThread::threadCount();
  ProbeThread created;
  zuThread::registerThread(0xFFFFFFF0u, &created);
  EXPECT_EQ(zuThread::findThread(0xFFFFFFF0u), &created);
  zuThread::registerThread(0xFFFFFFF0u, &created);  // replaces
  EXPECT_EQ(zuThread::threadCount(), before + 1);
  zuThread::registerThread(0xFFFFFFF1u, &ended);  // state 3: not entered
  EXPECT_EQ(zuThread::findThread(0xFFFFFFF1u), nullptr);
  zuThread::unregisterThread(0xFFFFFFF0u);
  EXPECT_EQ(zuThread::findThread(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(zuThread::threadCount(), before);
  EXPECT_EQ(zuThread::currentThreadId(), zuPlatform::currentThreadId());
}

TEST(Thread, ForeignThreadHasNoZuThreadAndMakesOrphans) {
  zuThread* current = reinterpret_cast<zuThread*>(1);
  zuThread* parent = reinterpret_cast<zuThread*>(1);
  std::thread([&] {
    current = zuThread::currentThread();
    ProbeThread made;
    parent = made.parent();
  }).join();
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(parent, nullptr);
}

TEST(Thread, ThreadMadeInsideRunIsItsChild) {
  std::unique_ptr<ProbeThread> child;
  ProbeThread outer([&](ProbeThread&) { child = std::make_unique<ProbeThread>(); });
  outer.start();
  outer.wait();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->parent(), &outer);
  const std::vector<zuThread*> kids = outer.children();
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_EQ(kids[0], child.get());
  child.reset();
  EXPECT_TRUE(outer.children().empty());
}

TEST(Thread, ChildrenAreStoppedWaitedAndDeletedInOrder) {
  ProbeThread parent;
  std::atomic<int> destroyed{0};
  struct Counted : ProbeThread {
    Counted(zuThread* p, std::atomic<int>& d) : ProbeThread(p, &ProbeThread::untilStopped), d_(d) {}
    ~Counted() override { ++d_; }
    std::atomic<int>& d_;
  };
  std::vector<zuThread*> made;
  for (int i = 0; i < 3; ++i) {
    auto* c = new Counted(&parent, destroyed);  // owned by parent: deleteChildren
    made.push_back(c);
    c->start();
  }
  EXPECT_EQ(parent.children(), made);
  parent.stopChildren(11);
  parent.waitChildren();
  for (zuThread* c : made) {
    EXPECT_EQ(c->state(), zuThread::kStateEnded);
    EXPECT_EQ(c->exitCode(), 11u);
  }
  parent.deleteChildren();
  EXPECT_EQ(destroyed.load(), 3);
  EXPECT_TRUE(parent.children().empty());
}

TEST(Thread, ChildOutlivingItsParentLosesIt) {
  auto parent = std::make_unique<ProbeThread>();
  ProbeThread child(parent.get(), {});
  EXPECT_EQ(child.parent(), parent.get());
  parent.reset();
  EXPECT_EQ(child.parent(), nullptr);  // and its destructor touches no freed parent
}

TEST(Thread, EachThreadSeedsItsOwnRandomSequence) {
  // An unseeded generator starts from seed 1.
  u32 unseeded[3] = {};
  std::thread([&] {
    for (u32& v : unseeded) v = zuPlatform::crtRand();
  }).join();
  u32 seen[3] = {};
  ProbeThread t([&](ProbeThread&) {
    for (u32& v : seen) v = zuPlatform::crtRand();
  });
  t.start();
  t.wait();
  EXPECT_FALSE(std::equal(std::begin(seen), std::end(seen), std::begin(unseeded)));
}

// ---- waitForObjects ----

TEST(WaitForObjects, Table) {
  zuSingleEvent set;
  set.set();
  zuSingleEvent clear;
  zuMultiEvent oneSet(&clear, &set);
  zuMultiEvent noneSet(&clear);
  zuMultiEvent empty;
  struct Case {
    const char* name;
    u32 ms;
    zuEvent* events;
    bool timedOut;
  } cases[] = {
      {"set event, long limit", kBoundMs, &set, false},
      {"set event, no limit", kForever, &set, false},
      {"clear event times out", 20, &clear, true},
      {"zero time", 0, &clear, true},
      {"null event sleeps", 20, nullptr, true},
      {"set member of a set", kBoundMs, &oneSet, false},
      {"clear members time out", 20, &noneSet, true},
      {"no members time out", 20, &empty, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zuThread::waitForObjects(c.ms, c.events), c.timedOut) << c.name;
}

TEST(WaitForObjects, WakesWhenAnotherThreadSets) {
  zuSingleEvent ready;
  zuSingleEvent go;
  std::thread setter([&] {
    zuThread::waitForObjects(kBoundMs, &ready);
    go.set();
  });
  ready.set();
  EXPECT_FALSE(zuThread::waitForObjects(kForever, &go));
  setter.join();
}

// ---- waitEvent ----

TEST(WaitEvent, AttachesUntilTheEventIsSet) {
  ProbeThread t;
  EXPECT_EQ(t.waitEvent(nullptr), nullptr);
  zuSingleEvent e;
  EXPECT_EQ(t.waitEvent(&e), nullptr);
  ASSERT_EQ(e.containers().size(), 1u);
  EXPECT_EQ(e.containers()[0], &t);
  EXPECT_EQ(t.endWaitEvent(&e), nullptr);  // not set: nothing signalled
  EXPECT_TRUE(e.containers().empty());

  e.set();
  EXPECT_EQ(t.waitEvent(&e), &e);
  EXPECT_TRUE(e.containers().empty());
  EXPECT_EQ(t.endWaitEvent(&e), &e);
  EXPECT_EQ(t.endWaitEvent(nullptr), nullptr);
}

TEST(PollSockets, OneSocketForm) {
  EXPECT_EQ(zuThread::pollSockets(-1, zuThread::kPollReadable, 0), 0);
  std::vector<zuThread::PollEntry> none;
  EXPECT_EQ(zuThread::pollSockets(none, 0), 0);
}

}  // namespace
