#include "sshlib/Cipher.h"
#include "sshlib/deriveKey.h"

#include <gtest/gtest.h>

#include <cryptopp/queue.h>

#include "SSHTestSupport.h"

namespace {

using namespace sshtest;

struct KnownAnswer {
  const char* source;
  const char* name;
  const char* key;
  const char* iv;
  const char* plain;
  const char* cipher;
};

// Published vectors; for the CBC ones with a zero IV the first block is the
// block cipher's own answer.
const KnownAnswer kKnownAnswers[] = {
    {"SP 800-38A F.2.5 CBC-AES256", "aes256-cbc",
     "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {"RFC 2144 B.1 CAST-128", "cast128-cbc", "0123456712345678234567893456789a",
     "0000000000000000", "0123456789abcdef", "238b4fe5847e44b2"},
    {"Twofish paper, 256-bit zero key", "twofish-cbc",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "00000000000000000000000000000000",
     "57ff739d4dc92c1bd7fc01700cc8216f"},
    {"Blowfish set_key vector, 16-byte key", "blowfish-cbc", "f0e1d2c3b4a5968778695a4b3c2d1e0f",
     "0000000000000000", "fedcba9876543210", "93142887ee3be15c"},
    {"openssl des-ede3-cbc", "3des-cbc", "0123456789abcdeff0e1d2c3b4a5968778695a4b3c2d1e0f",
     "1122334455667788", "5461726e77656c6c336465732d636263", "93de5d9cf842c712388bc9eb9228ba82"},
    {"RFC 6229 RC4 128-bit key, offsets 0 and 16", "arcfour", "0102030405060708090a0b0c0d0e0f10",
     "", "0000000000000000000000000000000000000000000000000000000000000000",
     "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
};

class CipherKnownAnswer : public testing::TestWithParam<KnownAnswer> {};

// Each half goes in as its own packet: the chaining value (CBC) or the
// keystream position (ARC4) must carry over, so the halves together give the
// published answer.
std::string runInTwoPackets(SSH::Cipher& cipher, const std::string& input) {
  CryptoPP::ByteQueue out;
  cipher.Attach(new CryptoPP::Redirector(out));
  const size_t half = input.size() / 2 / cipher.paddingBlockSize() * cipher.paddingBlockSize();
  put(cipher, input.substr(0, half));
  std::string result = take(out);
  put(cipher, input.substr(half));
  return result + take(out);
}

TEST_P(CipherKnownAnswer, EncryptsAndDecryptsAcrossPackets) {
  const KnownAnswer& v = GetParam();
  const std::string key = unhex(v.key);
  const std::string iv = unhex(v.iv);
  ASSERT_EQ(SSH::Cipher::keyLength(v.name), key.size());
  ASSERT_EQ(SSH::Cipher::ivLength(v.name), iv.size());

  SSH::Cipher encrypt;
  encrypt.createKeyed(v.name, bytes(key), bytes(iv), false);
  EXPECT_EQ(hex(runInTwoPackets(encrypt, unhex(v.plain))), v.cipher) << v.source;

  SSH::Cipher decrypt;
  decrypt.createKeyed(v.name, bytes(key), bytes(iv), true);
  EXPECT_EQ(hex(runInTwoPackets(decrypt, unhex(v.cipher))), v.plain) << v.source;
}

INSTANTIATE_TEST_SUITE_P(Published, CipherKnownAnswer, testing::ValuesIn(kKnownAnswers));

TEST(Cipher, BlockSizesByName) {
  struct Case {
    const char* name;
    unsigned block;
    unsigned padding;
  };
  for (const Case& c : {Case{"none", 1, 8}, Case{"aes256-cbc", 16, 16}, Case{"blowfish-cbc", 8, 8},
                        Case{"3des-cbc", 8, 8}, Case{"twofish-cbc", 16, 16},
                        Case{"arcfour", 1, 8}, Case{"cast128-cbc", 8, 8}}) {
    SSH::Cipher cipher;
    const std::string zeros(32, '\0');
    cipher.createKeyed(c.name, bytes(zeros), bytes(zeros), false);
    EXPECT_EQ(cipher.blockSize(), c.block) << c.name;
    EXPECT_EQ(cipher.paddingBlockSize(), c.padding) << c.name;
    EXPECT_TRUE(SSH::Cipher::isSupported(c.name)) << c.name;
  }
}

TEST(Cipher, NoneAndTheStartingFormPassBytesThrough) {
  CryptoPP::ByteQueue out;
  SSH::Cipher cipher(new CryptoPP::Redirector(out));
  put(cipher, "abc");
  EXPECT_EQ(take(out), "abc");
  cipher.createKeyed("none", nullptr, nullptr, true);
  EXPECT_EQ(cipher.paddingBlockSize(), 8u);
  put(cipher, "def");
  EXPECT_EQ(take(out), "def");
}

TEST(Cipher, UnknownOrWrongCaseNameIsRefusedAndTheOldCipherStays) {
  const std::string key = unhex("0102030405060708090a0b0c0d0e0f10");
  CryptoPP::ByteQueue out;
  SSH::Cipher cipher(new CryptoPP::Redirector(out));
  cipher.createKeyed("arcfour", bytes(key), nullptr, false);
  for (const char* name : {"AES256-CBC", "aes128-cbc", "", "arcfour128"}) {
    EXPECT_FALSE(SSH::Cipher::isSupported(name)) << name;
    try {
      cipher.createKeyed(name, bytes(key), bytes(key), false);
      ADD_FAILURE() << name << " accepted";
    } catch (const CryptoPP::Exception& e) {
      EXPECT_STREQ(e.what(), "SSH::Cipher: unsupported cipher type");
    }
  }
  put(cipher, std::string(16, '\0'));
  EXPECT_EQ(hex(take(out)), "9ac7cc9a609d1ef7b2932899cde41b97");
}

// The factory keys a send cipher at the client with 'C' and 'A', at the
// server side of the same direction the decrypting cipher gets the same
// pair; the other direction uses 'D' and 'B'.
TEST(Cipher, FactoryKeysEachDirectionWithItsLetters) {
  const CryptoPP::Integer K("0x1234567890abcdef1234567890abcdef");
  const CryptoPP::SecByteBlock H = block(std::string(20, '\x11'));
  const CryptoPP::SecByteBlock sessionId = block(std::string(20, '\x22'));
  const std::string plain(32, 'p');
  for (unsigned direction : {0u, 1u}) {
    const char keyLetter = direction == 0 ? 'C' : 'D';
    const char ivLetter = direction == 0 ? 'A' : 'B';
    CryptoPP::ByteQueue out;
    SSH::Cipher cipher(new CryptoPP::Redirector(out));
    cipher.create("aes256-cbc", K, H, sessionId, direction, false);
    put(cipher, plain);

    SSH::Cipher reference;
    const CryptoPP::SecByteBlock key = SSH::deriveKey(K, H, keyLetter, sessionId, 32);
    const CryptoPP::SecByteBlock iv = SSH::deriveKey(K, H, ivLetter, sessionId, 16);
    reference.createKeyed("aes256-cbc", key, iv, false);
    CryptoPP::ByteQueue expected;
    reference.Attach(new CryptoPP::Redirector(expected));
    put(reference, plain);
    EXPECT_EQ(hex(take(out)), hex(take(expected))) << direction;
  }
}

}  // namespace
