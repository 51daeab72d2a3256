#include "sshlib/DsaKeys.h"

#include <cryptopp/asn.h>

#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/KeyBlobs.h"

namespace SSH {

void encodeDsaPrivateKey(const CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& out) {
  const auto& group = key.GetGroupParameters();
  const CryptoPP::Integer& x = key.GetPrivateExponent();
  CryptoPP::DERSequenceEncoder seq(out);
  CryptoPP::DEREncodeUnsigned<CryptoPP::word32>(seq, 0);
  group.GetModulus().DEREncode(seq);
  group.GetSubgroupOrder().DEREncode(seq);
  group.GetGenerator().DEREncode(seq);
  group.ExponentiateBase(x).DEREncode(seq);
  x.DEREncode(seq);
  seq.MessageEnd();
}

void decodeDsaPrivateKey(CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& in) {
  CryptoPP::Integer p, q, g, y, x;
  CryptoPP::BERSequenceDecoder seq(in);
  CryptoPP::word32 version = 1;
  CryptoPP::BERDecodeUnsigned<CryptoPP::word32>(seq, version, CryptoPP::INTEGER, 0, 0xFFFFFFFF);
  p.BERDecode(seq);
  q.BERDecode(seq);
  g.BERDecode(seq);
  y.BERDecode(seq);
  x.BERDecode(seq);
  seq.MessageEnd();
  // Exponentiation needs an odd modulus above 1; the size bounds keep the
  // check of y cheap; the rest keeps x and y honest.
  if (version != 0 || p <= CryptoPP::Integer::One() || p.IsEven() ||
      p.BitCount() > kMaxDsaModulusBits || q.IsZero() || q.BitCount() > kMaxDsaSubgroupBits ||
      g.IsZero() || x.IsZero() || x >= q || y.IsZero() || y >= p)
    throw Err(Err::kInvalidArgument, "invalid DSA private key");
  CryptoPP::DSA::PrivateKey read;
  read.Initialize(p, q, g, x);
  if (read.GetGroupParameters().ExponentiateBase(x) != y)
    throw Err(Err::kInvalidArgument, "invalid DSA private key");
  key.Initialize(p, q, g, x);
}

void writePrivateKeyBlob(const CryptoPP::DSA::PrivateKey& key, CryptoPP::BufferedTransformation& out) {
  putUInt32(out, 0);
  putStdString(out, "ssh-dss");
  key.DEREncode(out);
}

std::unique_ptr<CryptoPP::DSA::PrivateKey> readPrivateKeyBlob(CryptoPP::BufferedTransformation& in) {
  if (getUInt32(in) != 0) throw Err(Err::kInvalidArgument, "unsupported private key version");
  std::string algorithm;
  getStdString(in, algorithm);
  if (algorithm != "ssh-dss") throw Err(Err::kInvalidArgument, "unsupported private key algorithm");
  auto key = std::make_unique<CryptoPP::DSA::PrivateKey>();
  key->BERDecode(in);
  return key;
}

std::unique_ptr<CryptoPP::DSA::PrivateKey> generateDsaKey(CryptoPP::RandomNumberGenerator& rng,
                                                         unsigned keyBits) {
  auto key = std::make_unique<CryptoPP::DSA::PrivateKey>();
  generateDsaKey(rng, keyBits, *key);
  return key;
}

void generateDsaKey(CryptoPP::RandomNumberGenerator& rng, unsigned keyBits,
                    CryptoPP::DSA::PrivateKey& key) {
  key.GenerateRandomWithKeySize(rng, keyBits);
}

}  // namespace SSH
