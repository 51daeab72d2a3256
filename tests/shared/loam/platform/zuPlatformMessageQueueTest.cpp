#include <gtest/gtest.h>

#include "loam/platform/zuPlatformMessageQueue.h"

namespace {

using namespace zuPlatform;

// Ids unlikely to meet other tests' targets.
constexpr WindowId kWindow = 0x5eed0001;
constexpr u32 kThread = 0x5eed0002;

void drain(MessageTarget t) {
  PostedMessage m;
  while (peekMessage(t, m, true)) {
  }
}

TEST(PlatformMessageQueue, PeekKeepsTakeRemovesInOrder) {
  const MessageTarget w = MessageTarget::window(kWindow);
  drain(w);
  ASSERT_TRUE(postMessage(w, 10, 1, 2));
  ASSERT_TRUE(postMessage(w, 11, 3, 4));
  PostedMessage m;
  ASSERT_TRUE(peekMessage(w, m, false));
  EXPECT_EQ(m.message, 10u);
  EXPECT_EQ(pendingMessages(w), 2u);
  ASSERT_TRUE(peekMessage(w, m, true));
  EXPECT_EQ(m.message, 10u);
  EXPECT_EQ(m.param1, 1u);
  EXPECT_EQ(m.param2, 2u);
  ASSERT_TRUE(peekMessage(w, m, true));
  EXPECT_EQ(m.message, 11u);
  EXPECT_FALSE(peekMessage(w, m, true));
}

TEST(PlatformMessageQueue, WindowAndThreadWithSameIdAreSeparate) {
  const MessageTarget w = MessageTarget::window(kThread);
  const MessageTarget t = MessageTarget::thread(kThread);
  drain(w);
  drain(t);
  ASSERT_TRUE(postMessage(t, 7, 0, 0));
  EXPECT_EQ(pendingMessages(w), 0u);
  EXPECT_EQ(pendingMessages(t), 1u);
  drain(t);
}

TEST(PlatformMessageQueue, RejectsNoTargetAndFullQueue) {
  EXPECT_FALSE(postMessage(MessageTarget::window(kNoWindow), 1, 0, 0));
  EXPECT_FALSE(postMessage(MessageTarget::thread(0), 1, 0, 0));
  const MessageTarget t = MessageTarget::thread(kThread + 1);
  drain(t);
  for (u32 i = 0; i < kMessageQueueLimit; ++i) ASSERT_TRUE(postMessage(t, i, 0, 0));
  EXPECT_FALSE(postMessage(t, 0, 0, 0));
  PostedMessage m;
  ASSERT_TRUE(peekMessage(t, m, true));
  EXPECT_TRUE(postMessage(t, 0, 0, 0));  // room again once one is read
  drain(t);
}

}  // namespace
