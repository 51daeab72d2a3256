// Proves the cryptographic dependency builds and links on this machine.
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include <string>

TEST(CryptoDependency, Sha1OfAbcMatchesFips180Vector) {
  std::string digest;
  CryptoPP::SHA1 sha;
  CryptoPP::StringSource src(
      std::string("abc"), true,
      new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(digest))));
  EXPECT_EQ(digest, "A9993E364706816ABA3E25717850C26C9CD0D89D");
}
