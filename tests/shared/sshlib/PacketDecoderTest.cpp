#include "sshlib/PacketDecoder.h"

#include <gtest/gtest.h>

#include <cryptopp/zlib.h>

#include "PacketTestSupport.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"

namespace {

using namespace sshtest;

constexpr unsigned kMacError = 5;
constexpr unsigned kCompressionError = 6;

// A packet written by hand: packet_length, padding_length, payload, padding
// of zeros; no cipher, no MAC.
std::string rawPacket(CryptoPP::word32 packetLength, unsigned paddingLength,
                      const std::string& payload) {
  CryptoPP::ByteQueue q;
  SSH::putUInt32(q, packetLength);
  SSH::putByte(q, static_cast<CryptoPP::byte>(paddingLength));
  put(q, payload);
  const size_t rest = packetLength - 1 - payload.size();
  put(q, std::string(rest, '\0'));
  return take(q);
}

TEST(PacketDecoder, LengthAndPaddingLimits) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* error;  // "" when the packet decodes
  };
  const std::string largestPayload(0x1FFFC - 5, 'p');
  const Case cases[] = {
      {"largest packet", rawPacket(0x1FFFC, 4, largestPayload), ""},
      {"0x20000 passes the limit, not the block rule", rawPacket(0x20000, 4, ""),
       "packet size not a multiple of cipher block size"},
      {"0x20001", rawPacket(0x20001, 4, ""), "packet length too large, may be decryption problem"},
      {"length 0xFFFFFFFC", std::string("\xff\xff\xff\xfc\x04\0\0\0", 8),
       "packet length too large, may be decryption problem"},
      {"not a block multiple", rawPacket(13, 4, "x"),
       "packet size not a multiple of cipher block size"},
      {"padding 3", rawPacket(12, 3, "payload"), "padding too short"},
      {"padding 0", rawPacket(4, 0, ""), "padding too short"},
      {"padding longer than the packet", rawPacket(12, 12, ""), "negative payload length"},
      {"smallest packet", rawPacket(4, 4, ""), "negative payload length"},
  };
  for (const Case& c : cases) {
    PacketLink link;
    EXPECT_EQ(disconnectOf([&] { link.receive(c.bytes); }), c.error) << c.what;
    if (*c.error == '\0') {
      ASSERT_EQ(link.delivered->messages.size(), 1u) << c.what;
    }
  }
}

TEST(PacketDecoder, BytesOneAtATimeGiveOneDeliveryAfterTheLastMacByte) {
  PacketLink link;
  link.key("aes256-cbc", "hmac-sha1");
  const std::string packet = link.send("one byte at a time");
  for (size_t i = 0; i < packet.size(); ++i) {
    EXPECT_TRUE(link.delivered->messages.empty()) << "delivered before byte " << i;
    link.receive(packet.substr(i, 1));
  }
  ASSERT_EQ(link.delivered->messages.size(), 1u);
  EXPECT_EQ(link.delivered->messages[0], "one byte at a time");
  EXPECT_EQ(link.receiver.inSequence(), 1u);
}

TEST(PacketDecoder, TwoPacketsInOnePutGiveTwoMessages) {
  PacketLink link;
  link.key("arcfour", "hmac-md5-96");
  const std::string first = link.send("first");
  const std::string second = link.send(std::string());
  link.receive(first + second);
  ASSERT_EQ(link.delivered->messages.size(), 2u);
  EXPECT_EQ(link.delivered->messages[0], "first");
  EXPECT_EQ(link.delivered->messages[1], "");
}

// Every cipher and MAC, several packets: the receive side's chaining value
// or keystream must carry over exactly as the send side's does.
TEST(PacketDecoder, EveryCipherAndMacRoundTripsAcrossPackets) {
  for (const char* cipher :
       {"none", "aes256-cbc", "blowfish-cbc", "3des-cbc", "twofish-cbc", "arcfour", "cast128-cbc"}) {
    for (const char* mac : {"none", "hmac-sha1", "hmac-sha1-96", "hmac-md5", "hmac-md5-96"}) {
      PacketLink link;
      link.key(cipher, mac);
      std::string stream;
      for (size_t length : {0u, 1u, 31u}) stream += link.send(std::string(length, 'q'));
      stream += link.sendInPieces(std::string(300, 'q'));
      link.receive(stream);
      ASSERT_EQ(link.delivered->messages.size(), 4u) << cipher << " " << mac;
      EXPECT_EQ(link.delivered->messages[3], std::string(300, 'q')) << cipher << " " << mac;
    }
  }
}

