#include "sshlib/DsaKeys.h"

#include <cryptopp/asn.h>
#include <gtest/gtest.h>

#include "KeyTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Encoding.h"

namespace {

using sshtest::contents;
using sshtest::errorOf;
using sshtest::queueOf;

bool sameKey(const CryptoPP::DSA::PrivateKey& a, const CryptoPP::DSA::PrivateKey& b) {
  return a.GetPrivateExponent() == b.GetPrivateExponent() &&
         a.GetGroupParameters().GetModulus() == b.GetGroupParameters().GetModulus() &&
         a.GetGroupParameters().GetSubgroupOrder() == b.GetGroupParameters().GetSubgroupOrder() &&
         a.GetGroupParameters().GetGenerator() == b.GetGroupParameters().GetGenerator();
}

// The DER sequence of a DSA private key with the given numbers.
std::string derOf(std::initializer_list<CryptoPP::Integer> values) {
  CryptoPP::ByteQueue q;
  CryptoPP::DERSequenceEncoder seq(q);
  for (const auto& v : values) v.DEREncode(seq);
  seq.MessageEnd();
  return contents(q);
}

TEST(SSHDsaKeys, DerRoundTripAndLayout) {
  const auto& key = sshtest::dsaKey();
  CryptoPP::ByteQueue der;
  SSH::encodeDsaPrivateKey(key, der);
  const auto& g = key.GetGroupParameters();
  EXPECT_EQ(contents(der), derOf({0, g.GetModulus(), g.GetSubgroupOrder(), g.GetGenerator(),
                                  g.ExponentiateBase(key.GetPrivateExponent()),
                                  key.GetPrivateExponent()}));
  CryptoPP::DSA::PrivateKey back;
  SSH::decodeDsaPrivateKey(back, der);
  EXPECT_TRUE(sameKey(back, key));
}

TEST(SSHDsaKeys, InconsistentKeysAreRefused) {
  const auto& key = sshtest::dsaKey();
  const auto& g = key.GetGroupParameters();
  const CryptoPP::Integer& x = key.GetPrivateExponent();
  const CryptoPP::Integer y = g.ExponentiateBase(x);
  const CryptoPP::Integer p = g.GetModulus(), q = g.GetSubgroupOrder(), gen = g.GetGenerator();
  const std::string cases[] = {
      derOf({1, p, q, gen, y, x}),      // version
      derOf({0, p, q, gen, y + 1, x}),  // y does not belong to x
      derOf({0, p, q, gen, y, 0}),
      derOf({0, p, q, gen, y, q}),      // x out of range
      derOf({0, p + 1, q, gen, y, x}),  // even modulus
      derOf({0, 0, 0, 0, 0, 0}),
  };
  for (const auto& der : cases) {
    auto in = queueOf(der);
    CryptoPP::DSA::PrivateKey k;
    EXPECT_EQ(errorOf([&] { SSH::decodeDsaPrivateKey(k, in); }), "SSH: invalid DSA private key");
  }
  auto garbage = queueOf("\x30\x03\x02\x01");
  CryptoPP::DSA::PrivateKey k;
  EXPECT_THROW(SSH::decodeDsaPrivateKey(k, garbage), CryptoPP::BERDecodeErr);
}

TEST(SSHDsaKeys, PrivateKeyBlob) {
  CryptoPP::ByteQueue blob;
  SSH::writePrivateKeyBlob(sshtest::dsaKey(), blob);
  const std::string bytes = contents(blob);
  EXPECT_EQ(bytes.substr(0, 15), std::string("\0\0\0\0\0\0\0\x07ssh-dss", 15));
  EXPECT_TRUE(sameKey(*SSH::readPrivateKeyBlob(blob), sshtest::dsaKey()));

  auto badVersion = queueOf(std::string("\0\0\0\x01", 4) + bytes.substr(4));
  EXPECT_EQ(errorOf([&] { SSH::readPrivateKeyBlob(badVersion); }),
            "SSH: unsupported private key version");
  auto badAlgorithm = queueOf(std::string("\0\0\0\0\0\0\0\x07ssh-rsa", 15) + bytes.substr(15));
  EXPECT_EQ(errorOf([&] { SSH::readPrivateKeyBlob(badAlgorithm); }),
            "SSH: unsupported private key algorithm");
}

}  // namespace
