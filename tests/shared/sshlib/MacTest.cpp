#include "sshlib/Mac.h"
#include "sshlib/VersionInfo.h"
#include "sshlib/deriveKey.h"

#include <gtest/gtest.h>

#include <cryptopp/queue.h>

#include "SSHTestSupport.h"

namespace {

using namespace sshtest;

struct Rfc2202 {
  const char* name;
  const char* key;
  const char* data;
  const char* mac;
};

// RFC 2202 test cases 1, 2, 3 and 5; the -96 forms are the first 12 bytes.
const Rfc2202 kRfc2202[] = {
    {"hmac-sha1", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265",
     "b617318655057264e28bc0b6fb378c8ef146be00"},
    {"hmac-sha1", "4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {"hmac-sha1", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
     "dddddd",
     "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {"hmac-sha1-96", "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c", "546573742057697468205472756e636174696f6e",
     "4c1a03424b55e07fe7f27be1"},
    {"hmac-md5", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265",
     "9294727a3638bb1c13f48ef8158bfc9d"},
    {"hmac-md5", "4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f",
     "750c783e6ab0b503eaa86e310a5db738"},
    {"hmac-md5", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
     "dddddd",
     "56be34521d144c88dbb8c733f0e8b3f6"},
    {"hmac-md5-96", "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c", "546573742057697468205472756e636174696f6e",
     "56461ef2342edc00f9bab995"},
};

class MacKnownAnswer : public testing::TestWithParam<Rfc2202> {};

TEST_P(MacKnownAnswer, GeneratesThePublishedMacAtEachMessageEnd) {
  const Rfc2202& v = GetParam();
  const std::string key = unhex(v.key);
  CryptoPP::ByteQueue out;
  SSH::Mac mac(new CryptoPP::Redirector(out));
  mac.createKeyed(v.name, bytes(key), key.size(), true);
  EXPECT_EQ(mac.macLength() * 2, std::string(v.mac).size());
  // Twice: each message end emits one MAC and starts afresh.
  for (int round = 0; round < 2; ++round) {
    put(mac, unhex(v.data));
    mac.MessageEnd(0);
    EXPECT_EQ(hex(take(out)), v.mac) << v.name << " round " << round;
  }
}

TEST_P(MacKnownAnswer, VerifiesTheRightMacAndRefusesAFlippedOne) {
  const Rfc2202& v = GetParam();
  const std::string key = unhex(v.key);
  SSH::Mac mac;
  mac.createKeyed(v.name, bytes(key), key.size(), false);
  std::string expected = unhex(v.mac);
  for (size_t flip : {size_t{0}, expected.size() - 1}) {
    put(mac, expected);
    put(mac, unhex(v.data));
    mac.MessageEnd(0);
    EXPECT_TRUE(mac.verified()) << v.name;

    std::string wrong = expected;
    wrong[flip] = static_cast<char>(wrong[flip] ^ 0x01);
    put(mac, wrong);
    put(mac, unhex(v.data));
    mac.MessageEnd(0);
    EXPECT_FALSE(mac.verified()) << v.name << " flipped byte " << flip;
  }
}

INSTANTIATE_TEST_SUITE_P(Rfc2202, MacKnownAnswer, testing::ValuesIn(kRfc2202));

TEST(Mac, NoneHasNoMacAndAlwaysVerifies) {
  CryptoPP::ByteQueue out;
  SSH::Mac mac(new CryptoPP::Redirector(out));
  EXPECT_EQ(mac.macLength(), 0u);
  EXPECT_TRUE(SSH::Mac::isSupported("none"));
  mac.createKeyed("none", nullptr, 0, false);
  put(mac, "anything");
  mac.MessageEnd(0);
  EXPECT_TRUE(mac.verified());
  EXPECT_EQ(out.MaxRetrievable(), 0u);
}

TEST(Mac, KeyLengthsAndUnknownNames) {
  EXPECT_EQ(SSH::Mac::keyLength("hmac-sha1", false), 20u);
  EXPECT_EQ(SSH::Mac::keyLength("hmac-sha1-96", true), 16u);
  EXPECT_EQ(SSH::Mac::keyLength("hmac-md5", true), 16u);
  EXPECT_EQ(SSH::Mac::keyLength("hmac-md5-96", false), 16u);
  for (const char* name : {"HMAC-SHA1", "hmac-sha2-256", "hmac-sha1,", ""}) {
    EXPECT_FALSE(SSH::Mac::isSupported(name)) << name;
    SSH::Mac mac;
    try {
      mac.createKeyed(name, nullptr, 0, true);
      ADD_FAILURE() << name << " accepted";
    } catch (const CryptoPP::Exception& e) {
      EXPECT_STREQ(e.what(), "SSH::Mac: unsupported MAC algorithm");
    }
    EXPECT_EQ(mac.macLength(), 0u) << "the MAC in use stays";
  }
}

TEST(Mac, KeyQuirkFollowsThePeersIdentification) {
  struct Case {
    const char* software;
    const char* comments;
    bool quirk;
  };
  const Case cases[] = {
      {"2.1.0", "F-SECURE SSH 2.1", true},
      {"3.0.0", "F-SECURE SSH 3.0", false},
      {"2.0.13", "SSH Secure Shell (non-commercial)", true},
      {"2.3.0", "SSH Secure Shell Windows Client", true},
      {"2.3.1", "SSH Secure Shell", false},
      {"2.2", "SSH Secure Shell", true},
      {"2.20", "SSH Secure Shell", false},
      {"2.1.0", "OpenSSH_2.1", false},
      {"2.0.1", "ssh secure shell", false},
  };
  for (const Case& c : cases) {
    const SSH::VersionInfo peer("2.0", c.software, c.comments, "");
    EXPECT_EQ(SSH::Mac::hasMacKeyQuirk(peer), c.quirk) << c.software << " " << c.comments;
  }
}

// The factory keys hmac-sha1 from letter 'E' (client to server) or 'F', 16
// bytes long for a quirky peer; the MAC it then makes matches an HMAC keyed
// with exactly those bytes.
TEST(Mac, FactoryKeysFromTheDirectionLetterAndQuirkLength) {
  const CryptoPP::Integer K("0x00f1e2d3c4b5a697");
  const CryptoPP::SecByteBlock H = block(std::string(20, '\x33'));
  const CryptoPP::SecByteBlock sessionId = block(std::string(20, '\x44'));
  const SSH::VersionInfo plain("2.0", "OpenSSH_9.2", "", "");
  const SSH::VersionInfo quirky("2.0", "2.1.0", "F-SECURE SSH", "");
  struct Case {
    unsigned direction;
    const SSH::VersionInfo* peer;
    char letter;
    size_t keyLength;
  };
  for (const Case& c : {Case{0, &plain, 'E', 20}, Case{1, &plain, 'F', 20},
                        Case{0, &quirky, 'E', 16}, Case{1, &quirky, 'F', 16}}) {
    CryptoPP::ByteQueue out;
    SSH::Mac mac(new CryptoPP::Redirector(out));
    mac.create("hmac-sha1", K, H, sessionId, c.direction, true, *c.peer);
    put(mac, "data");
    mac.MessageEnd(0);

    const CryptoPP::SecByteBlock key = SSH::deriveKey(K, H, c.letter, sessionId, c.keyLength);
    CryptoPP::ByteQueue expected;
    SSH::Mac reference(new CryptoPP::Redirector(expected));
    reference.createKeyed("hmac-sha1", key, c.keyLength, true);
    put(reference, "data");
    reference.MessageEnd(0);
    EXPECT_EQ(hex(take(out)), hex(take(expected))) << c.letter << " " << c.keyLength;
  }
}

}  // namespace
