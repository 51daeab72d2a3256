#include "sshlib/KeyBlobs.h"

#include <cryptopp/sha.h>
#include <gtest/gtest.h>

#include "KeyTestSupport.h"
#include "SSHTestSupport.h"
#include "sshlib/Encoding.h"

namespace {

using sshtest::bytePtr;
using sshtest::contents;

using sshtest::dsaBlob;
using sshtest::rsaBlob;

std::string rsaSignatureBlob(const std::string& data, const std::string& name = "ssh-rsa") {
  const CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Signer signer(sshtest::rsaKey());
  std::string sig(signer.MaxSignatureLength(), '\0');
  sig.resize(signer.SignMessage(sshtest::rng(), bytePtr(data), data.size(),
                                reinterpret_cast<CryptoPP::byte*>(sig.data())));
  CryptoPP::ByteQueue q;
  SSH::putStdString(q, name);
  SSH::putStdString(q, sig);
  return contents(q);
}

TEST(SSHKeyBlobs, BlobFields) {
  CryptoPP::ByteQueue rsa = sshtest::queueOf(rsaBlob());
  std::string name;
  CryptoPP::Integer e, n;
  SSH::getStdString(rsa, name);
  SSH::getMPInt(rsa, e);
  SSH::getMPInt(rsa, n);
  EXPECT_EQ(name, "ssh-rsa");
  EXPECT_EQ(e, CryptoPP::Integer(17));
  EXPECT_EQ(n, sshtest::rsaKey().GetModulus());
  EXPECT_EQ(rsa.MaxRetrievable(), 0u);

  // The private and the public DSA key give one blob.
  CryptoPP::DSA::PublicKey pub;
  sshtest::dsaKey().MakePublicKey(pub);
  CryptoPP::ByteQueue fromPublic;
  SSH::encodeDsaPublicKeyBlob(pub, fromPublic);
  EXPECT_EQ(contents(fromPublic), dsaBlob());
  EXPECT_EQ(dsaBlob().substr(0, 11), std::string("\0\0\0\x07ssh-dss", 11));
}

TEST(SSHKeyBlobs, SignaturesVerifyAndTamperingFails) {
  const std::string data = "exchange hash H";
  const std::string dss = SSH::signDss(sshtest::dsaKey(), bytePtr(data), data.size(), sshtest::rng());
  CryptoPP::ByteQueue q = sshtest::queueOf(dss);
  std::string name, raw;
  SSH::getStdString(q, name);
  SSH::getStdString(q, raw);
  EXPECT_EQ(name, "ssh-dss");
  EXPECT_EQ(raw.size(), 40u);

  const std::string rsa = rsaSignatureBlob(data);
  EXPECT_TRUE(SSH::verifyHostKeySignature(rsaBlob(), rsa, bytePtr(data), data.size()));
  EXPECT_TRUE(SSH::verifyHostKeySignature(dsaBlob(), dss, bytePtr(data), data.size()));

  std::string flipped = dss;
  flipped.back() ^= 1;
  struct Case {
    std::string key, signature, data;
  };
  const Case refused[] = {
      {rsaBlob(), rsa, "other data"},
      {dsaBlob(), dss, "other data"},
      {dsaBlob(), flipped, data},
      {rsaBlob(), dss, data},                             // algorithms differ
      {dsaBlob(), rsa, data},
      {rsaBlob(), rsaSignatureBlob(data, "ssh-dss"), data},  // names differ
      {rsaBlob().substr(0, 20), rsa, data},               // truncated key blob
      {rsaBlob(), rsa.substr(0, 30), data},               // truncated signature blob
      {"", "", data},
      {std::string("\0\0\0\x0bssh-ed25519", 15), rsa, data},
  };
  for (const auto& c : refused)
    EXPECT_FALSE(SSH::verifyHostKeySignature(c.key, c.signature, bytePtr(c.data), c.data.size()));
}

TEST(SSHKeyBlobs, HostileKeyBlobsAreRefusedNotThrown) {
  // Zero, even or negative parameters and oversized moduli must give false
  // without exceptions or long computations.
  auto blob = [](const char* name, std::initializer_list<CryptoPP::Integer> values) {
    CryptoPP::ByteQueue q;
    SSH::putStdString(q, name);
    for (const auto& v : values) SSH::putMPInt(q, v);
    return contents(q);
  };
  const std::string data = "d";
  const std::string dss = SSH::signDss(sshtest::dsaKey(), bytePtr(data), 1, sshtest::rng());
  const std::string rsa = rsaSignatureBlob(data);
  CryptoPP::Integer huge = CryptoPP::Integer::Power2(20000) + 1;
  const std::pair<std::string, std::string> cases[] = {
      {blob("ssh-dss", {0, 0, 0, 0}), dss},
      {blob("ssh-dss", {4, 3, 2, 1}), dss},
      {blob("ssh-dss", {-7, 3, 2, 1}), dss},
      {blob("ssh-dss", {huge, 3, 2, 1}), dss},
      {blob("ssh-dss", {CryptoPP::Integer::Power2(3072) + 1, 3, 2, 1}), dss},
      {blob("ssh-rsa", {17, 0}), rsa},
      {blob("ssh-rsa", {0, 0}), rsa},
      {blob("ssh-rsa", {17, huge}), rsa},
      {blob("ssh-rsa", {-17, sshtest::rsaKey().GetModulus()}), rsa},
  };
  for (const auto& [key, sig] : cases) {
    bool result = true;
    EXPECT_NO_THROW(result = SSH::verifyHostKeySignature(key, sig, bytePtr(data), 1));
    EXPECT_FALSE(result);
  }
}

// A correct signature by a key with an exponent past 64 bits is refused
// like a forged one: checking it would cost as much as signing.
TEST(SSHKeyBlobs, RsaExponentIsBoundedAndOdd) {
  struct Case {
    const char* exponent;
    bool accepted;
  };
  const Case cases[] = {
      {"3", true},
      {"65537", true},
      {"18446744073709551557", true},  // the largest 64-bit prime
      {"18446744073709551629", false},  // 2^64 + 13, 65 bits
      {"340282366920938463463374607431768211507", false},  // 2^128 + 51
  };
  const std::string data = "exchange hash H";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exponent);
    CryptoPP::InvertibleRSAFunction key;
    key.Initialize(sshtest::rng(), 1024, CryptoPP::Integer(c.exponent));
    CryptoPP::ByteQueue blob;
    SSH::encodeRsaPublicKeyBlob(key, blob);
    const std::string signature = SSH::signRsa(key, bytePtr(data), data.size(), sshtest::rng());
    EXPECT_EQ(SSH::verifyHostKeySignature(contents(blob), signature, bytePtr(data), data.size()),
              c.accepted);
  }
  // Even, 1 and the n - 2 of the slow case never reach the arithmetic.
  const CryptoPP::Integer n = sshtest::rsaKey().GetModulus();
  const std::string signature = rsaSignatureBlob(data);
  for (const CryptoPP::Integer& e : {CryptoPP::Integer(18), CryptoPP::Integer::One(), n - 2}) {
    CryptoPP::ByteQueue q;
    SSH::putStdString(q, "ssh-rsa");
    SSH::putMPInt(q, e);
    SSH::putMPInt(q, n);
    EXPECT_FALSE(SSH::verifyHostKeySignature(contents(q), signature, bytePtr(data), data.size()));
  }
}

TEST(SSHKeyBlobs, RsaSignatureWithoutLeadingZeroVerifies) {
  // Some signers send the signature number without its leading zero bytes;
  // find one such signature and check it is taken.
  for (int attempt = 0; attempt < 5000; ++attempt) {
    const std::string data = "message " + std::to_string(attempt);
    CryptoPP::ByteQueue q = sshtest::queueOf(rsaSignatureBlob(data));
    std::string name, sig;
    SSH::getStdString(q, name);
    SSH::getStdString(q, sig);
    if (sig[0] != '\0') continue;
    CryptoPP::ByteQueue shortened;
    SSH::putStdString(shortened, "ssh-rsa");
    SSH::putStdString(shortened, sig.substr(1));
    EXPECT_TRUE(SSH::verifyHostKeySignature(rsaBlob(), contents(shortened), bytePtr(data), data.size()));
    return;
  }
  FAIL() << "no signature with a leading zero byte in 5000 tries";
}

}  // namespace
