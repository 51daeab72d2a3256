#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformMessageQueue.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/TestSupport.h"

namespace {

using zuPlatform::MessageTarget;
using zuPlatform::PostedMessage;

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

bool waitFor(const zuEvent& e, u32 ms) {
  std::vector<zuPlatform::Handle> handles;
  e.collectHandles(handles);
  return zuPlatform::waitForAny(handles, ms) >= 0;
}

struct Case {
  const char* ops;  // s set, r reset, p pulse
  bool isSet;
  u32 setCount;
};

TEST(zuSingleEvent, StateAndCountsTable) {
  const Case table[] = {
      {"", false, 0},   {"s", true, 1},   {"ss", true, 2},   {"sr", false, 1},
      {"r", false, 0},  {"p", false, 1},  {"sp", false, 2},  {"ps", true, 2},
      {"srs", true, 2}, {"pp", false, 2}, {"spr", false, 2},
  };
  for (const Case& row : table) {
    zuSingleEvent e;
    for (const char* op = row.ops; *op; ++op) {
      if (*op == 's') e.set();
      if (*op == 'r') e.reset();
      if (*op == 'p') e.pulse();
    }
    EXPECT_EQ(e.isSet(), row.isSet) << '"' << row.ops << '"';
    EXPECT_EQ(e.signalled(), row.isSet ? &e : nullptr) << '"' << row.ops << '"';
    EXPECT_EQ(e.setCount(), row.setCount) << '"' << row.ops << '"';
    EXPECT_EQ(e.lastState(), row.isSet) << '"' << row.ops << '"';
    EXPECT_EQ(e.eventCount(), 1u);
  }
}

TEST(zuSingleEvent, IsSetRecordsWhatItSawOnTheHandle) {
  zuSingleEvent e;
  // Signalled behind the object's back, as a process handle is when the
  // process ends.
  ASSERT_TRUE(zuPlatform::setEvent(e.handle()));
  EXPECT_FALSE(e.lastState());
  EXPECT_TRUE(e.isSet());
  EXPECT_TRUE(e.lastState());
  EXPECT_EQ(e.setCount(), 0u);
}

bool isOpen(zuPlatform::Handle h) { return fcntl(h, F_GETFD) != -1; }

TEST(zuSingleEvent, HandleOwnershipByConstructorForm) {
  {
    zuSingleEvent created;
    EXPECT_TRUE(created.owned());
    EXPECT_TRUE(zuPlatform::isValidHandle(created.handle()));
    EXPECT_FALSE(created.isSet());
  }
  const zuPlatform::Handle kept = zuPlatform::createEvent();
  ASSERT_TRUE(zuPlatform::isValidHandle(kept));
  {
    zuSingleEvent wrapped(kept, false);
    EXPECT_FALSE(wrapped.owned());
    wrapped.set();
  }
  EXPECT_TRUE(isOpen(kept));
  EXPECT_TRUE(zuPlatform::isSignalled(kept));
  {
    zuSingleEvent handedOver(kept, true);
    EXPECT_TRUE(handedOver.owned());
    EXPECT_TRUE(handedOver.isSet());
  }
  EXPECT_FALSE(isOpen(kept));
}

TEST(zuSingleEvent, NoHandleFailsWith260AndKeepsStateWrittenBefore) {
  zuSingleEvent none(zuPlatform::kInvalidHandle, false);
  EXPECT_FALSE(none.owned());
  EXPECT_FALSE(none.isSet());
  try {
    none.set();
    FAIL() << "set without a handle must throw";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), 260);
    EXPECT_EQ(std::string(e.what()), "");
  }
  EXPECT_EQ(none.setCount(), 1u);
  EXPECT_TRUE(none.lastState());
  EXPECT_THROW(none.pulse(), zuException);
  EXPECT_EQ(none.setCount(), 2u);
  EXPECT_FALSE(none.lastState());
  EXPECT_THROW(none.reset(), zuException);
}

// Distinct ids per test keep the shared queues apart.
constexpr zuPlatform::WindowId kWindow = 0x7e570001;

void drain(MessageTarget t) {
  PostedMessage m;
  while (zuPlatform::peekMessage(t, m, true)) {
  }
}

TEST(zuSingleEvent, NotifiesWindowAndThreadOnSetAndPulseOnly) {
  const u32 thread = zuPlatform::currentThreadId();
  const MessageTarget w = MessageTarget::window(kWindow);
  const MessageTarget t = MessageTarget::thread(thread);
  drain(w);
  drain(t);
  zuSingleEvent e;
  e.setNotifyWindow(kWindow, 0x400, 77);
  e.setNotifyThread(thread, 0x400, 77);
  const u64 self = reinterpret_cast<std::uintptr_t>(&e);

  struct Step {
    char op;
    u32 messages;  // posted to each target by the step
  };
  const Step steps[] = {{'s', 1}, {'r', 0}, {'p', 1}, {'r', 0}, {'s', 1}};
  for (const Step& step : steps) {
    if (step.op == 's') e.set();
    if (step.op == 'r') e.reset();
    if (step.op == 'p') e.pulse();
    EXPECT_EQ(zuPlatform::pendingMessages(w), step.messages) << step.op;
    EXPECT_EQ(zuPlatform::pendingMessages(t), step.messages) << step.op;
    for (const MessageTarget& target : {w, t}) {
      PostedMessage m;
      if (!zuPlatform::peekMessage(target, m, true)) continue;
      EXPECT_EQ(m.message, 0x400u);
      EXPECT_EQ(m.param1, self);
      EXPECT_EQ(m.param2, 77u);
    }
  }

  // A null window or thread 0 turns that notification off.
  e.setNotifyWindow(zuPlatform::kNoWindow, 0x401, 1);
  e.set();
  EXPECT_EQ(zuPlatform::pendingMessages(w), 0u);
  EXPECT_EQ(zuPlatform::pendingMessages(t), 1u);
  drain(t);
  e.setNotifyThread(0, 0x401, 1);
  e.pulse();
  EXPECT_EQ(zuPlatform::pendingMessages(t), 0u);
}

TEST(zuSingleEvent, SetWakesAWaiterOnAnotherThread) {
  zuSingleEvent go, done;
  std::thread waiter([&] {
    if (waitFor(go, kBoundMs)) done.set();
  });
  EXPECT_FALSE(waitFor(go, 0));  // the wait reports a time-out while clear
  go.set();
  EXPECT_TRUE(waitFor(done, kBoundMs));
  waiter.join();
  EXPECT_EQ(done.setCount(), 1u);
}

TEST(zuSingleEvent, ContainersKeepOrderAndDuplicates) {
  zuSingleEvent e;
  auto* a = reinterpret_cast<zuThread*>(std::uintptr_t{0x10});
  auto* b = reinterpret_cast<zuThread*>(std::uintptr_t{0x20});
  e.attach(a);
  e.attach(b);
  e.attach(a);
  e.detach(a);  // the first equal entry only
  EXPECT_EQ(e.containers(), (std::vector<zuThread*>{b, a}));
  e.detachAll();
  EXPECT_EQ(e.containers().size(), 2u);
  e.detach(nullptr);  // not in the list: nothing happens
  EXPECT_EQ(e.containers().size(), 2u);
}

}  // namespace
