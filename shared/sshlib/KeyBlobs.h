#pragma once
// Public key blobs and signature blobs of the wire protocol (RFC 4253
// section 6.6): "ssh-rsa" (e, n; PKCS #1 v1.5 signatures over SHA-1) and
// "ssh-dss" (p, q, g, y; DSA over SHA-1 as 40 bytes, r then s).
#include <cryptopp/dsa.h>
#include <cryptopp/rsa.h>

#include <string>

namespace SSH {

// Largest keys accepted from a blob, as OpenSSH has them: bigger ones would
// let a peer buy seconds of our time per signature check.
inline constexpr unsigned kMaxRsaModulusBits = 16384;
// Public exponents in use are 3, 17 or 65537; a huge one makes every check
// as slow as a private-key operation (hundreds of ms at 16384 bits).
inline constexpr unsigned kMaxRsaExponentBits = 64;
inline constexpr unsigned kMaxDsaModulusBits = 3072;
// FIPS 186 subgroups are 160, 224 or 256 bits.
inline constexpr unsigned kMaxDsaSubgroupBits = 256;

void encodeRsaPublicKeyBlob(const CryptoPP::RSAFunction& key, CryptoPP::BufferedTransformation& out);
void encodeDsaPublicKeyBlob(const CryptoPP::DSA::PrivateKey& key,
                            CryptoPP::BufferedTransformation& out);
void encodeDsaPublicKeyBlob(const CryptoPP::DSA::PublicKey& key,
                            CryptoPP::BufferedTransformation& out);

// The "ssh-dss" signature blob of data.
std::string signDss(const CryptoPP::DSA::PrivateKey& key, const CryptoPP::byte* data,
                    size_t length, CryptoPP::RandomNumberGenerator& rng);

// The "ssh-rsa" signature blob of data (PKCS #1 v1.5 over SHA-1).
std::string signRsa(const CryptoPP::InvertibleRSAFunction& key, const CryptoPP::byte* data,
                    size_t length, CryptoPP::RandomNumberGenerator& rng);

// True only when the signature blob's algorithm equals the key blob's, that
// algorithm is "ssh-rsa" or "ssh-dss" and the signature over data verifies.
// Malformed or oversized blobs, and RSA exponents that are even, below 3
// or longer than kMaxRsaExponentBits, give false; nothing is thrown for them.
bool verifyHostKeySignature(const std::string& keyBlob, const std::string& signatureBlob,
                            const CryptoPP::byte* data, size_t length);

}  // namespace SSH
