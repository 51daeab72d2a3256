#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "loam/platform/zuPlatformMessageQueue.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/TestSupport.h"

namespace {

constexpr u32 kBoundMs = static_cast<u32>(tw::test::kFailBound.count());

TEST(zuMultiEvent, SetWhenAnyMemberIsSetAndSignalledGivesIt) {
  struct Case {
    bool first, second;
    int expected;  // index of the member signalled gives, -1 none
  };
  const Case table[] = {{false, false, -1}, {true, false, 0}, {false, true, 1}, {true, true, 0}};
  for (const Case& row : table) {
    zuSingleEvent a, b;
    zuMultiEvent m(&a, &b);
    if (row.first) a.set();
    if (row.second) b.set();
    zuEvent* const members[] = {&a, &b};
    EXPECT_EQ(m.isSet(), row.expected >= 0);
    EXPECT_EQ(m.signalled(), row.expected < 0 ? nullptr : members[row.expected]);
  }
}

TEST(zuMultiEvent, WokenByAnyMemberSetOnAnotherThread) {
  for (int which = 0; which < 3; ++which) {
    zuSingleEvent a, b, c;
    zuSingleEvent ready;
    zuMultiEvent m(&a, &b);
    m.add(&c);
    zuEvent* const members[] = {&a, &b, &c};
    zuEvent* woke = nullptr;
    std::thread waiter([&] {
      std::vector<zuPlatform::Handle> handles;
      m.collectHandles(handles);
      ready.set();
      if (zuPlatform::waitForAny(handles, kBoundMs) >= 0) woke = m.signalled();
    });
    ASSERT_TRUE(zuPlatform::waitForOne(ready.handle(), kBoundMs));
    members[which]->set();
    waiter.join();
    EXPECT_EQ(woke, members[which]) << which;
  }
}

TEST(zuMultiEvent, MembershipSkipsNullAndRemovesFirstEqual) {
  zuSingleEvent a, b;
  zuMultiEvent m(nullptr, &a);
  EXPECT_EQ(m.members(), (std::vector<zuEvent*>{&a}));
  m.add(nullptr);
  m.add(&b);
  m.add(&a);
  EXPECT_EQ(m.members(), (std::vector<zuEvent*>{&a, &b, &a}));
  m.remove(&a);
  EXPECT_EQ(m.members(), (std::vector<zuEvent*>{&b, &a}));
  m.remove(nullptr);
  EXPECT_TRUE(m.contains(&a));
  m.remove(&a);
  EXPECT_FALSE(m.contains(&a));
  EXPECT_TRUE(m.contains(&b));
}

TEST(zuMultiEvent, CountsSumOverMembersIncludingNestedSets) {
  zuSingleEvent a, b, c;
  zuMultiEvent inner(&b, &c);
  zuMultiEvent outer(&a, &inner);
  EXPECT_EQ(outer.eventCount(), 3u);
  a.set();
  b.pulse();
  c.set();
  c.set();
  EXPECT_EQ(outer.setCount(), 4u);
  std::vector<zuPlatform::Handle> handles;
  outer.collectHandles(handles);
  EXPECT_EQ(handles, (std::vector<zuPlatform::Handle>{a.handle(), b.handle(), c.handle()}));
  zuMultiEvent empty;
  EXPECT_EQ(empty.eventCount(), 0u);
  EXPECT_FALSE(empty.isSet());
  EXPECT_EQ(empty.signalled(), nullptr);
}

TEST(zuMultiEvent, ForwardsOperationsToEveryMember) {
  zuSingleEvent a, b;
  zuMultiEvent m(&a, &b);
  m.set();
  EXPECT_TRUE(a.isSet());
  EXPECT_TRUE(b.isSet());
  m.reset();
  EXPECT_FALSE(a.isSet());
  EXPECT_FALSE(b.isSet());
  m.pulse();
  EXPECT_FALSE(m.isSet());
  EXPECT_EQ(a.setCount(), 2u);
  EXPECT_EQ(b.setCount(), 2u);

  const zuPlatform::WindowId window = 0x7e570002;
  const auto w = zuPlatform::MessageTarget::window(window);
  m.setNotifyWindow(window, 0x400, 5);
  m.set();
  EXPECT_EQ(zuPlatform::pendingMessages(w), 2u);  // one from each member
  zuPlatform::PostedMessage msg;
  while (zuPlatform::peekMessage(w, msg, true)) {
  }

  auto* t = reinterpret_cast<zuThread*>(std::uintptr_t{0x10});
  m.attach(t);
  EXPECT_EQ(a.containers().size(), 1u);
  EXPECT_EQ(b.containers().size(), 1u);
  m.detach(t);
  EXPECT_TRUE(a.containers().empty());
  EXPECT_TRUE(b.containers().empty());
}

}  // namespace
