#include "sshlib/Compressor.h"

#include <gtest/gtest.h>

#include <cryptopp/queue.h>

#include "SSHTestSupport.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

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

// Streams made by Python's zlib (compressobj(6, DEFLATED, 15)), flushed at
// each packet's end as zlib's users do: Z_SYNC_FLUSH, and Z_PARTIAL_FLUSH as
// OpenSSH does, whose closing empty block may end mid-byte. Each packet must
// inflate to its whole payload on its own.
TEST(Compressor, InflatesEachPacketOfAnotherDeflater) {
  struct Stream {
    const char* flush;
    const char* first;
    const char* second;
  };
  const Stream streams[] = {
      {"Z_SYNC_FLUSH", "789c4acb2c2a2e5128484cce4e05519539f989290a69435910000000ffff",
       "2a4e4dcecf4b51c8cf4bd55148cb292dce484d5128c94855284ecc4d55284fac04000000ffff"},
      {"Z_PARTIAL_FLUSH", "789c4acb2c2a2e5128484cce4e05519539f989290a6943591020",
       "808a5393f3f35214f2f3527514d2724a8b335253144a3252158a13735315ca132b0102"},
  };
  std::string firstPayload;
  for (int i = 0; i < 10; ++i) firstPayload += "first packet payload ";
  for (const Stream& stream : streams) {
    CryptoPP::ByteQueue inflated;
    SSH::Compressor inflate(new CryptoPP::Redirector(inflated));
    inflate.create("zlib", false);
    put(inflate, unhex(stream.first));
    inflate.Flush(true);
    EXPECT_EQ(take(inflated), firstPayload) << stream.flush;
    put(inflate, unhex(stream.second));
    inflate.Flush(true);
    EXPECT_EQ(take(inflated), "second one, flushed the same way") << stream.flush;
  }
}

// The other way: zlib itself (Python's binding, as OpenSSH uses zlib) reads
// our stream packet by packet, each packet's output complete on its own.
TEST(Compressor, ZlibReadsOurStreamPacketByPacket) {
  ASSERT_TRUE(tw::test::haveTool(tw::test::kPython)) << "python3 is a test peer";
  CryptoPP::ByteQueue compressed;
  SSH::Compressor deflate(new CryptoPP::Redirector(compressed));
  deflate.create("zlib", true);
  const std::string payloads[] = {std::string(3000, 'a') + "tail", "short", std::string(70000, 'b')};
  tw::test::ScratchDir dir;
  std::string lines;
  for (const std::string& payload : payloads) lines += hex(compressPacket(deflate, compressed, payload)) + "\n";
  tw::test::writeFileBytes(dir.file("packets"), lines);
  const std::string script =
      "import sys, zlib\n"
      "d = zlib.decompressobj()\n"
      "for line in open(sys.argv[1]):\n"
      "    print(d.decompress(bytes.fromhex(line.strip())).hex())\n";
  tw::test::writeFileBytes(dir.file("inflate.py"), script);
  std::string out;
  ASSERT_EQ(tw::test::runTool(std::string(tw::test::kPython) + " " + tw::test::shellQuote(dir.file("inflate.py")) + " " +
                                  tw::test::shellQuote(dir.file("packets")),
                              &out),
            0);
  std::string expected;
  for (const std::string& payload : payloads) expected += hex(payload) + "\n";
  EXPECT_EQ(out, expected);
}

}  // namespace
