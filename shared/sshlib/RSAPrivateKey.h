#pragma once
// The library's RSA private key: Crypto++'s invertible RSA function whose
// DER form is the PKCS #1 RSAPrivateKey sequence (version 0, n, e, d, p, q,
// d mod (p-1), d mod (q-1), q^-1 mod p), the body of "RSA PRIVATE KEY" PEM
// files, rather than the dependency's PKCS #8 wrapping.
#include <cryptopp/rsa.h>

#include <memory>

namespace SSH {

class RSAPrivateKey : public CryptoPP::InvertibleRSAFunction {
 public:
  RSAPrivateKey() = default;
  RSAPrivateKey(const CryptoPP::Integer& n, const CryptoPP::Integer& e, const CryptoPP::Integer& d,
                const CryptoPP::Integer& p, const CryptoPP::Integer& q,
                const CryptoPP::Integer& dModPMinus1, const CryptoPP::Integer& dModQMinus1,
                const CryptoPP::Integer& qInverseModP);
  // A new key of the given size.
  RSAPrivateKey(CryptoPP::RandomNumberGenerator& rng, unsigned keyBits,
                const CryptoPP::Integer& publicExponent);

  void DEREncode(CryptoPP::BufferedTransformation& out) const;
  void BERDecode(CryptoPP::BufferedTransformation& in);
};

std::unique_ptr<RSAPrivateKey> generateRsaKey(CryptoPP::RandomNumberGenerator& rng,
                                              unsigned keyBits,
                                              const CryptoPP::Integer& publicExponent);

}  // namespace SSH
