// Channels through the fixture manager: opening, windows, data, EOF, CLOSE,
// requests and the channel table.
#include <gtest/gtest.h>

#include "ManagerTestSupport.h"

namespace {

using namespace sshtest;
using SSH::Channel;

std::string dataOf(size_t size) { return std::string(size, 'd'); }

std::string channelData(CryptoPP::word32 recipient, const std::string& data) {
  return Payload(SSH::kMsgChannelData).u32(recipient).str(data).bytes();
}

TEST(ChannelTest, SendOpenWritesTypeNumberWindowAndPacket) {
  ManagerFixture f;
  Channel* c = f.manager.openChannel("session");
  EXPECT_EQ(c->state(), Channel::kNew);
  f.manager.sendChannelOpen(*c);
  EXPECT_EQ(c->state(), Channel::kOpenSent);
  EXPECT_EQ(f.written().at(0),
            Payload(SSH::kMsgChannelOpen).str("session").u32(0).u32(0x1fc00).u32(0x1fc00).bytes());
}

TEST(ChannelTest, DataUpToTheWindowIsAcceptedOneMoreByteIsNot) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.feed(channelData(0, dataOf(130048)));
  EXPECT_EQ(c.localWindow(), 0u);
  EXPECT_EQ(c.received.CurrentSize(), 130048u);

  ManagerFixture g;
  g.openConfirmed(1000, 100);
  EXPECT_EQ(g.feedError(channelData(0, dataOf(130049))), "data exceeds window size");
}

TEST(ChannelTest, DataLongerThanTheMessageIsRefused) {
  ManagerFixture f;
  f.openConfirmed(1000, 100);
  EXPECT_EQ(f.feedError(Payload(SSH::kMsgChannelData).u32(0).u32(10).raw("short").bytes()),
            "unexpected end of packet");
}

TEST(ChannelTest, WindowIsReopenedWhenMoreThanHalfOfTheMaximumIsFree) {
  struct Case {
    size_t arrived;
    size_t read;
    CryptoPP::word32 adjust;  // 0: no WINDOW_ADJUST
  };
  for (const Case& k : {Case{70000, 70000, 200048}, Case{60000, 0, 0}, Case{0, 0, 0}}) {
    SCOPED_TRACE(k.arrived);
    ManagerFixture f;
    TestChannel& c = f.openConfirmed(1000, 100);
    if (k.arrived) f.feed(channelData(0, dataOf(k.arrived)));
    c.received.Skip(k.read);
    f.written();
    f.manager.pumpChannels();
    const auto out = f.written();
    if (k.adjust == 0) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], Payload(SSH::kMsgChannelWindowAdjust).u32(7).u32(k.adjust).bytes());
    EXPECT_EQ(c.localWindow(), 260096u);
  }
}

TEST(ChannelTest, DataGoOutInFullPacketsAndTheRestOnFlush) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.written();
  const std::string name = SSH::uint32ToString(c.localNumber());
  const std::string data = dataOf(250);
  f.manager.ChannelPut(name, bytes(data), 99);
  EXPECT_TRUE(f.written().empty());
  f.manager.ChannelPut(name, bytes(data) + 99, data.size() - 99);
  auto out = f.written();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], channelData(7, dataOf(100)));
  f.manager.ChannelFlush(name, true);
  out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], channelData(7, dataOf(50)));
  EXPECT_EQ(c.remoteWindow(), 750u);
}

TEST(ChannelTest, ZeroRemoteWindowHoldsDataAndEofUntilWindowAdjust) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(0, 32768);
  f.written();
  f.manager.sendChannelData(0, bytes("hello world"), 11);
  f.manager.flushChannel(0, true);
  f.manager.sendChannelEof(0);
  f.manager.pumpChannels();
  EXPECT_TRUE(f.written().empty());
  EXPECT_FALSE(c.eofSent());

  f.feed(Payload(SSH::kMsgChannelWindowAdjust).u32(0).u32(5).bytes());
  f.manager.pumpChannels();
  auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], channelData(7, "hello"));

  f.feed(Payload(SSH::kMsgChannelWindowAdjust).u32(0).u32(100).bytes());
  f.manager.pumpChannels();
  out = f.written();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], channelData(7, " world"));
  EXPECT_EQ(out[1], Payload(SSH::kMsgChannelEof).u32(7).bytes());
}

