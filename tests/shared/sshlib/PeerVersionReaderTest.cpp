#include "sshlib/PeerVersionReader.h"

#include <cryptopp/osrng.h>
#include <gtest/gtest.h>

#include "SSHTestSupport.h"
#include "sshlib/TransportState.h"

namespace {

using sshtest::contents;
using sshtest::disconnectOf;
using sshtest::queueOf;

class SSHPeerVersionReader : public ::testing::Test {
 protected:
  CryptoPP::AutoSeededRandomPool rng;
  SSH::TransportState state{rng};
  SSH::PeerVersionReader reader;
};

TEST_F(SSHPeerVersionReader, LinesBeforeTheIdentificationAreSkippedAndPacketBytesStay) {
  auto in = queueOf("Welcome\r\nnot SSH-\nSSH-1.99-Name_1\r\n" + std::string("\0\0\0\x0c", 4));
  EXPECT_TRUE(reader.read(in, state));
  EXPECT_EQ(state.inputState(), 1u);
  EXPECT_EQ(state.peerVersion(), SSH::VersionInfo("1.99", "Name_1", "", "SSH-1.99-Name_1"));
  EXPECT_EQ(contents(in), std::string("\0\0\0\x0c", 4));
}

TEST_F(SSHPeerVersionReader, WaitsForTheWholeLineByteByByte) {
  const std::string line = "SSH-2.0-x y z\n";
  CryptoPP::ByteQueue in;
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    in.Put(static_cast<CryptoPP::byte>(line[i]));
    EXPECT_FALSE(reader.read(in, state)) << i;
  }
  EXPECT_EQ(state.inputState(), 0u);
  in.Put('\n');
  EXPECT_TRUE(reader.read(in, state));
  EXPECT_EQ(state.peerVersion().softwareVersion, "x");
  EXPECT_EQ(state.peerVersion().comments, "y z");
}

TEST_F(SSHPeerVersionReader, LineLengthLimit) {
  // 254 characters and LF fit in 255 bytes; one more does not, SSH- or not,
  // and 255 bytes without a LF cannot become a valid line.
  auto fits = queueOf("SSH-2.0-" + std::string(246, 'a') + "\n");
  EXPECT_TRUE(reader.read(fits, state));
  for (const std::string& bytes :
       {std::string(300, 'x') + "\n", "SSH-2.0-" + std::string(247, 'a') + "\n",
        std::string(255, 'x')}) {
    SSH::PeerVersionReader fresh;
    auto in = queueOf(bytes);
    EXPECT_EQ(disconnectOf([&] { fresh.read(in, state); }), "version info line too long");
  }
}

TEST_F(SSHPeerVersionReader, LinesBeforeTheIdentificationAreBounded) {
  std::string noise;
  for (int i = 0; i < 1024; ++i) noise += "banner\n";
  auto ok = queueOf(noise + "SSH-2.0-x\r\n");
  EXPECT_TRUE(reader.read(ok, state));

  SSH::PeerVersionReader fresh;
  auto tooMany = queueOf(noise + "banner\n" + "SSH-2.0-x\r\n");
  EXPECT_EQ(disconnectOf([&] { fresh.read(tooMany, state); }), "too many lines before version info");
}

TEST_F(SSHPeerVersionReader, UnsupportedVersionStoresNothing) {
  auto in = queueOf("SSH-1.5-old\r\n");
  EXPECT_EQ(disconnectOf([&] { reader.read(in, state); }), "protocol version not supported");
  EXPECT_EQ(state.inputState(), 0u);
  EXPECT_EQ(state.peerVersion().line, "");
}

}  // namespace
