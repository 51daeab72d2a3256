#include "sshlib/PacketEncoder.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include "PacketTestSupport.h"
#include "sshlib/Err.h"

namespace {

using namespace sshtest;

CryptoPP::word32 uint32At(const std::string& data, size_t at) {
  return static_cast<CryptoPP::word32>(static_cast<unsigned char>(data[at]) << 24 |
                                       static_cast<unsigned char>(data[at + 1]) << 16 |
                                       static_cast<unsigned char>(data[at + 2]) << 8 |
                                       static_cast<unsigned char>(data[at + 3]));
}

TEST(PacketEncoder, NullCipherFramingTable) {
  struct Case {
    size_t payload;
    CryptoPP::word32 packetLength;
    unsigned padding;
  };
  for (const Case& c : {Case{0, 12, 11}, Case{1, 12, 10}, Case{7, 12, 4}, Case{8, 20, 11}}) {
    PacketLink link;
    const std::string payload(c.payload, 'x');
    const std::string packet = link.send(payload);
    ASSERT_EQ(packet.size(), 4 + c.packetLength) << c.payload;
    EXPECT_EQ(uint32At(packet, 0), c.packetLength) << c.payload;
    EXPECT_EQ(static_cast<unsigned char>(packet[4]), c.padding) << c.payload;
    EXPECT_EQ(packet.substr(5, c.payload), payload);
    // The padding comes from the connection's generator.
    std::string padding;
    for (unsigned i = 0; i < c.padding; ++i) padding += static_cast<char>(i);
    EXPECT_EQ(packet.substr(5 + c.payload), padding) << c.payload;
    EXPECT_EQ(link.sender.outSequence(), 1u);
  }
}

// With a 16-byte block every packet is a multiple of 16 bytes and carries
// 4 to 19 bytes of padding. An independent CBC decryption of the whole
// stream shows each packet continues the chain of the one before.
TEST(PacketEncoder, SixteenByteBlocksPadToTheBlockAndChainAcrossPackets) {
  PacketLink link;
  link.key("aes256-cbc", "none");
  CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption oracle(bytes(PacketLink::kKey), 32,
                                                       bytes(PacketLink::kIv));
  for (size_t length = 0; length <= 40; ++length) {
    const std::string payload(length, static_cast<char>('a' + length % 26));
    const std::string packet = link.send(payload);
    ASSERT_EQ(packet.size() % 16, 0u) << length;
    std::string plain(packet.size(), '\0');
    oracle.ProcessData(reinterpret_cast<CryptoPP::byte*>(plain.data()), bytes(packet),
                       packet.size());
    EXPECT_EQ(uint32At(plain, 0), packet.size() - 4) << length;
    const unsigned padding = static_cast<unsigned char>(plain[4]);
    EXPECT_GE(padding, 4u) << length;
    EXPECT_LE(padding, 19u) << length;
    EXPECT_EQ(plain.size(), 5 + length + padding) << length;
    EXPECT_EQ(plain.substr(5, length), payload) << length;
  }
}

TEST(PacketEncoder, CiphertextAndMacLeaveInOneWrite) {
  PacketLink link;
  link.key("3des-cbc", "hmac-md5");
  for (size_t length : {0u, 100u, 5000u}) {
    const unsigned before = link.wire->writes;
    const std::string packet = link.send(std::string(length, 'm'));
    EXPECT_EQ(link.wire->writes, before + 1) << length;
    EXPECT_EQ((packet.size() - 16) % 8, 0u) << "MAC of 16 bytes after the blocks";
  }
}

TEST(PacketEncoder, BeforeTheIdentificationBytesPassUnframed) {
  PacketLink link;
  link.sender.setOutputState(SSH::TransportState::kOutNothingSent);
  EXPECT_EQ(link.send("SSH-2.0-1.27 sshlib: test\r\n"), "SSH-2.0-1.27 sshlib: test\r\n");
  EXPECT_EQ(link.sender.outSequence(), 0u);
}

// The largest payload that fits in 0x20000 bytes goes out; one more byte is
// refused before anything is written or counted, and the connection goes on.
TEST(PacketEncoder, RefusesPayloadsWhosePacketWouldExceedTheLimit) {
  PacketLink link;
  const std::string largest(SSH::PacketEncoder::kMaxPayloadLength, 'L');
  const std::string packet = link.send(largest);
  EXPECT_EQ(uint32At(packet, 0), 0x1FFFCu);
  EXPECT_EQ(static_cast<unsigned char>(packet[4]), 4u);

  const unsigned writes = link.wire->writes;
  EXPECT_EQ(errorOf([&] { link.send(largest + "!"); }),
            "SSH: payload too large for one packet");
  EXPECT_EQ(errorOf([&] { link.sendInPieces(largest + "!"); }),
            "SSH: payload too large for one packet");
  EXPECT_EQ(link.wire->writes, writes);
  EXPECT_EQ(link.sender.outSequence(), 1u);

  link.receive(packet + link.send("after"));
  ASSERT_EQ(link.delivered->messages.size(), 2u);
  EXPECT_EQ(link.delivered->messages[0], largest);
  EXPECT_EQ(link.delivered->messages[1], "after");
}

}  // namespace
