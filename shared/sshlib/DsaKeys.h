#pragma once
// DSA private keys: the DER form of "DSA PRIVATE KEY" PEM files
// (SEQUENCE of INTEGER 0, p, q, g, y, x), the versioned private key blob and
// key generation.
#include <cryptopp/dsa.h>

#include <memory>

namespace SSH {

void encodeDsaPrivateKey(const CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& out);
// Refuses a version other than 0 and a y that does not belong to x (SSH::Err
// "invalid DSA private key"); bad DER throws the dependency's BERDecodeErr.
void decodeDsaPrivateKey(CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& in);

// uint32 0, string "ssh-dss", then the key in the dependency's own DER form.
void writePrivateKeyBlob(const CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& out);
std::unique_ptr<CryptoPP::DSA::PrivateKey> readPrivateKeyBlob(CryptoPP::BufferedTransformation& in);

std::unique_ptr<CryptoPP::DSA::PrivateKey> generateDsaKey(CryptoPP::RandomNumberGenerator& rng,
                                                         unsigned keyBits);
void generateDsaKey(CryptoPP::RandomNumberGenerator& rng, unsigned keyBits,
                    CryptoPP::DSA::PrivateKey& key);

}  // namespace SSH
