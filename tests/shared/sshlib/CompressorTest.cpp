#include "sshlib/Compressor.h"

#include <gtest/gtest.h>

#include <cryptopp/queue.h>

#include "SSHTestSupport.h"

namespace {

using namespace sshtest;

// What one packet's worth of payload becomes: put, then the hard flush the
// packet encoder does at the end of each packet.
std::string compressPacket(SSH::Compressor& compressor, CryptoPP::ByteQueue& out,
                           const std::string& payload) {
  put(compressor, payload);
  compressor.Flush(true);
  return take(out);
}

TEST(Compressor, ZlibStreamRunsOnAcrossPackets) {
  CryptoPP::ByteQueue compressed;
  SSH::Compressor deflate(new CryptoPP::Redirector(compressed));
  deflate.create("zlib", true);
  EXPECT_EQ(deflate.level(), -1);
  CryptoPP::ByteQueue inflated;
  SSH::Compressor inflate(new CryptoPP::Redirector(inflated));
  inflate.create("zlib", false);

  const std::string payload = "SSH_MSG_CHANNEL_DATA: the same text twice makes a back reference";
  const std::string first = compressPacket(deflate, compressed, payload);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(first[0]), 0x68) << "zlib header, 2^14 window";
  // Only the first packet carries the stream header; the second reuses the
  // first one's dictionary and so comes out far smaller.
  const std::string second = compressPacket(deflate, compressed, payload);
  EXPECT_LT(second.size(), first.size() / 2);

  for (const std::string& packet : {first, second}) {
    put(inflate, packet);
    inflate.Flush(true);
    EXPECT_EQ(take(inflated), payload);
  }
}

TEST(Compressor, NoneAndNamesCompareExactly) {
  CryptoPP::ByteQueue out;
  SSH::Compressor compressor(new CryptoPP::Redirector(out));
  compressor.create("none", true);
  EXPECT_EQ(compressPacket(compressor, out, "plain"), "plain");
  EXPECT_TRUE(SSH::Compressor::isSupported("zlib"));
  for (const char* name : {"ZLIB", "zlib@openssh.com", ""}) {
    EXPECT_FALSE(SSH::Compressor::isSupported(name)) << name;
    try {
      compressor.create(name, false);
      ADD_FAILURE() << name << " accepted";
    } catch (const CryptoPP::Exception& e) {
      EXPECT_STREQ(e.what(), "SSH::Compressor: unsupported compression algorithm");
    }
  }
  EXPECT_EQ(compressPacket(compressor, out, "still plain"), "still plain");
}

}  // namespace
