// The dispatcher of the connection manager, fed payloads directly.
#include <gtest/gtest.h>

#include "ManagerTestSupport.h"

namespace {

using namespace sshtest;
using SSH::TransportState;

TEST(ManagerTest, MessagesWithoutHandlerGetUnimplementedWithTheirSequenceNumber) {
  for (const unsigned number : {0u, 7u, 101u, 255u}) {
    SCOPED_TRACE(number);
    ManagerFixture f;
    f.feed(Payload(SSH::kMsgIgnore).str("x").bytes());
    f.feed(Payload(SSH::kMsgIgnore).bytes());
    f.feed(Payload(static_cast<CryptoPP::byte>(number)).u32(1).bytes());
    const auto out = f.written();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], Payload(SSH::kMsgUnimplemented).u32(2).bytes());
    // The connection goes on.
    f.feed(Payload(static_cast<CryptoPP::byte>(number)).bytes());
    EXPECT_EQ(f.written().at(0), Payload(SSH::kMsgUnimplemented).u32(3).bytes());
  }
}

TEST(ManagerTest, UnimplementedFromThePeerIsReported) {
  ManagerFixture f;
  f.feed(Payload(SSH::kMsgUnimplemented).u32(0x01020304).bytes());
  EXPECT_EQ(f.manager.unimplemented, std::vector<CryptoPP::word32>{0x01020304});
  EXPECT_TRUE(f.written().empty());
}

TEST(ManagerTest, PayloadLimitIsExactly0x40000Bytes) {
  ManagerFixture f;
  std::string ignore = Payload(SSH::kMsgIgnore).bytes();
  ignore.resize(SSH::Manager::kMaxMessageLength, 'i');
  EXPECT_EQ(f.feedError(ignore), "");
  // In pieces, as an inflating decoder delivers it.
  ManagerFixture g;
  g.manager.Put(bytes(ignore), 100);
  g.manager.Put(bytes(ignore) + 100, ignore.size() - 100);
  EXPECT_EQ(disconnectOf([&] { g.manager.Put(bytes("j"), 1); }),
            "decompressed packet length too large");
}

TEST(ManagerTest, EmptyMessageIsRefused) {
  ManagerFixture f;
  EXPECT_EQ(disconnectOf([&] { f.manager.MessageEnd(); }), "empty packet");
}

TEST(ManagerTest, AfterAnErrorTheManagerRefusesMoreInput) {
  ManagerFixture f;
  EXPECT_NE(f.feedError(Payload(SSH::kMsgChannelData).u32(9).str("x").bytes()), "");
  EXPECT_TRUE(f.manager.isBroken());
  EXPECT_EQ(f.feedError(Payload(SSH::kMsgIgnore).bytes()),
            "connection unusable after an earlier error");
}

TEST(ManagerTest, DisconnectReceivedIsRecordedAndNothingIsSentAfterIt) {
  ManagerFixture f;
  f.feed(Payload(SSH::kMsgDisconnect).u32(11).str("bye").str("en").bytes());
  EXPECT_EQ(f.state.inputState(), TransportState::kInDisconnected);
  EXPECT_EQ(f.state.outputState(), TransportState::kOutDisconnected);
  EXPECT_EQ(f.manager.disconnectStatus(), SSH::Manager::kDisconnectReceived);
  EXPECT_EQ(f.manager.disconnectReason(), 11u);
  EXPECT_EQ(f.manager.disconnectDescription(), "bye");
  EXPECT_EQ(f.manager.disconnectLanguage(), "en");
  f.manager.sendDisconnect(SSH::CauseToDisconnect(2, "late", "en"));
  EXPECT_TRUE(f.written().empty());
  EXPECT_EQ(f.manager.disconnectStatus(), SSH::Manager::kDisconnectReceived);
}

TEST(ManagerTest, SendDisconnectWritesTheCauseOnce) {
  ManagerFixture f;
  f.manager.sendDisconnect(SSH::CauseToDisconnect(2, "unexpected channel message", "en"));
  f.manager.sendDisconnect(SSH::CauseToDisconnect(3, "again", "en"));
  const auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(
      out[0],
      Payload(SSH::kMsgDisconnect).u32(2).str("unexpected channel message").str("en").bytes());
  EXPECT_EQ(f.manager.disconnectStatus(), SSH::Manager::kDisconnectSent);
}

TEST(ManagerTest, ServiceAcceptStartsTheServiceOnlyInState5) {
  ManagerFixture f;
  f.state.setInputState(TransportState::kInNewKeysAtClient);
  f.state.setOutputState(TransportState::kOutNewKeysBeforeService);
  f.feed(Payload(SSH::kMsgServiceAccept).str("ssh-userauth").bytes());
  EXPECT_EQ(f.state.inputState(), TransportState::kInServiceRunning);
  EXPECT_EQ(f.state.outputState(), TransportState::kOutServiceRunning);
  EXPECT_EQ(f.feedError(Payload(SSH::kMsgServiceAccept).str("ssh-userauth").bytes()),
            "received packet inappropriate for current transport state");
}