TEST(ChannelTest, RemoteWindowSaturatesInsteadOfWrapping) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(0xFFFFFF00u, 100);
  f.feed(Payload(SSH::kMsgChannelWindowAdjust).u32(0).u32(0x1000).bytes());
  EXPECT_EQ(c.remoteWindow(), 0xFFFFFFFFu);
}

TEST(ChannelTest, ExtendedDataGoToTheirSinkAndCountAgainstTheWindow) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.feed(Payload(SSH::kMsgChannelExtendedData).u32(0).u32(1).str("oops").bytes());
  EXPECT_EQ(contents(c.extended), "oops");
  EXPECT_TRUE(c.received.IsEmpty());
  EXPECT_EQ(c.localWindow(), 130044u);
}

TEST(ChannelTest, ExtendedDataGoOutWithTheirTypeCode) {
  ManagerFixture f;
  f.openConfirmed(1000, 100);
  f.written();
  f.manager.ChannelPut(SSH::uint32ToString(0) + SSH::uint32ToString(1), bytes("err"), 3);
  f.manager.ChannelFlush(SSH::uint32ToString(0), true);
  EXPECT_EQ(f.written().at(0),
            Payload(SSH::kMsgChannelExtendedData).u32(7).u32(1).str("err").bytes());
}

TEST(ChannelTest, DataOfAnotherKindWaitBehindWhatTheWindowHoldsBack) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(4, 100);
  f.written();
  f.manager.sendChannelData(0, bytes("abcdef"), 6);
  f.manager.sendChannelData(0, bytes("XY"), 2, true, 1);
  f.manager.sendChannelData(0, bytes("gh"), 2);
  auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], channelData(7, "abcd"));
  EXPECT_EQ(c.queuedSize(), 6u);
  f.feed(Payload(SSH::kMsgChannelWindowAdjust).u32(0).u32(100).bytes());
  f.manager.pumpChannels();
  out = f.written();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], channelData(7, "ef"));
  EXPECT_EQ(out[1], Payload(SSH::kMsgChannelExtendedData).u32(7).u32(1).str("XY").bytes());
  EXPECT_EQ(out[2], channelData(7, "gh"));
  EXPECT_FALSE(c.hasQueuedData());
}

TEST(ChannelTest, ConfirmationWithMaxPacketZeroIsAProtocolError) {
  ManagerFixture f;
  Channel* c = f.manager.openChannel("session");
  f.manager.sendChannelOpen(*c);
  EXPECT_EQ(
      f.feedError(Payload(SSH::kMsgChannelOpenConfirmation).u32(0).u32(1).u32(100).u32(0).bytes()),
      "open channel confirmation: invalid max packet size");
}

TEST(ChannelTest, MessagesInTheWrongChannelStateAreProtocolErrors) {
  struct Case {
    const char* what;
    std::string payload;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"unknown number", channelData(5, "x"), "no such channel number"},
      {"data after EOF", channelData(0, "x"), "unexpected channel message"},
      {"second EOF", Payload(SSH::kMsgChannelEof).u32(0).bytes(), "unexpected channel message"},
      {"second confirmation",
       Payload(SSH::kMsgChannelOpenConfirmation).u32(0).u32(1).u32(1).u32(1).bytes(),
       "unexpected channel message"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ManagerFixture f;
    f.openConfirmed(1000, 100);
    f.feed(Payload(SSH::kMsgChannelEof).u32(0).bytes());
    EXPECT_EQ(f.feedError(k.payload), k.error);
  }
}

TEST(ChannelTest, OpenFailureRemovesTheChannel) {
  ManagerFixture f;
  Channel* c = f.manager.openChannel("session");
  f.manager.sendChannelOpen(*c);
  f.feed(Payload(SSH::kMsgChannelOpenFailure).u32(0).u32(1).str("no").str("en").bytes());
  EXPECT_FALSE(f.manager.hasChannels());
}

