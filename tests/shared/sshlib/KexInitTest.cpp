#include "sshlib/KexInit.h"

#include <gtest/gtest.h>

#include "SSHTestSupport.h"

namespace {

using sshtest::contents;
using sshtest::disconnectOf;
using sshtest::queueOf;

SSH::KexInit sample() {
  SSH::KexInit k;
  for (size_t i = 0; i < k.cookie.size(); ++i) k.cookie[i] = static_cast<CryptoPP::byte>(i + 1);
  k.setKexAlgorithms("diffie-hellman-group1-sha1");
  k.setHostKeyAlgorithms("ssh-dss,ssh-rsa");
  k.setEncryptionAlgorithms("aes256-cbc,3des-cbc");
  k.setMacAlgorithms("hmac-sha1");
  k.setCompressionAlgorithms("none,zlib");
  k.languagesServerToClient = "en";
  k.firstKexPacketFollows = true;
  return k;
}

TEST(SSHKexInit, WireForm) {
  SSH::KexInit k;
  k.setKexAlgorithms("k");
  k.setCompressionAlgorithms("none");
  CryptoPP::ByteQueue q;
  k.encode(q);
  std::string expected = "\x14" + std::string(16, '\0');
  expected += std::string("\0\0\0\x01k", 5) + std::string(20, '\0');            // kex, then 5 empty
  expected += std::string("\0\0\0\x04none\0\0\0\x04none", 16) + std::string(8, '\0');
  expected += std::string(5, '\0');  // flag and reserved
  EXPECT_EQ(contents(q), expected);
}

TEST(SSHKexInit, RoundTripKeepsTheReceivedBytes) {
  const SSH::KexInit sent = sample();
  CryptoPP::ByteQueue q;
  sent.encode(q);
  const std::string wire = contents(q);
  q.Put(reinterpret_cast<const CryptoPP::byte*>("after"), 5);

  SSH::KexInit got;
  got.decode(q);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(got.receivedPayload, wire);
  EXPECT_EQ(contents(q), "after") << "decode reads the message only";
  EXPECT_EQ(sent.hashPayload(), wire);
}

TEST(SSHKexInit, NonZeroReservedDecodesAndTheHashSeesItAsReceived) {
  CryptoPP::ByteQueue q;
  sample().encode(q);
  std::string wire = contents(q);
  wire.back() = '\x07';
  auto in = queueOf(wire);
  SSH::KexInit got;
  got.decode(in);
  EXPECT_EQ(got, sample());
  EXPECT_EQ(got.hashPayload(), wire);  // the exchange hash must cover what the peer signed

  CryptoPP::ByteQueue again;
  got.encode(again);
  EXPECT_EQ(contents(again).back(), '\0') << "a re-encoding carries reserved 0";
}

TEST(SSHKexInit, AnyNonZeroFlagByteIsTrue) {
  CryptoPP::ByteQueue q;
  SSH::KexInit k;
  k.encode(q);
  std::string wire = contents(q);
  wire[wire.size() - 5] = '\x02';
  auto in = queueOf(wire);
  k.decode(in);
  EXPECT_TRUE(k.firstKexPacketFollows);
}

TEST(SSHKexInit, MalformedInputLeavesTheRecordUnchanged) {
  CryptoPP::ByteQueue q;
  sample().encode(q);
  const std::string wire = contents(q);
  struct Case {
    std::string bytes, error;
  };
  const Case cases[] = {
      {"\x15" + wire.substr(1), "unexpected message number 21, should be 20"},
      {wire.substr(0, 10), "unexpected end of packet"},             // short cookie
      {wire.substr(0, wire.size() - 1), "unexpected end of packet"},  // short reserved
      {wire.substr(0, 17) + "\xff\xff\xff\xff", "unexpected end of packet"},
      {"", "unexpected end of packet"},
  };
  for (const auto& c : cases) {
    SSH::KexInit k = sample();
    k.receivedPayload = "old";
    auto in = queueOf(c.bytes);
    EXPECT_EQ(disconnectOf([&] { k.decode(in); }), c.error);
    EXPECT_EQ(k, sample());
    EXPECT_EQ(k.receivedPayload, "old");
  }
}

}  // namespace
