#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformSocket.h"
#include "loam/platform/zuPlatformWait.h"

namespace {

using namespace zuPlatform;

constexpr u32 kBound = 10000;

TEST(zuPlatformSocket, StartupCountNeverDropsBelowZero) {
  while (socketStartupCount() != 0) socketCleanup();
  EXPECT_TRUE(socketCleanup());
  EXPECT_EQ(socketStartupCount(), 0u);

  failSocketStartupForTest(true);
  EXPECT_FALSE(socketStartup());
  EXPECT_EQ(socketStartupCount(), 0u);
  failSocketStartupForTest(false);

  EXPECT_TRUE(socketStartup());
  // Only the first start-up can fail.
  failSocketStartupForTest(true);
  EXPECT_TRUE(socketStartup());
  failSocketStartupForTest(false);
  EXPECT_EQ(socketStartupCount(), 2u);
  EXPECT_TRUE(socketCleanup());
  EXPECT_TRUE(socketCleanup());
  EXPECT_TRUE(socketCleanup());
  EXPECT_EQ(socketStartupCount(), 0u);
}

struct Pair {
  Pair() { EXPECT_TRUE(socketPair(a, b)); }
  ~Pair() {
    closeSocket(a);
    closeSocket(b);
  }
  Socket a = kInvalidSocket;
  Socket b = kInvalidSocket;
};

u32 waitEvents(Socket s, u32 wanted, u32 ms, std::vector<Handle> handles = {},
               i32* result = nullptr) {
  std::vector<SocketWaitEntry> entries{{s, wanted, 0, 0}};
  const i32 r = waitForSockets(entries, handles, ms);
  if (result) *result = r;
  return entries[0].events;
}

TEST(zuPlatformSocket, WaitReportsOnlyWhatItWasAskedFor) {
  Pair p;
  i32 result = 0;
  // An idle socket is writable, but a read wait does not hear of that.
  EXPECT_EQ(waitEvents(p.a, kEventRead, 0, {}, &result), 0u);
  EXPECT_EQ(result, kWaitTimeout);
  EXPECT_EQ(waitEvents(p.a, kEventWrite, kBound), kEventWrite);

  ASSERT_EQ(sendSocket(p.b, "x", 1), 1);
  EXPECT_EQ(waitEvents(p.a, kEventRead, kBound), kEventRead);

  // The peer's close comes with the data still unread.
  closeSocket(p.b);
  p.b = kInvalidSocket;
  EXPECT_EQ(waitEvents(p.a, kEventRead, kBound), kEventRead | kEventClose);
  char byte;
  EXPECT_EQ(receiveSocket(p.a, &byte, 1), 1);
  EXPECT_EQ(receiveSocket(p.a, &byte, 1), 0);
}

TEST(zuPlatformSocket, HandlesEndTheWait) {
  Pair p;
  const Handle event = createEvent();
  ASSERT_TRUE(setEvent(event));
  i32 result = kWaitFailed;
  EXPECT_EQ(waitEvents(p.a, kEventRead, kWaitForever, {event}, &result), 0u);
  EXPECT_EQ(result, 0);
  closeHandle(event);
}

TEST(zuPlatformSocket, WouldBlockAndRefusedConnect) {
  Pair p;
  char byte;
  EXPECT_EQ(receiveSocket(p.a, &byte, 1), -1);
  EXPECT_EQ(lastSocketError(), kErrorWouldBlock);
  EXPECT_EQ(lastSocketError(), 0u);  // reading it resets it

  // A port nobody listens on: bind one, then give it up.
  SocketAddress loopback;
  loopback.family = kFamilyIPv4;
  loopback.address[0] = 127;
  loopback.address[3] = 1;
  Socket probe = createSocket(kFamilyIPv4, kSocketStream, kProtocolTCP);
  ASSERT_TRUE(bindSocket(probe, loopback));
  SocketAddress bound;
  ASSERT_TRUE(socketName(probe, bound));
  closeSocket(probe);

  Socket s = createSocket(kFamilyIPv4, kSocketStream, kProtocolTCP);
  ASSERT_NE(s, kInvalidSocket);
  const u32 started = connectSocket(s, bound);
  if (started == kErrorWouldBlock) {
    std::vector<SocketWaitEntry> entries{{s, kEventConnect, 0, 0}};
    ASSERT_EQ(waitForSockets(entries, {}, kBound), 0);
    EXPECT_EQ(entries[0].events, kEventConnect | kEventError);
    EXPECT_EQ(entries[0].error, static_cast<u32>(ECONNREFUSED));
  } else {
    EXPECT_EQ(started, static_cast<u32>(ECONNREFUSED));
  }
  closeSocket(s);
}

TEST(zuPlatformSocket, IPv4AndIPv6ShareAPort) {
  Socket six = createSocket(kFamilyIPv6, kSocketStream, kProtocolTCP);
  ASSERT_NE(six, kInvalidSocket);
  SocketAddress any6;
  any6.family = kFamilyIPv6;
  ASSERT_TRUE(bindSocket(six, any6));
  SocketAddress bound;
  ASSERT_TRUE(socketName(six, bound));
  EXPECT_EQ(bound.family, kFamilyIPv6);

  Socket four = createSocket(kFamilyIPv4, kSocketStream, kProtocolTCP);
  SocketAddress any4;
  any4.family = kFamilyIPv4;
  any4.port = bound.port;
  EXPECT_TRUE(bindSocket(four, any4)) << lastSocketError();
  closeSocket(four);
  closeSocket(six);
}

TEST(zuPlatformSocket, OptionsUseTheLibrarysNumbers) {
  Socket s = createSocket(kFamilyIPv4, kSocketDatagram, kProtocolUDP);
  ASSERT_NE(s, kInvalidSocket);
  EXPECT_TRUE(setSocketOption(s, kLevelIP, kOptionTimeToLive, 33));
  i32 value = 0;
  EXPECT_TRUE(getSocketOption(s, kLevelIP, kOptionTimeToLive, value));
  EXPECT_EQ(value, 33);
  EXPECT_TRUE(setSocketOption(s, kLevelSocket, kOptionReuseAddress, 1));
  EXPECT_FALSE(setSocketOption(s, kLevelSocket, 0x1234, 1));
  EXPECT_EQ(lastSocketError(), static_cast<u32>(ENOPROTOOPT));
  closeSocket(s);
  EXPECT_EQ(createSocket(7, kSocketStream, kProtocolTCP), kInvalidSocket);
}

}  // namespace
