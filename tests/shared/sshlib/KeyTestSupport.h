#pragma once
// Keys made once per test program (generation is slow under the
// sanitizers) and the peer tools the key tests run.
#include <cryptopp/dsa.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <gtest/gtest.h>

#include <string>

#include "sshlib/Encoding.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/RSAPrivateKey.h"
#include "support/ExternalTool.h"

namespace sshtest {

inline CryptoPP::AutoSeededRandomPool& rng() {
  static CryptoPP::AutoSeededRandomPool pool;
  return pool;
}

inline const SSH::RSAPrivateKey& rsaKey() {
  static const SSH::RSAPrivateKey key(rng(), 1024, 17);
  return key;
}

inline const CryptoPP::DSA::PrivateKey& dsaKey() {
  static const CryptoPP::DSA::PrivateKey key = [] {
    CryptoPP::DSA::PrivateKey k;
    k.GenerateRandomWithKeySize(rng(), 1024);
    return k;
  }();
  return key;
}

// Their public key blobs.
inline std::string rsaBlob() {
  CryptoPP::ByteQueue q;
  SSH::encodeRsaPublicKeyBlob(rsaKey(), q);
  return SSH::takeAllBytes(q);
}

inline std::string dsaBlob() {
  CryptoPP::ByteQueue q;
  SSH::encodeDsaPublicKeyBlob(dsaKey(), q);
  return SSH::takeAllBytes(q);
}

inline const CryptoPP::byte* bytePtr(const std::string& s) {
  return reinterpret_cast<const CryptoPP::byte*>(s.data());
}

// The peers come with the test command; a missing one is a failure, not a skip.
#define SSH_REQUIRE_TOOL(name) \
  ASSERT_TRUE(tw::test::haveTool(name)) << name << " is missing (scripts/test.sh installs it)"

}  // namespace sshtest