TEST(ManagerTest, MessagesForTheOtherSideAreRefused) {
  ManagerFixture client;
  EXPECT_EQ(client.feedError(Payload(SSH::kMsgUserAuthRequest).str("u").bytes()),
            "received packet meant for server");
  ManagerFixture server;
  server.state.setHostKey(&Connection::hostKey());
  EXPECT_EQ(server.feedError(Payload(SSH::kMsgUserAuthSuccess).bytes()),
            "received packet meant for client");
}

TEST(ManagerTest, ServiceRequestForAnotherServiceIsReason7) {
  ManagerFixture f;
  f.state.setHostKey(&Connection::hostKey());
  f.state.setInputState(TransportState::kInNewKeysAtServer);
  try {
    f.feed(Payload(SSH::kMsgServiceRequest).str("ssh-connection").bytes());
    ADD_FAILURE() << "accepted";
  } catch (const SSH::CauseToDisconnect& e) {
    EXPECT_EQ(e.reason(), SSH::kDisconnectServiceNotAvailable);
    EXPECT_EQ(e.description(), "");
  }
  ManagerFixture g;
  g.state.setHostKey(&Connection::hostKey());
  g.state.setInputState(TransportState::kInNewKeysAtServer);
  g.feed(Payload(SSH::kMsgServiceRequest).str("ssh-userauth").bytes());
  EXPECT_EQ(g.written().at(0), Payload(SSH::kMsgServiceAccept).str("ssh-userauth").bytes());
  EXPECT_EQ(g.state.inputState(), TransportState::kInServiceRunning);
}

TEST(ManagerTest, ConnectionMessagesBeforeAuthenticationAreRefused) {
  for (const auto& payload :
       {Payload(SSH::kMsgChannelData).u32(0).str("x").bytes(),
        Payload(SSH::kMsgChannelOpen).str("session").u32(0).u32(1).u32(1).bytes(),
        Payload(SSH::kMsgGlobalRequest).str("x").boolean(true).bytes()}) {
    ManagerFixture f;
    f.auth.state = SSH::Authenticator::kFailure;
    EXPECT_EQ(f.feedError(payload),
              "received packet inappropriate for current authentication state");
  }
}

TEST(ManagerTest, UnknownGlobalRequestWithReplyWantedIsRefused) {
  ManagerFixture f;
  f.feed(Payload(SSH::kMsgGlobalRequest).str("keepalive@openssh.com").boolean(true).bytes());
  f.feed(Payload(SSH::kMsgGlobalRequest)
             .str("hostkeys-00@openssh.com")
             .boolean(false)
             .str("k")
             .bytes());
  const auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], Payload(SSH::kMsgRequestFailure).bytes());
}

TEST(ManagerTest, KexDhWithoutAnExchangeIsAProtocolError) {
  ManagerFixture f;
  f.state.setInputState(TransportState::kInKexInitReceived);
  EXPECT_EQ(f.feedError(Payload(SSH::kMsgKexDHReply).str("k").bytes()),
            "received packet inappropriate for current transport state");
  ManagerFixture g;
  EXPECT_EQ(g.feedError(Payload(SSH::kMsgKexDHInit).str("e").bytes()),
            "received packet inappropriate for current transport state");
}

TEST(ManagerTest, SecondKexInitInsideOneExchangeIsRefused) {
  ManagerFixture f;
  f.state.setInputState(TransportState::kInKexInitReceived);
  CryptoPP::ByteQueue q;
  Connection::kexInit().encode(q);
  EXPECT_EQ(f.feedError(contents(q)), "received packet inappropriate for current transport state");
}

TEST(ManagerTest, OurRekeyHoldsConnectionOutputUntilNewKeys) {
  ManagerFixture f;
  TestChannel& c = f.openConfirmed(1000, 100);
  f.written();
  f.manager.sendKexInit(Connection::kexInit());
  ASSERT_EQ(f.written().size(), 1u);  // the KEXINIT
  EXPECT_TRUE(f.manager.isHoldingOutput());
  // Incoming connection traffic is still handled; its answers wait.
  f.feed(Payload(SSH::kMsgGlobalRequest).str("x").boolean(true).bytes());
  f.manager.sendChannelData(c.localNumber(), bytes("abc"), 3);
  f.manager.flushChannel(c.localNumber(), true);
  f.manager.sendDisconnect(SSH::CauseToDisconnect(11, "", "en"));
  const auto out = f.written();
  ASSERT_EQ(out.size(), 1u);  // transport messages pass
  EXPECT_EQ(out[0].at(0), SSH::kMsgDisconnect);
  EXPECT_EQ(c.queuedSize(), 3u);
}

TEST(ManagerTest, OutputHeldDuringOurRekeyIsBounded) {
  ManagerFixture f;
  f.manager.sendKexInit(Connection::kexInit());
  const std::string request = Payload(SSH::kMsgGlobalRequest).str("x").boolean(true).bytes();
  std::string error;
  for (size_t i = 0; error.empty() && i <= SSH::Manager::kMaxHeldOutput; ++i)
    error = f.feedError(request);
  EXPECT_EQ(error, "too much output held during key exchange");
  EXPECT_TRUE(f.manager.isBroken());
  // The answer cut off by the error does not swallow the DISCONNECT.
  f.written();
  f.manager.sendDisconnect(SSH::CauseToDisconnect(2, "too much output held during key exchange",
                                                  "en"));
  const auto out = f.written();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].at(0), SSH::kMsgDisconnect);
}

}  // namespace
