#include "sshlib/RSAPrivateKey.h"

namespace SSH {

RSAPrivateKey::RSAPrivateKey(const CryptoPP::Integer& n, const CryptoPP::Integer& e,
                             const CryptoPP::Integer& d, const CryptoPP::Integer& p,
                             const CryptoPP::Integer& q, const CryptoPP::Integer& dModPMinus1,
                             const CryptoPP::Integer& dModQMinus1,
                             const CryptoPP::Integer& qInverseModP) {
  Initialize(n, e, d, p, q, dModPMinus1, dModQMinus1, qInverseModP);
}

RSAPrivateKey::RSAPrivateKey(CryptoPP::RandomNumberGenerator& rng, unsigned keyBits,
                             const CryptoPP::Integer& publicExponent) {
  Initialize(rng, keyBits, publicExponent);
}

void RSAPrivateKey::DEREncode(CryptoPP::BufferedTransformation& out) const {
  DEREncodePrivateKey(out);
}

void RSAPrivateKey::BERDecode(CryptoPP::BufferedTransformation& in) {
  BERDecodePrivateKey(in, false, 0);
}

std::unique_ptr<RSAPrivateKey> generateRsaKey(CryptoPP::RandomNumberGenerator& rng,
                                              unsigned keyBits,
                                              const CryptoPP::Integer& publicExponent) {
  return std::make_unique<RSAPrivateKey>(rng, keyBits, publicExponent);
}

}  // namespace SSH
