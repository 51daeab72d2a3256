// The library's client and server managers against each other in memory,
// through real packet encoders and decoders: key exchange, authentication,
// channels and a rekey under load.
#include <cryptopp/sha.h>
#include <cryptopp/zlib.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "KeyTestSupport.h"
#include "ManagerTestSupport.h"
#include "sshlib/DsaKeys.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/PemPrivateKey.h"

namespace {

using namespace sshtest;
using SSH::Authenticator;
using SSH::TransportState;

long countOf(const std::vector<CryptoPP::byte>& numbers, CryptoPP::byte number) {
  return std::count(numbers.begin(), numbers.end(), number);
}

std::string pemOf(const std::string& type, const CryptoPP::SecByteBlock& der) {
  CryptoPP::ByteQueue pem;
  SSH::writePemPrivateKey(pem, type, rng(), nullptr, 0, der);
  return contents(pem);
}

std::string rsaPem() {
  CryptoPP::ByteQueue der;
  rsaKey().DEREncode(der);
  return pemOf("RSA", block(contents(der)));
}

std::string dsaPem() {
  CryptoPP::ByteQueue der;
  SSH::encodeDsaPrivateKey(dsaKey(), der);
  return pemOf("DSA", block(contents(der)));
}

TEST(ManagerConnectionTest, KeyExchangeReachesTheServiceWithKeysInForce) {
  Connection c;
  ASSERT_TRUE(c.startService());
  EXPECT_EQ(c.server.state.inputState(), TransportState::kInServiceRunning);
  EXPECT_EQ(c.client.state.sessionId(), c.server.state.sessionId());
  EXPECT_EQ(c.client.state.sessionId().size(), 20u);
  EXPECT_EQ(countOf(c.client.sentNumbers, SSH::kMsgKexDHInit), 1);
}

TEST(ManagerConnectionTest, PasswordAuthentication) {
  struct Case {
    const char* user;
    std::string password;
    CryptoPP::word32 result;
  };
  for (const Case& k :
       {Case{"alice", "s3cret", Authenticator::kSuccess},
        Case{"alice", "wrong", Authenticator::kFailure}, Case{"alice", "", Authenticator::kFailure},
        Case{"bob", "s3cret", Authenticator::kFailure}}) {
    SCOPED_TRACE(k.user + (":" + k.password));
    Connection c;
    ASSERT_TRUE(c.startService());
    c.client.manager->sendPasswordRequest(k.user, bytes(k.password), k.password.size());
    ASSERT_TRUE(c.run([&] { return c.client.auth->state != Authenticator::kNothingYet; }));
    EXPECT_EQ(c.client.auth->state, k.result);
    EXPECT_EQ(c.server.auth->state, k.result);
    if (k.result == Authenticator::kFailure) {
      EXPECT_EQ(c.client.auth->methodsCanContinue, "publickey,password");
    }
  }
}

TEST(ManagerConnectionTest, PublicKeyQueryThenSignedRequest) {
  struct Case {
    const char* what;
    std::string pem;
    std::string blob;
  };
  for (const Case& k : {Case{"rsa", rsaPem(), rsaBlob()}, Case{"dsa", dsaPem(), dsaBlob()}}) {
    SCOPED_TRACE(k.what);
    Connection c;
    c.serverAuth().keyBlob = k.blob;
    ASSERT_TRUE(c.startService());
    CryptoPP::ByteQueue key = queueOf(k.pem);
    c.client.manager->sendPublicKeyRequest("alice", key, nullptr, 0, nullptr);
    ASSERT_TRUE(c.run([&] { return c.client.auth->state != Authenticator::kNothingYet; }));
    EXPECT_EQ(c.client.auth->state, Authenticator::kPublicKeyAcceptable);
    EXPECT_EQ(c.client.auth->acceptedKeyBlob, k.blob);

    key = queueOf(k.pem);
    c.client.manager->sendPublicKeyRequest("alice", key, nullptr, 0, &c.client.rng);
    ASSERT_TRUE(c.run([&] { return c.client.auth->state != Authenticator::kPublicKeyAcceptable; }));
    EXPECT_EQ(c.client.auth->state, Authenticator::kSuccess);
  }
}

TEST(ManagerConnectionTest, SignatureOverAnotherSessionIsRefused) {
  Connection c;
  c.serverAuth().keyBlob = rsaBlob();
  ASSERT_TRUE(c.startService());
  const std::string data = SSH::Manager::makePublicKeyAuthData(block(std::string(20, '\0')),
                                                               "alice", "ssh-rsa", rsaBlob());
  const std::string signature = SSH::signRsa(rsaKey(), bytes(data), data.size(), rng());
  EXPECT_FALSE(c.server.manager->verifyPublicKeyAuth("alice", "ssh-rsa", rsaBlob(), signature));
  c.client.manager->sendPublicKeySigned("alice", "ssh-rsa", rsaBlob(), signature);
  ASSERT_TRUE(c.run([&] { return c.client.auth->state != Authenticator::kNothingYet; }));
  EXPECT_EQ(c.client.auth->state, Authenticator::kFailure);
}

TEST(ManagerConnectionTest, UnimplementedNamesTheSequenceNumberOfThatPacket) {
  Connection c;
  ASSERT_TRUE(c.authenticateWithPassword());
  const CryptoPP::word32 sequence = c.client.state.outSequence();
  SSH::putByte(c.client.manager->output(), 199);
  c.client.manager->output().MessageEnd();
  ASSERT_TRUE(c.run([&] { return !c.client.manager->unimplemented.empty(); }));
  EXPECT_EQ(c.client.manager->unimplemented.at(0), sequence);
}

TEST(ManagerConnectionTest, TwoChannelsInterleaved) {
  Connection c;
  ASSERT_TRUE(c.authenticateWithPassword());
  SSH::Channel* a = c.client.manager->openChannel("session");
  SSH::Channel* b = c.client.manager->openChannel("session");
  c.client.manager->sendChannelOpen(*a);
  c.client.manager->sendChannelOpen(*b);
  ASSERT_TRUE(c.run(
      [&] { return a->state() == SSH::Channel::kOpen && b->state() == SSH::Channel::kOpen; }));
  for (int i = 0; i < 50; ++i) {
    c.client.manager->sendChannelData(0, bytes("aaaa"), 4);
    c.client.manager->sendChannelData(1, bytes("bb"), 2);
    c.client.manager->flushChannel(0, true);
    c.client.manager->flushChannel(1, true);
    c.step();
  }
  c.server.manager->sendChannelData(1, bytes("reply"), 5);
  c.server.manager->flushChannel(1, true);
  c.step();
  EXPECT_EQ(contents(c.server.manager->channel(0)->received), std::string(200, 'a'));
  EXPECT_EQ(contents(c.server.manager->channel(1)->received), std::string(100, 'b'));
  EXPECT_EQ(contents(c.client.manager->channel(1)->received), "reply");
  EXPECT_TRUE(c.client.manager->channel(0)->received.IsEmpty());

  c.server.manager->channel(0)->received.Skip();  // read, so the server's side can go
  c.client.manager->closeChannel(0);
  ASSERT_TRUE(c.run([&] { return c.client.manager->getChannel(0) == nullptr; }));
  EXPECT_EQ(c.server.manager->getChannel(0), nullptr);
  EXPECT_NE(c.client.manager->getChannel(1), nullptr);
}

// 10 MiB from the client, with a rekey started by the server half way; the
// client answers it with exactly one KEXINIT and one KEXDH_INIT.
TEST(ManagerConnectionTest, PeerRekeyInTheMiddleOf10MiB) {
  Connection c;
  ASSERT_TRUE(c.authenticateWithPassword());
  SSH::Channel* channel = c.client.manager->openChannel("session");
  c.client.manager->sendChannelOpen(*channel);
  ASSERT_TRUE(c.run([&] { return channel->state() == SSH::Channel::kOpen; }));
  const CryptoPP::SecByteBlock sessionId = c.client.state.sessionId();
  const CryptoPP::SecByteBlock firstHash = c.client.state.exchangeHash();

  constexpr size_t kTotal = 10u << 20;
  std::string chunk(32768, '\0');
  CryptoPP::SHA1 sent, received;
  size_t queued = 0;
  size_t arrived = 0;
  bool rekeyed = false;
  for (int round = 0; arrived < kTotal && round < 20000; ++round) {
    if (queued < kTotal && channel->queuedSize() < chunk.size()) {
      for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>((queued + i) * 131 >> 7);
      sent.Update(bytes(chunk), chunk.size());
      c.client.manager->sendChannelData(0, bytes(chunk), chunk.size());
      c.client.manager->flushChannel(0, true);
      queued += chunk.size();
    }
    if (!rekeyed && arrived >= kTotal / 2) {
      c.server.manager->sendKexInit(Connection::kexInit());
      rekeyed = true;
    }
    c.step();
    CryptoPP::ByteQueue& in = c.server.manager->channel(0)->received;
    const std::string got = take(in);
    received.Update(bytes(got), got.size());
    arrived += got.size();
  }
  ASSERT_EQ(arrived, kTotal);
  CryptoPP::byte a[20], b[20];
  sent.Final(a);
  received.Final(b);
  EXPECT_EQ(std::string(a, a + 20), std::string(b, b + 20));

  EXPECT_TRUE(rekeyed);
  EXPECT_EQ(countOf(c.client.sentNumbers, SSH::kMsgKexInit), 2);
  EXPECT_EQ(countOf(c.client.sentNumbers, SSH::kMsgKexDHInit), 2);
  EXPECT_EQ(countOf(c.client.sentNumbers, SSH::kMsgNewKeys), 2);
  EXPECT_EQ(c.client.state.sessionId(), sessionId);
  EXPECT_NE(c.client.state.exchangeHash(), firstHash);
  EXPECT_EQ(c.client.state.inputState(), TransportState::kInServiceRunning);
  EXPECT_EQ(c.server.state.outputState(), TransportState::kOutServiceRunning);
}

TEST(ManagerConnectionTest, ClientStartedRekeyNegotiatesOnce) {
  Connection c;
  ASSERT_TRUE(c.authenticateWithPassword());
  c.client.manager->sendKexInit(Connection::kexInit());
  ASSERT_TRUE(c.run([&] {
    return c.client.state.outputState() == TransportState::kOutServiceRunning &&
           c.client.state.inputState() == TransportState::kInServiceRunning;
  }));
  EXPECT_EQ(countOf(c.client.sentNumbers, SSH::kMsgKexDHInit), 2);
  EXPECT_EQ(countOf(c.server.sentNumbers, SSH::kMsgKexInit), 2);
  EXPECT_EQ(countOf(c.server.sentNumbers, SSH::kMsgKexDHReply), 2);
}

TEST(ManagerConnectionTest, WrongGuessedKexDhInitIsDroppedAndTheNextOneUsed) {
  SSH::KexInit guessing = Connection::kexInit();
  guessing.setKexAlgorithms("curve25519-sha256,diffie-hellman-group1-sha1");
  guessing.firstKexPacketFollows = true;
  Connection c(guessing, Connection::kexInit(), [](Side& client) {
    SSH::putByte(client.manager->output(), SSH::kMsgKexDHInit);
    SSH::putStdString(client.manager->output(), "a curve25519 guess");
    client.manager->output().MessageEnd();
  });
  ASSERT_TRUE(c.startService());
  EXPECT_EQ(countOf(c.server.sentNumbers, SSH::kMsgKexDHReply), 1);
}

// A decoder with a zlib receive side in front of a manager: the payload
// limit holds for what a packet inflates to.
TEST(ManagerConnectionTest, InflatedPayloadLimit) {
  for (const size_t size : {size_t{0x40000}, size_t{0x40001}}) {
    SCOPED_TRACE(size);
    CountingRng random;
    SSH::TransportState state{random};
    state.setInputState(TransportState::kInServiceRunning);
    state.setOutputState(TransportState::kOutServiceRunning);
    state.inCompressor().create("zlib", false);
    Authenticator auth;
    TestManager manager{state, auth, new MessageRecorder};
    SSH::PacketDecoder decoder{state, new CryptoPP::Redirector(manager)};

    std::string payload(size, 'z');
    payload[0] = static_cast<char>(SSH::kMsgIgnore);
    std::string compressed;
    CryptoPP::ZlibCompressor zlib(new CryptoPP::StringSink(compressed));
    zlib.Put(bytes(payload), payload.size());
    zlib.Flush(true);
    size_t padding = 8 - (compressed.size() + 5) % 8;
    if (padding < 4) padding += 8;
    const CryptoPP::word32 packetLength =
        static_cast<CryptoPP::word32>(1 + compressed.size() + padding);
    CryptoPP::ByteQueue header;
    SSH::putUInt32(header, packetLength);
    SSH::putByte(header, static_cast<CryptoPP::byte>(padding));
    const std::string packet = contents(header) + compressed + std::string(padding, '\0');
    const std::string error = disconnectOf([&] { decoder.Put(bytes(packet), packet.size()); });
    EXPECT_EQ(error, size == 0x40000 ? "" : "decompressed packet length too large");
  }
}

}  // namespace