TEST(ChannelTest, OpenChannelRefusesUnknownTypesAndTooManyWaitObjects) {
  struct WaitingChannel : TestChannel {
    CryptoPP::word32 GetWaitObjectCount() override { return 1; }
  };
  struct LimitedManager : TestManager {
    using TestManager::TestManager;
    CryptoPP::word32 GetWaitObjectLimit() override { return 1; }
    std::unique_ptr<SSH::Channel> CreateChannel(const std::string& type,
                                                const std::string&) override {
      if (type != "session") return nullptr;
      return std::make_unique<WaitingChannel>();
    }
  };
  CountingRng rng;
  SSH::TransportState state{rng};
  SSH::Authenticator auth;
  LimitedManager m{state, auth, new MessageRecorder};
  EXPECT_THROW(m.openChannel("direct-tcpip"), SSH::Manager::UnknownChannelType);
  EXPECT_EQ(m.openChannel("session")->type(), "session");
  EXPECT_THROW(m.openChannel("session"), SSH::Manager::TooManyWaitObjects);
  EXPECT_EQ(m.getChannel(1), nullptr);
}

TEST(ChannelTest, NumbersAreReusedFromTheLowestFree) {
  ManagerFixture f;
  Channel* first = f.manager.openChannel("session");
  Channel* second = f.manager.openChannel("session");
  EXPECT_EQ(first->localNumber(), 0u);
  EXPECT_EQ(second->localNumber(), 1u);
  f.manager.removeChannel(0);
  EXPECT_EQ(f.manager.getChannel(0), nullptr);
  EXPECT_EQ(f.manager.openChannel("session")->localNumber(), 0u);
  EXPECT_EQ(f.manager.openChannel("session")->localNumber(), 2u);
}

TEST(ChannelTest, AbandonedOpenKeepsItsNumberAndIsClosedWhenConfirmed) {
  ManagerFixture f;
  Channel* c = f.manager.openChannel("session");
  f.manager.sendChannelOpen(*c);
  f.manager.removeChannel(0);
  ASSERT_NE(f.manager.getChannel(0), nullptr);
  EXPECT_EQ(f.manager.openChannel("session")->localNumber(), 1u);
  f.written();
  f.feed(Payload(SSH::kMsgChannelOpenConfirmation).u32(0).u32(9).u32(100).u32(100).bytes());
  EXPECT_EQ(f.written().at(0), Payload(SSH::kMsgChannelClose).u32(9).bytes());
  f.feed(Payload(SSH::kMsgChannelClose).u32(0).bytes());
  f.manager.pumpChannels();
  EXPECT_EQ(f.manager.getChannel(0), nullptr);
}

TEST(ChannelTest, PeerCloseIsAnsweredAndTheChannelLeavesOnceRead) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.feed(channelData(0, "last words"));
  f.feed(Payload(SSH::kMsgChannelClose).u32(0).bytes());
  f.written();
  f.manager.pumpChannels();
  EXPECT_EQ(f.written().at(0), Payload(SSH::kMsgChannelClose).u32(7).bytes());
  ASSERT_NE(f.manager.getChannel(0), nullptr);  // its data are still unread
  c.received.Skip();
  f.manager.pumpChannels();
  EXPECT_EQ(f.manager.getChannel(0), nullptr);
  EXPECT_TRUE(f.written().empty());
}

TEST(ChannelTest, CloseWaitsForQueuedDataAndFollowsAnEof) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(4, 100);
  f.written();
  f.manager.sendChannelData(0, bytes("abcdef"), 6);
  f.manager.closeChannel(0);
  auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], channelData(7, "abcd"));
  EXPECT_FALSE(c.closeSent());
  f.feed(Payload(SSH::kMsgChannelWindowAdjust).u32(0).u32(10).bytes());
  f.manager.pumpChannels();
  out = f.written();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], channelData(7, "ef"));
  EXPECT_EQ(out[1], Payload(SSH::kMsgChannelEof).u32(7).bytes());
  EXPECT_EQ(out[2], Payload(SSH::kMsgChannelClose).u32(7).bytes());
}

