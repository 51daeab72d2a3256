// Short texts to hexadecimal text and back under a pass-derived AES-256 key.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "loam/net/zuCryptor.h"
#include "loam/platform/zuTypes.h"

namespace {

bool isUpperHex(const std::string& s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

std::string encrypted(const zuCryptor& cryptor, const std::string& plain) {
  std::string out;
  cryptor.encrypt(plain, out);
  return out;
}

std::string decrypted(const zuCryptor& cryptor, const std::string& hex) {
  std::string out = "left over";
  cryptor.decrypt(hex, out);
  return out;
}

TEST(Cryptor, PadsToNineBytesOrTheNextMultipleOfThreeAndRoundTrips) {
  struct Case {
    size_t textLength;
    size_t hexLength;
  };
  const Case cases[] = {{0, 18},  {1, 18},  {8, 18},  {9, 18},
                        {10, 24}, {12, 24}, {13, 30}, {100, 204}};
  const zuCryptor cryptor("pass");
  for (const Case& c : cases) {
    std::string text(c.textLength, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    const std::string hex = encrypted(cryptor, text);
    EXPECT_EQ(hex.size(), c.hexLength) << c.textLength;
    EXPECT_TRUE(isUpperHex(hex)) << hex;
    EXPECT_EQ(decrypted(cryptor, hex), text) << c.textLength;
  }
}

TEST(Cryptor, DecryptedTextEndsAtItsFirstNul) {
  const zuCryptor cryptor("pass");
  EXPECT_EQ(decrypted(cryptor, encrypted(cryptor, std::string("abc\0def", 7))), "abc");
}

TEST(Cryptor, LowerCaseHexDecryptsToo) {
  const zuCryptor cryptor("pass");
  std::string hex = encrypted(cryptor, "lower");
  std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) {
    return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  EXPECT_EQ(decrypted(cryptor, hex), "lower");
}

TEST(Cryptor, BadHexTextGivesAnEmptyResult) {
  const zuCryptor cryptor("pass");
  const std::string good = encrypted(cryptor, "secret");
  for (const std::string& hex : {std::string(), std::string("zz"), std::string("0G"), " " + good,
                                 good + "x", good.substr(0, 4) + "-" + good.substr(4)}) {
    EXPECT_EQ(decrypted(cryptor, hex), "") << hex;
  }
}

// CFB from a fixed vector: the first block of output is the text XORed with
// the key stream, which encrypting the empty (all-zero) text reveals.
TEST(Cryptor, EncryptsAsAStreamFromAFixedVector) {
  const zuCryptor cryptor("pass");
  const std::string stream = encrypted(cryptor, "");
  const std::string text = "ABCDEFGHI";
  const std::string hex = encrypted(cryptor, text);
  for (size_t i = 0; i < text.size(); ++i) {
    const int k = std::stoi(stream.substr(2 * i, 2), nullptr, 16);
    const int c = std::stoi(hex.substr(2 * i, 2), nullptr, 16);
    EXPECT_EQ(c, k ^ static_cast<u8>(text[i])) << i;
  }
  EXPECT_EQ(encrypted(cryptor, text), hex);
}

TEST(Cryptor, KeyTakesTheFirst32BytesOfThePass) {
  const std::string base(32, 'k');
  struct Case {
    std::string a, b;
    bool sameKey;
  };
  const Case cases[] = {
      {"", std::string(1, '\0'), true},  // a zero byte leaves the built-in key as it is
      {base + "X", base + "Y", true},    // bytes past 32 are not used
      {base, base.substr(0, 31) + "j", false}, {"a", "b", false}, {"", "a", false},
  };
  const std::string text = "a text of some length";
  for (const Case& c : cases) {
    const zuCryptor a(c.a), b(c.b);
    const std::string hex = encrypted(a, text);
    EXPECT_EQ(encrypted(b, text) == hex, c.sameKey) << c.a << " / " << c.b;
    EXPECT_EQ(decrypted(b, hex) == text, c.sameKey) << c.a << " / " << c.b;
  }
}

// Texts stored with the cryptor must keep decrypting, and the mode must be
// AES-256 with full-block CFB: a 21-byte text spans two blocks, so OFB, CTR,
// 8-bit CFB or a 128-bit key would all give other bytes. The expected text is
//   openssl enc -aes-256-cfb -nopad -iv d23a44647cb1aa6606e849656d79ec15
//     -K 5c4cefe380f85bb05bc4e6816b09d7b77b883568a4c4af81a0f64af93ea678d3
// on "Tarnwell update 2026!" (already a multiple of 3), the key being the two
// built-in tables and "pass" XORed together.
TEST(Cryptor, MatchesOpenSslAes256Cfb) {
  const zuCryptor cryptor("pass");
  const std::string hex = encrypted(cryptor, "Tarnwell update 2026!");
  EXPECT_EQ(hex, "59F6841E80011652FFEB726E843BDBDBCFA322F379");
  EXPECT_EQ(decrypted(cryptor, hex), "Tarnwell update 2026!");
}

}  // namespace
