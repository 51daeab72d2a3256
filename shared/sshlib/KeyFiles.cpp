#include "sshlib/KeyFiles.h"

#include <cryptopp/queue.h>

#include "loam/platform/zuPlatformFile.h"
#include "sshlib/DsaKeys.h"
#include "sshlib/Encoding.h"
#include "sshlib/Err.h"
#include "sshlib/KeyBlobs.h"
#include "sshlib/PemPrivateKey.h"
#include "sshlib/PublicKeyFiles.h"

namespace SSH {

namespace {

CryptoPP::SecByteBlock takeSecret(CryptoPP::BufferedTransformation& q) {
  CryptoPP::SecByteBlock bytes(static_cast<size_t>(q.MaxRetrievable()));
  q.Get(bytes.data(), bytes.size());
  return bytes;
}

}  // namespace

std::string LoadedPrivateKey::publicKeyBlob() const {
  CryptoPP::ByteQueue blob;
  if (rsa) encodeRsaPublicKeyBlob(*rsa, blob);
  else if (dsa) encodeDsaPublicKeyBlob(*dsa, blob);
  return takeAllBytes(blob);
}

void exportKey(const std::string& algorithmId, CryptoPP::RandomNumberGenerator& rng,
               unsigned keyBits, const std::string& comment,
               CryptoPP::BufferedTransformation& ssh2PublicKeyFile,
               CryptoPP::BufferedTransformation& publicKeyLine, const CryptoPP::byte* passPhrase,
               size_t passLength, CryptoPP::BufferedTransformation& pemPrivateKey) {
  const bool isRsa = algorithmId == "ssh-rsa";
  if (!isRsa && algorithmId != "ssh-dss") throw Err(Err::kInvalidArgument, "unrecognized algorithm id");
  if (isRsa ? (keyBits < kMinRsaKeyBits || keyBits > kMaxRsaModulusBits) : keyBits != kDsaKeyBits)
    throw Err(Err::kInvalidArgument, "invalid key size");

  CryptoPP::ByteQueue der, blob;
  if (isRsa) {
    const auto key = generateRsaKey(rng, keyBits, 17);
    key->DEREncode(der);
    encodeRsaPublicKeyBlob(*key, blob);
  } else {
    const auto key = generateDsaKey(rng, keyBits);
    if (key->GetGroupParameters().GetSubgroupOrder().BitCount() != 160)
      throw Err(Err::kInvalidArgument, "invalid key size");
    encodeDsaPrivateKey(*key, der);
    encodeDsaPublicKeyBlob(*key, blob);
  }
  writePemPrivateKey(pemPrivateKey, isRsa ? "RSA" : "DSA", rng, passPhrase, passLength,
                     takeSecret(der));
  const std::string publicBlob = takeAllBytes(blob);
  writeSsh2PublicKeyFile(ssh2PublicKeyFile, comment, publicBlob);
  writePublicKeyLine(publicKeyLine, algorithmId, comment, publicBlob);
}

LoadedPrivateKey loadPrivateKey(CryptoPP::BufferedTransformation& in,
                                const CryptoPP::byte* passPhrase, size_t passLength) {
  CryptoPP::SecByteBlock der;
  const std::string type = readPemPrivateKey(in, passPhrase, passLength, der);
  CryptoPP::ByteQueue body;
  body.Put(der.data(), der.size());
  LoadedPrivateKey key;
  if (type == "RSA") {
    key.algorithm = "ssh-rsa";
    key.rsa = std::make_unique<RSAPrivateKey>();
    key.rsa->BERDecode(body);
  } else if (type == "DSA") {
    key.algorithm = "ssh-dss";
    key.dsa = std::make_unique<CryptoPP::DSA::PrivateKey>();
    decodeDsaPrivateKey(*key.dsa, body);
  } else {
    throw Err(Err::kInvalidArgument, "unrecognized private key algorithm");
  }
  return key;
}

void writeKeyFile(const std::string& path, const std::string& bytes, bool secret) {
  const u32 result = secret ? zuPlatform::writeSecretFileAtomically(path, bytes)
                            : zuPlatform::writeFileAtomically(path, bytes);
  if (result != zuPlatform::kFileErrorNone)
    throw Err(Err::kInvalidArgument, "cannot write key file \"" + path + "\"");
}

}  // namespace SSH
