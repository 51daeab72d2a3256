// The key file readers over arbitrary bytes: PEM private keys (plain and
// encrypted; byte 0 picks a pass phrase), the RSA and DSA key bodies, and
// the public key forms. Each may only throw the dependency's exceptions.
#include <cryptopp/queue.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "sshlib/DsaKeys.h"
#include "sshlib/KeyFiles.h"
#include "sshlib/PemPrivateKey.h"
#include "sshlib/PublicKeyFiles.h"

namespace {

CryptoPP::ByteQueue queueOf(const std::uint8_t* data, std::size_t size) {
  CryptoPP::ByteQueue q;
  q.Put(data, size);
  return q;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string pass = (data[0] & 1) ? "secret" : "";
  const std::uint8_t* text = data + 1;
  const std::size_t length = size - 1;
  {
    auto in = queueOf(text, length);
    SSH::isEncryptedPemKey(in);
    try {
      SSH::loadPrivateKey(in, reinterpret_cast<const CryptoPP::byte*>(pass.data()), pass.size());
    } catch (const CryptoPP::Exception&) {
    }
  }
  {
    auto in = queueOf(text, length);
    try {
      SSH::readPublicKey(in);
    } catch (const CryptoPP::Exception&) {
    }
  }
  {
    // The DER bodies and the private key blob directly, without PEM around them.
    auto rsa = queueOf(text, length);
    auto dsa = queueOf(text, length);
    auto blob = queueOf(text, length);
    try {
      SSH::RSAPrivateKey key;
      key.BERDecode(rsa);
    } catch (const CryptoPP::Exception&) {
    }
    try {
      CryptoPP::DSA::PrivateKey key;
      SSH::decodeDsaPrivateKey(key, dsa);
    } catch (const CryptoPP::Exception&) {
    }
    try {
      SSH::readPrivateKeyBlob(blob);
    } catch (const CryptoPP::Exception&) {
    }
  }
  return 0;
}
