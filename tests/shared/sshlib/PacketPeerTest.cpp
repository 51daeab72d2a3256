// The packet layer against an independent one: a short Python program on
// the "cryptography" package frames, encrypts (aes256-cbc) and authenticates
// (hmac-sha1) packets as RFC 4253 section 6 says, and reads ours. An
// in-memory round trip cannot catch a misreading shared by both of our
// ends (the MAC over the ciphertext, a chain restarted per packet); this can.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PacketTestSupport.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using namespace sshtest;

const char* const kPeer = R"(import os, sys, struct, hmac, hashlib
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
key, iv, mac_key = b'\x5a' * 32, b'\xa5' * 16, b'\x5a' * 20
mode, path = sys.argv[1], sys.argv[2]
if mode == 'read':
    wire = bytes.fromhex(open(path).read().strip())
    dec = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
    at, seq = 0, 0
    while at < len(wire):
        first = dec.update(wire[at:at + 16])
        length = struct.unpack('>I', first[:4])[0]
        rest = dec.update(wire[at + 16:at + 4 + length])
        plain = first + rest
        mac = wire[at + 4 + length:at + 24 + length]
        good = hmac.new(mac_key, struct.pack('>I', seq) + plain, hashlib.sha1).digest()
        if mac != good or len(plain) % 16 or plain[4] < 4:
            sys.exit('bad packet %d' % seq)
        print(plain[5:5 + length - plain[4] - 1].hex())
        at, seq = at + 24 + length, seq + 1
else:
    enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    out = b''
    for seq, line in enumerate(open(path)):
        payload = bytes.fromhex(line.strip())
        padding = 16 - (5 + len(payload)) % 16
        if padding < 4:
            padding += 16
        plain = struct.pack('>IB', 1 + len(payload) + padding, padding) + payload + os.urandom(padding)
        mac = hmac.new(mac_key, struct.pack('>I', seq) + plain, hashlib.sha1).digest()
        out += enc.update(plain) + mac
    print(out.hex())
)";

const std::vector<std::string> kPayloads = {std::string(1, '\x02'), "", std::string(1000, 'x'),
                                            std::string(15, 'y'), std::string(70000, 'z')};

class PacketPeer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tw::test::haveTool(tw::test::kPython)) << "python3 with python3-cryptography is a test peer";
    tw::test::writeFileBytes(dir.file("peer.py"), kPeer);
  }

  std::string peer(const std::string& mode, const std::string& input) {
    tw::test::writeFileBytes(dir.file("input"), input);
    std::string out;
    EXPECT_EQ(tw::test::runTool(std::string(tw::test::kPython) + " " + tw::test::shellQuote(dir.file("peer.py")) + " " + mode +
                                    " " + tw::test::shellQuote(dir.file("input")) + " 2>&1",
                                &out),
              0)
        << out;
    return out;
  }

  tw::test::ScratchDir dir;
};

TEST_F(PacketPeer, ReadsWhatWeSend) {
  PacketLink link;
  link.key("aes256-cbc", "hmac-sha1");
  std::string wire;
  std::string expected;
  for (const std::string& payload : kPayloads) {
    wire += link.send(payload);
    expected += hex(payload) + "\n";
  }
  EXPECT_EQ(peer("read", hex(wire)), expected);
}

TEST_F(PacketPeer, WeReadWhatItSends) {
  std::string lines;
  for (const std::string& payload : kPayloads) lines += hex(payload) + "\n";
  const std::string out = peer("write", lines);
  PacketLink link;
  link.key("aes256-cbc", "hmac-sha1");
  link.receive(unhex(out.substr(0, out.find('\n'))));
  EXPECT_EQ(link.delivered->messages, kPayloads);
}

}  // namespace
