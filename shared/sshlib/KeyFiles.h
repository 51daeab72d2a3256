#pragma once
// Key pairs as files: generating and writing all three key files at once,
// loading a private key from its PEM file, and storing key files on disk.
#include <cryptopp/dsa.h>

#include <memory>
#include <string>

#include "sshlib/RSAPrivateKey.h"

namespace SSH {

// Key sizes exportKey accepts: RSA from 1024 bits up to the size the blob
// readers take, DSA exactly 1024 bits (with a 160-bit q, as "ssh-dss"
// signatures need).
inline constexpr unsigned kMinRsaKeyBits = 1024;
inline constexpr unsigned kDsaKeyBits = 1024;

// A private key read from a PEM file: exactly one of rsa and dsa is set.
struct LoadedPrivateKey {
  std::string algorithm;  // "ssh-rsa" or "ssh-dss"
  std::unique_ptr<RSAPrivateKey> rsa;
  std::unique_ptr<CryptoPP::DSA::PrivateKey> dsa;

  // The key's public key blob.
  std::string publicKeyBlob() const;
};

// algorithmId "ssh-rsa" (public exponent 17) or "ssh-dss": a new key of
// keyBits, written as a PEM private key (encrypted when passLength is not 0),
// an SSH2 public key file and a one-line public key, both with the comment.
// SSH::Err "unrecognized algorithm id" or "invalid key size".
void exportKey(const std::string& algorithmId, CryptoPP::RandomNumberGenerator& rng,
               unsigned keyBits, const std::string& comment,
               CryptoPP::BufferedTransformation& ssh2PublicKeyFile,
               CryptoPP::BufferedTransformation& publicKeyLine, const CryptoPP::byte* passPhrase,
               size_t passLength, CryptoPP::BufferedTransformation& pemPrivateKey);

// The PEM private key of an "RSA" or "DSA" block; any other type (an OpenSSH
// or PKCS #8 key among them) is SSH::Err "unrecognized private key algorithm".
LoadedPrivateKey loadPrivateKey(CryptoPP::BufferedTransformation& in,
                                const CryptoPP::byte* passPhrase, size_t passLength);

// Replaces the file at path with bytes through a temporary file and a
// rename, so a crash leaves the old file or the new one. A secret (private
// key) file is owner-only (0600). SSH::Err "cannot write key file" naming
// the path.
void writeKeyFile(const std::string& path, const std::string& bytes, bool secret);

}  // namespace SSH
