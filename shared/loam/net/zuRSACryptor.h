#pragma once
// The secure endpoint's RSA key pair, kept as text, and the RSAES-OAEP (SHA-1)
// wrap and unwrap of its session key block.
//
// Keys are upper-case hexadecimal text of DER: the private key as PKCS #8, the
// public key as X.509 SubjectPublicKeyInfo. The public key text is what goes on
// the wire, so a listener can hand plain string copies to every connection.
//
// Nothing here throws to the caller except std::bad_alloc: library failures are
// a false or 0 result, which the endpoint turns into its own status codes.
#include <string>
#include <vector>

#include "loam/platform/zuTypes.h"

namespace CryptoPP {
class RandomNumberGenerator;
}

// Status the secure endpoint reports when no key pair can be made.
inline constexpr u16 kzuCodeKeyGenerationFailed = 272;

class zuRSACryptor {
 public:
  // The size of every pair this class makes, whatever size is asked for.
  static constexpr u16 kKeyBits = 1024;
  static constexpr u32 kPublicExponent = 17;

  zuRSACryptor() = default;
  // Test seam: draws all randomness from the given generator, which must
  // outlive the cryptor and is not shared between threads.
  explicit zuRSACryptor(CryptoPP::RandomNumberGenerator& random) : random_(&random) {}
  zuRSACryptor(const zuRSACryptor&) = default;
  zuRSACryptor& operator=(const zuRSACryptor&) = default;
  virtual ~zuRSACryptor() = default;

  // nullptr (the default) means a fresh auto-seeded pool for every call.
  void setRandom(CryptoPP::RandomNumberGenerator* random) { random_ = random; }

  // Makes a new 1024-bit pair with public exponent 17; on success sets both
  // texts and keySize. On failure returns false and the texts keep what they held.
  bool generateKeys(u32 requestedSize);

  // Wraps length bytes of plain under publicKey (the peer's, when a client).
  // out is resized to the wrapped block, whose length is the key's modulus
  // length and depends on the peer's key size. Returns that length, or 0 (out
  // emptied) when the key text does not decode or is too small for the input.
  u16 encrypt(const u8* plain, u32 length, std::vector<u8>& out) const;

  // Unwraps a block under privateKey. The block must be exactly the modulus
  // length and must unwrap to exactly expectedLength bytes; only then are they
  // copied to out (which holds expectedLength bytes) and expectedLength returned.
  // Anything else returns 0 and leaves out untouched.
  u16 decrypt(const u8* block, u32 length, u8* out, u32 expectedLength) const;

  // Read and copied directly by the secure endpoint.
  std::string privateKey;  // empty until a pair exists
  std::string publicKey;
  u16 keySize = 0;

 private:
  CryptoPP::RandomNumberGenerator* random_ = nullptr;
};
