#pragma once
// Public key files: the SSH2 public key file of RFC 4716, the one-line form
// of authorized_keys and .pub files, and reading any of them or a bare blob.
#include <cryptopp/cryptlib.h>

#include <string>

namespace SSH {

// What readPublicKey found.
struct PublicKeyInfo {
  std::string blob;
  std::string algorithm;        // "ssh-rsa" or "ssh-dss"
  unsigned bits = 0;            // of n, or of p
  std::string md5Fingerprint;   // "xx:xx:..."
  std::string bubbleBabbleFingerprint;
};

// Every character below 32 removed.
std::string stripControlCharacters(const std::string& text);

void writeSsh2PublicKeyFile(CryptoPP::BufferedTransformation& out, const std::string& comment,
                            const std::string& blob);
// algorithm, blank, Base64 blob, blank, comment, LF.
void writePublicKeyLine(CryptoPP::BufferedTransformation& out, const std::string& algorithm,
                        const std::string& comment, const std::string& blob);

// A binary blob, a one-line key or an SSH2 public key file, told apart by
// their first bytes. SSH::Err "insufficient data for key blob", "cannot read
// key blob", "invalid key blob encoding" or "unsupported public key
// algorithm".
PublicKeyInfo readPublicKey(CryptoPP::BufferedTransformation& in);

}  // namespace SSH