// A changed byte after the first block (which carries the length and is
// read before the MAC can be), a changed MAC byte, or a packet taken for
// another sequence number fails the MAC check. The MAC is checked before the
// padding, so a forgery gives that one answer whatever it holds.
TEST(PacketDecoder, TamperingGivesMacError) {
  for (const char* cipher : {"none", "aes256-cbc", "arcfour"}) {
    PacketLink probe;
    probe.key(cipher, "hmac-sha1");
    const size_t size = probe.send("a payload of thirty-two bytes...").size();
    for (size_t at : {size_t{0}, size_t{5}, size_t{20}, size - 21, size - 1}) {
      PacketLink link;
      link.key(cipher, "hmac-sha1");
      std::string packet = link.send("a payload of thirty-two bytes...");
      packet[at] = static_cast<char>(packet[at] ^ 0x80);
      const auto receive = [&] { link.receive(packet + std::string(64, '\0')); };
      if (at < link.receiver.inCipher().paddingBlockSize()) {
        EXPECT_THROW(receive(), SSH::CauseToDisconnect) << cipher << " byte " << at;
      } else {
        EXPECT_EQ(disconnectOf(receive, kMacError), "MAC check failed") << cipher << " byte " << at;
      }
      EXPECT_TRUE(link.delivered->messages.empty());
    }
  }
  PacketLink link;
  link.key("aes256-cbc", "hmac-md5");
  link.receiver.incrementInSequence();
  const std::string packet = link.send("replayed");
  EXPECT_EQ(disconnectOf([&] { link.receive(packet); }, kMacError), "MAC check failed");

  // Padding too short and a wrong MAC: the MAC is what is reported.
  PacketLink forged;
  forged.receiver.inMac().createKeyed("hmac-sha1", bytes(std::string(20, 'k')), 20, false);
  EXPECT_EQ(disconnectOf([&] { forged.receive(rawPacket(12, 3, "x") + std::string(20, 'm')); },
                         kMacError),
            "MAC check failed");
}

// The receive filters are switched by whoever handles NEWKEYS, while the
// decoder is still inside the Put that brought it; the packet behind it in
// the same Put must already be read with the new keys.
TEST(PacketDecoder, KeySwitchAtNewKeysTakesEffectWithTheNextPacket) {
  PacketLink link;
  const std::string newKeys = link.send(std::string(1, '\x15'));
  link.keySender("aes256-cbc", "hmac-sha1");
  const std::string afterwards = link.send("encrypted now");
  link.delivered->onMessage = [&](const std::string& message) {
    if (message == std::string(1, '\x15')) link.keyReceiver("aes256-cbc", "hmac-sha1");
  };
  link.receive(newKeys + afterwards);
  ASSERT_EQ(link.delivered->messages.size(), 2u);
  EXPECT_EQ(link.delivered->messages[1], "encrypted now");
  EXPECT_EQ(link.receiver.inSequence(), 2u);
}

TEST(PacketDecoder, ZlibStreamRunsOnAcrossPackets) {
  PacketLink link;
  link.key("aes256-cbc", "hmac-sha1");
  link.sender.outCompressor().create("zlib", true);
  link.receiver.inCompressor().create("zlib", false);
  const std::string text(2000, 'z');
  std::string stream;
  for (int i = 0; i < 4; ++i) {
    const std::string payload = text + std::to_string(i);
    stream += i % 2 ? link.sendInPieces(payload) : link.send(payload);
  }
  EXPECT_LT(stream.size(), text.size()) << "compressed";
  link.receive(stream);
  ASSERT_EQ(link.delivered->messages.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(link.delivered->messages[i], text + std::to_string(i));
}

// A payload compressed beforehand, sent as it is and inflated at the
// receiver: 0x40000 inflated bytes pass, one more is refused while
// inflating; bytes that are not a zlib stream are a compression error.
TEST(PacketDecoder, InflationIsBoundedWhileItRuns) {
  const auto deflated = [](size_t length) {
    std::string out;
    CryptoPP::ZlibCompressor zlib(new CryptoPP::StringSink(out), 9, 14);
    zlib.Put(bytes(std::string(length, '\0')), length);
    zlib.Flush(true);
    return out;
  };
  struct Case {
    std::string payload;
    unsigned reason;
    const char* error;
  };
  const Case cases[] = {
      {deflated(0x40000), 0, ""},
      {deflated(0x40001), 2, "decompressed packet length too large"},
      {deflated(0x2000000), 2, "decompressed packet length too large"},
      {"\x68\x81 not zlib", kCompressionError, "decompression failed"},
  };
  for (const Case& c : cases) {
    PacketLink link;
    link.receiver.inCompressor().create("zlib", false);
    const std::string packet = link.send(c.payload);
    EXPECT_LT(packet.size(), 0x20000u);
    EXPECT_EQ(disconnectOf([&] { link.receive(packet); }, c.reason ? c.reason : 2), c.error);
    if (*c.error == '\0') {
      ASSERT_EQ(link.delivered->messages.size(), 1u);
      EXPECT_EQ(link.delivered->messages[0].size(), 0x40000u);
    } else {
      EXPECT_TRUE(link.delivered->messages.empty());
    }
  }
}

TEST(PacketDecoder, ReadsTheIdentificationLineFirst) {
  PacketLink link;
  link.receiver.setInputState(SSH::TransportState::kInAwaitingVersion);
  const std::string packet = link.send("after the line");
  link.receive("a banner line\r\nSSH-2.0-OpenSSH_9.2 Debian\r\n" + packet.substr(0, 3));
  EXPECT_EQ(link.receiver.inputState(), SSH::TransportState::kInVersionReceived);
  EXPECT_EQ(link.receiver.peerVersion().softwareVersion, "OpenSSH_9.2");
  EXPECT_TRUE(link.delivered->messages.empty());
  link.receive(packet.substr(3));
  ASSERT_EQ(link.delivered->messages.size(), 1u);
  EXPECT_EQ(link.delivered->messages[0], "after the line");
}

}  // namespace
