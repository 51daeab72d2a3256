#include "sshlib/KeyBlobs.h"

#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/sha.h>

#include <algorithm>

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"

namespace SSH {

namespace {

constexpr size_t kDssSignatureSize = 40;

void putDsaBlob(CryptoPP::BufferedTransformation& out,
                const CryptoPP::DL_GroupParameters_DSA& group, const CryptoPP::Integer& y) {
  putStdString(out, "ssh-dss");
  putMPInt(out, group.GetModulus());
  putMPInt(out, group.GetSubgroupOrder());
  putMPInt(out, group.GetGenerator());
  putMPInt(out, y);
}

bool verifyRsa(CryptoPP::BufferedTransformation& key, const std::string& signature,
               const CryptoPP::byte* data, size_t length) {
  CryptoPP::Integer e, n;
  getNonNegativeMPInt(key, e);
  getNonNegativeMPInt(key, n);
  if (n.BitCount() > kMaxRsaModulusBits) return false;
  if (e.BitCount() > kMaxRsaExponentBits || e.IsEven() || e < 3) return false;
  CryptoPP::RSAFunction publicKey;
  publicKey.Initialize(n, e);
  if (!publicKey.Validate(CryptoPP::NullRNG(), 0)) return false;
  const CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Verifier verifier(publicKey);
  // Some signers drop leading zero bytes; the number is the same.
  const size_t full = verifier.SignatureLength();
  if (signature.size() > full) return false;
  CryptoPP::SecByteBlock padded(full);
  std::fill(padded.begin(), padded.end(), CryptoPP::byte{0});
  std::copy(signature.begin(), signature.end(), padded.begin() + (full - signature.size()));
  return verifier.VerifyMessage(data, length, padded.data(), padded.size());
}

bool verifyDss(CryptoPP::BufferedTransformation& key, const std::string& signature,
               const CryptoPP::byte* data, size_t length) {
  CryptoPP::Integer p, q, g, y;
  getNonNegativeMPInt(key, p);
  getNonNegativeMPInt(key, q);
  getNonNegativeMPInt(key, g);
  getNonNegativeMPInt(key, y);
  if (p.BitCount() > kMaxDsaModulusBits || q.BitCount() > 160) return false;
  if (signature.size() != kDssSignatureSize) return false;
  CryptoPP::DSA::PublicKey publicKey;
  publicKey.Initialize(p, q, g, y);
  if (!publicKey.Validate(CryptoPP::NullRNG(), 0)) return false;
  const CryptoPP::DSA::Verifier verifier(publicKey);
  if (verifier.SignatureLength() != kDssSignatureSize) return false;
  return verifier.VerifyMessage(data, length,
                                reinterpret_cast<const CryptoPP::byte*>(signature.data()),
                                signature.size());
}

// string algorithm, string signature.
std::string signatureBlob(const char* algorithm, const CryptoPP::byte* signature, size_t size) {
  CryptoPP::ByteQueue blob;
  putStdString(blob, algorithm);
  putString(blob, signature, size);
  return takeAllBytes(blob);
}

}  // namespace

void encodeRsaPublicKeyBlob(const CryptoPP::RSAFunction& key, CryptoPP::BufferedTransformation& out) {
  putStdString(out, "ssh-rsa");
  putMPInt(out, key.GetPublicExponent());
  putMPInt(out, key.GetModulus());
}

void encodeDsaPublicKeyBlob(const CryptoPP::DSA::PrivateKey& key,
                            CryptoPP::BufferedTransformation& out) {
  const auto& group = key.GetGroupParameters();
  putDsaBlob(out, group, group.ExponentiateBase(key.GetPrivateExponent()));
}

void encodeDsaPublicKeyBlob(const CryptoPP::DSA::PublicKey& key,
                            CryptoPP::BufferedTransformation& out) {
  putDsaBlob(out, key.GetGroupParameters(), key.GetPublicElement());
}

std::string signDss(const CryptoPP::DSA::PrivateKey& key, const CryptoPP::byte* data,
                    size_t length, CryptoPP::RandomNumberGenerator& rng) {
  const CryptoPP::DSA::Signer signer(key);
  CryptoPP::SecByteBlock signature(signer.MaxSignatureLength());
  const size_t size = signer.SignMessage(rng, data, length, signature.data());
  if (size != kDssSignatureSize) throw Err(Err::kInvalidArgument, "DSA key is not a 160-bit q key");
  return signatureBlob("ssh-dss", signature.data(), size);
}

std::string signRsa(const CryptoPP::InvertibleRSAFunction& key, const CryptoPP::byte* data,
                    size_t length, CryptoPP::RandomNumberGenerator& rng) {
  const CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA1>::Signer signer(key);
  CryptoPP::SecByteBlock signature(signer.MaxSignatureLength());
  const size_t size = signer.SignMessage(rng, data, length, signature.data());
  return signatureBlob("ssh-rsa", signature.data(), size);
}

bool verifyHostKeySignature(const std::string& keyBlob, const std::string& signatureBlob,
                            const CryptoPP::byte* data, size_t length) {
  try {
    CryptoPP::ByteQueue key, sig;
    putStdBytes(key, keyBlob);
    putStdBytes(sig, signatureBlob);
    std::string keyAlgorithm, sigAlgorithm, signature;
    getStdString(key, keyAlgorithm);
    getStdString(sig, sigAlgorithm);
    getStdString(sig, signature);
    if (sigAlgorithm != keyAlgorithm) return false;
    if (keyAlgorithm == "ssh-rsa") return verifyRsa(key, signature, data, length);
    if (keyAlgorithm == "ssh-dss") return verifyDss(key, signature, data, length);
    return false;
  } catch (const CryptoPP::Exception&) {
    return false;  // a malformed blob is a failed check, not an error of ours
  }
}

}  // namespace SSH
