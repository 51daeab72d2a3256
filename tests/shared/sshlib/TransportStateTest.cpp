#include "sshlib/TransportState.h"

#include <cryptopp/osrng.h>
#include <gtest/gtest.h>

#include "SSHTestSupport.h"
#include "sshlib/Cipher.h"
#include "sshlib/Compressor.h"
#include "sshlib/Mac.h"

namespace {

using sshtest::disconnectOf;

class SSHTransportState : public ::testing::Test {
 protected:
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState state{rng};
};

TEST_F(SSHTransportState, StartsAsAClientWithNoneFilters) {
  EXPECT_TRUE(state.isClient());
  EXPECT_EQ(state.inputState(), 0u);
  EXPECT_EQ(state.outputState(), 0u);
  EXPECT_EQ(state.inSequence(), 0u);
  EXPECT_FALSE(state.peerKexInitReceived() || state.ownKexInitSent() || state.serviceStarted());
  EXPECT_EQ(state.inCipher().paddingBlockSize(), 8u);
  EXPECT_EQ(state.outMac().macLength(), 0u);

  // The send compressor's output waits in its queue; the rest have no attachment.
  state.outCompressor().Put(reinterpret_cast<const CryptoPP::byte*>("abc"), 3);
  state.outCompressor().Flush(true);
  ASSERT_NE(state.outCompressor().AttachedTransformation(), nullptr);
  EXPECT_EQ(sshtest::contents(*state.outCompressor().AttachedTransformation()), "abc");
}

TEST_F(SSHTransportState, NegotiationTakesTheClientsListFirstOnEitherSide) {
  SSH::KexInit client;
  client.setEncryptionAlgorithms("aes256-cbc,3des-cbc");
  client.encryptionAlgorithmsServerToClient = "arcfour,3des-cbc";
  client.setMacAlgorithms("hmac-md5,hmac-sha1");
  client.setCompressionAlgorithms("none");
  client.setKexAlgorithms("diffie-hellman-group1-sha1");
  client.setHostKeyAlgorithms("ssh-rsa,ssh-dss");
  SSH::KexInit server;
  server.setEncryptionAlgorithms("3des-cbc,aes256-cbc,arcfour");
  server.setMacAlgorithms("hmac-sha1,hmac-md5");
  server.setCompressionAlgorithms("zlib");
  server.setKexAlgorithms("diffie-hellman-group14-sha1,diffie-hellman-group1-sha1");
  server.setHostKeyAlgorithms("ssh-dss");

  auto check = [](const SSH::TransportState& s) {
    EXPECT_EQ(s.negotiatedKexAlgorithm(), "diffie-hellman-group1-sha1");
    EXPECT_EQ(s.negotiatedHostKeyAlgorithm(), "ssh-dss");
    EXPECT_EQ(s.negotiatedEncryptionAlgorithm(0), "aes256-cbc");
    EXPECT_EQ(s.negotiatedEncryptionAlgorithm(1), "arcfour");
    EXPECT_EQ(s.negotiatedEncryptionAlgorithm(7), "arcfour");
    EXPECT_EQ(s.negotiatedMacAlgorithm(1), "hmac-md5");
    EXPECT_EQ(s.negotiatedCompressionAlgorithm(0), "");
  };
  state.setOwnKexInit(client);
  state.setPeerKexInit(server);
  check(state);

  CryptoPP::DSA::PrivateKey hostKey;
  SSH::TransportState atServer(rng);
  atServer.setHostKey(&hostKey);
  EXPECT_TRUE(atServer.isServer());
  atServer.setOwnKexInit(server);
  atServer.setPeerKexInit(client);
  check(atServer);
}

TEST_F(SSHTransportState, KexInitFlagsAndVersionsBySide) {
  SSH::KexInit k;
  state.setOwnKexInit(k);
  EXPECT_TRUE(state.ownKexInitSent());
  EXPECT_FALSE(state.peerKexInitReceived());
  state.setPeerKexInit(k);
  EXPECT_TRUE(state.peerKexInitReceived());
  state.clearKexInitFlags();
  EXPECT_FALSE(state.ownKexInitSent() || state.peerKexInitReceived());

  state.setOwnVersion(SSH::VersionInfo("2.0", "me", "", "SSH-2.0-me"));
  state.setPeerVersion(SSH::VersionInfo("2.0", "them", "", "SSH-2.0-them"));
  EXPECT_EQ(state.clientVersion().softwareVersion, "me");
  EXPECT_EQ(state.serverVersion().softwareVersion, "them");
}

TEST_F(SSHTransportState, SessionIdIsTheFirstExchangeHashOnly) {
  const CryptoPP::byte first[20] = {1};
  const CryptoPP::byte second[32] = {2};
  state.setExchangeHash(first, sizeof first);
  state.setSessionId(first, sizeof first);
  state.setExchangeHash(second, sizeof second);
  state.setSessionId(second, sizeof second);
  EXPECT_EQ(state.exchangeHash(), CryptoPP::SecByteBlock(second, sizeof second));
  EXPECT_EQ(state.sessionId(), CryptoPP::SecByteBlock(first, sizeof first));
}

TEST_F(SSHTransportState, SequenceNumbersCountEachDirectionApart) {
  for (int i = 0; i < 3; ++i) state.incrementOutSequence();
  state.incrementInSequence();
  EXPECT_EQ(state.outSequence(), 3u);
  EXPECT_EQ(state.inSequence(), 1u);
}

TEST_F(SSHTransportState, StateAndSideChecks) {
  const std::string inappropriate = "received packet inappropriate for current transport state";
  state.setInputState(SSH::TransportState::kInKexInitReceived);
  state.checkTransportState(2);
  EXPECT_EQ(disconnectOf([&] { state.checkTransportState(3); }), inappropriate);
  state.setOutputState(SSH::TransportState::kOutKexInitSent);
  state.checkOutputState(2);
  EXPECT_EQ(disconnectOf([&] { state.checkOutputState(1); }), inappropriate);

  state.throwPacketMeantForClient();  // quiet at a client
  EXPECT_EQ(disconnectOf([&] { state.throwPacketMeantForServer(); }),
            "received packet meant for server");
  CryptoPP::DSA::PrivateKey hostKey;
  state.setHostKey(&hostKey);
  state.throwPacketMeantForServer();
  EXPECT_EQ(disconnectOf([&] { state.throwPacketMeantForClient(); }),
            "received packet meant for client");
}

}  // namespace