TEST(ChannelTest, UnhandledRequestWithReplyWantedGetsChannelFailure) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.written();
  f.feed(Payload(SSH::kMsgChannelRequest).u32(0).str("exit-status").boolean(false).u32(0).bytes());
  f.feed(
      Payload(SSH::kMsgChannelRequest).u32(0).str("env").boolean(true).str("A").str("b").bytes());
  const auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], Payload(SSH::kMsgChannelFailure).u32(7).bytes());
  EXPECT_EQ(c.requests, (std::vector<std::string>{"exit-status", "env"}));
}

TEST(ChannelTest, PeerOpenAtAClientIsRefusedWithReason3AndTheConnectionGoesOn) {
  ManagerFixture f;
  f.feed(Payload(SSH::kMsgChannelOpen)
             .str("x11")
             .u32(4)
             .u32(1000)
             .u32(100)
             .str("peer")
             .u32(1)
             .bytes());
  EXPECT_EQ(f.written().at(0), Payload(SSH::kMsgChannelOpenFailure)
                                   .u32(4)
                                   .u32(SSH::kOpenUnknownChannelType)
                                   .str("channel type not supported")
                                   .str("en")
                                   .bytes());
  EXPECT_FALSE(f.manager.hasChannels());
  f.feed(Payload(SSH::kMsgIgnore).bytes());
  EXPECT_FALSE(f.manager.isBroken());
}

TEST(ChannelTest, PeerOpenIsConfirmedOrRefused) {
  struct Case {
    const char* what;
    TestManager::PeerOpen mode;
    CryptoPP::word32 maxPacket;
    std::string answer;  // at once
    std::string pumped;  // at the next pump
  };
  const std::string confirmation =
      Payload(SSH::kMsgChannelOpenConfirmation).u32(4).u32(0).u32(0x1fc00).u32(0x1fc00).bytes();
  const std::vector<Case> cases = {
      {"accepted", TestManager::PeerOpen::kConfirm, 100, confirmation, ""},
      {"confirmed at the pump", TestManager::PeerOpen::kLater, 100, "", confirmation},
      {"max packet 0", TestManager::PeerOpen::kConfirm, 0,
       Payload(SSH::kMsgChannelOpenFailure)
           .u32(4)
           .u32(1)
           .str("invalid max packet size")
           .str("en")
           .bytes(),
       ""},
      {"default refusal", TestManager::PeerOpen::kDefault, 100,
       Payload(SSH::kMsgChannelOpenFailure).u32(4).u32(3).str("").str("en").bytes(), ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ManagerFixture f;
    f.manager.acceptPeerChannels = true;
    f.manager.peerOpen = k.mode;
    f.feed(Payload(SSH::kMsgChannelOpen).str("session").u32(4).u32(1000).u32(k.maxPacket).bytes());
    auto out = f.written();
    EXPECT_EQ(out.empty() ? "" : out.at(0), k.answer);
    f.manager.pumpChannels();
    out = f.written();
    EXPECT_EQ(out.empty() ? "" : out.at(0), k.pumped);
    EXPECT_EQ(f.manager.hasChannels(), k.answer == confirmation || k.pumped == confirmation);
  }
}

TEST(ChannelTest, PeerChannelsAreBounded) {
  ManagerFixture f;
  f.manager.acceptPeerChannels = true;
  for (size_t i = 0; i <= SSH::Manager::kMaxPeerChannels; ++i) {
    f.feed(Payload(SSH::kMsgChannelOpen)
               .str("session")
               .u32(static_cast<CryptoPP::word32>(i))
               .u32(1)
               .u32(1)
               .bytes());
  }
  const auto out = f.written();
  ASSERT_EQ(out.size(), SSH::Manager::kMaxPeerChannels + 1);
  EXPECT_EQ(out.back(), Payload(SSH::kMsgChannelOpenFailure)
                            .u32(static_cast<CryptoPP::word32>(SSH::Manager::kMaxPeerChannels))
                            .u32(SSH::kOpenResourceShortage)
                            .str("too many channels")
                            .str("en")
                            .bytes());
}

}  // namespace
