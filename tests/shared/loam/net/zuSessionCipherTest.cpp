// The session stream cipher: AES-128-CFB against NIST SP 800-38A and openssl,
// fed in the arbitrary splits that reach an endpoint's send and receive.
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "loam/net/zuSessionCipher.h"
#include "support/ExternalTool.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<u8>;

Bytes fromHex(const std::string& hex) {
  std::string bytes;
  CryptoPP::StringSource(hex, true, new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  return Bytes(bytes.begin(), bytes.end());
}

// NIST SP 800-38A F.3.13, CFB128-AES128.Encrypt.
const Bytes kKey = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kVector = fromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kPlain = fromHex(
    "6bc1bee22e409f96e93d7e117393172a"
    "ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef"
    "f69f2445df4f9b17ad2b417be66c3710");
const Bytes kCipher = fromHex(
    "3b3fd92eb72dad20333449f8e83cfb4a"
    "c8a64537a0b3a93fcde3cdad9f1ce58b"
    "26751f67a3cbb140b1808cf187a4f4df"
    "c04b05357c5d1c0eeac4c66f9ff7f2e6");

// The block the client wraps: vector at 0..15, key at 32..47, filler elsewhere.
std::array<u8, zuSessionCipher::kKeyBlockSize> keyBlock(const Bytes& key, const Bytes& vector,
                                                        u8 filler) {
  std::array<u8, zuSessionCipher::kKeyBlockSize> block;
  block.fill(filler);
  std::copy(vector.begin(), vector.end(), block.begin() + zuSessionCipher::kVectorOffset);
  std::copy(key.begin(), key.end(), block.begin() + zuSessionCipher::kKeyOffset);
  return block;
}

// Runs data through one direction in pieces of the given sizes, cycled.
Bytes encryptInPieces(zuSessionCipher& cipher, const Bytes& data,
                      const std::vector<size_t>& sizes) {
  Bytes out(data.size());
  for (size_t at = 0, i = 0; at < data.size(); ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], data.size() - at);
    cipher.encrypt(data.data() + at, out.data() + at, n);
    at += n;
  }
  return out;
}

Bytes decryptInPieces(zuSessionCipher& cipher, Bytes data, const std::vector<size_t>& sizes) {
  for (size_t at = 0, i = 0; at < data.size(); ++i) {
    const size_t n = std::min(sizes[i % sizes.size()], data.size() - at);
    cipher.decrypt(data.data() + at, n);
    at += n;
  }
  return data;
}

TEST(SessionCipher, MatchesNistCfb128Aes128WhateverTheFiller) {
  for (u8 filler : {u8{0x00}, u8{0xA5}, u8{0xFF}}) {
    const auto block = keyBlock(kKey, kVector, filler);
    zuSessionCipher sender(block), receiver(block);
    Bytes out(kPlain.size());
    sender.encrypt(kPlain.data(), out.data(), out.size());
    EXPECT_EQ(out, kCipher) << int{filler};
    receiver.decrypt(out.data(), out.size());
    EXPECT_EQ(out, kPlain) << int{filler};
  }
  zuSessionCipher direct(std::span<const u8, 16>(kKey.data(), 16),
                         std::span<const u8, 16>(kVector.data(), 16));
  Bytes inPlace = kPlain;
  direct.encrypt(inPlace.data(), inPlace.data(), inPlace.size());
  EXPECT_EQ(inPlace, kCipher);
}

TEST(SessionCipher, StreamIsTheSameHoweverTheBytesAreSplit) {
  const std::vector<std::vector<size_t>> splits = {
      {64}, {1}, {16}, {15, 1, 17}, {3, 5, 7, 11}, {31, 33}, {0, 2, 0, 9}};
  const auto block = keyBlock(kKey, kVector, 0);
  for (const auto& sizes : splits) {
    for (const auto& back : splits) {
      zuSessionCipher sender(block), receiver(block);
      const Bytes wire = encryptInPieces(sender, kPlain, sizes);
      EXPECT_EQ(wire, kCipher);
      EXPECT_EQ(decryptInPieces(receiver, wire, back), kPlain);
    }
  }
}

// A long stream well past the vector, checked against openssl.
TEST(SessionCipher, LongStreamMatchesOpenSsl) {
  if (!tw::test::haveTool("openssl")) {
    GTEST_SKIP() << "openssl is needed as the independent peer (Debian package openssl)";
  }
  CryptoPP::AutoSeededRandomPool rng;
  Bytes key(16), vector(16), plain(10000);
  rng.GenerateBlock(key.data(), key.size());
  rng.GenerateBlock(vector.data(), vector.size());
  rng.GenerateBlock(plain.data(), plain.size());

  tw::test::ScratchDir dir;
  tw::test::writeFileBytes(dir.file("plain"), std::string(plain.begin(), plain.end()));
  std::string keyHex, vectorHex;
  CryptoPP::StringSource(key.data(), key.size(), true,
                         new CryptoPP::HexEncoder(new CryptoPP::StringSink(keyHex)));
  CryptoPP::StringSource(vector.data(), vector.size(), true,
                         new CryptoPP::HexEncoder(new CryptoPP::StringSink(vectorHex)));
  ASSERT_EQ(tw::test::runTool("openssl enc -aes-128-cfb -K " + keyHex + " -iv " + vectorHex +
                              " -in " + tw::test::shellQuote(dir.file("plain")) + " -out " +
                              tw::test::shellQuote(dir.file("wire"))),
            0);
  const std::string wireText = tw::test::readFileBytes(dir.file("wire"));
  const Bytes expected(wireText.begin(), wireText.end());

  const auto block = keyBlock(key, vector, 0x5A);
  zuSessionCipher sender(block);
  EXPECT_EQ(encryptInPieces(sender, plain, {1, 1000, 7, 4096, 13}), expected);
  // Decryption takes whole blocks in batches: pieces that start, end or
  // cross a batch or a block anywhere.
  const std::vector<std::vector<size_t>> splits = {
      {10240}, {4096}, {1, 4095, 4097, 13}, {17, 8191}, {4111, 5}, {15, 16, 4080}};
  for (const auto& sizes : splits) {
    zuSessionCipher receiver(block);
    EXPECT_EQ(decryptInPieces(receiver, expected, sizes), plain) << sizes.size();
  }
}

}  // namespace
