#include "sshlib/Cipher.h"

#include "sshlib/deriveKey.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/arc4.h>
#include <cryptopp/blowfish.h>
#include <cryptopp/cast.h>
#include <cryptopp/des.h>
#include <cryptopp/modes.h>
#include <cryptopp/twofish.h>

#include <array>

namespace SSH {
namespace {

using CryptoPP::byte;
using CipherPtr = std::unique_ptr<CryptoPP::SymmetricCipher>;

template <class Block>
CipherPtr makeCbc(const byte* key, size_t keyLength, const byte* iv, bool decrypt) {
  if (decrypt) {
    return std::make_unique<typename CryptoPP::CBC_Mode<Block>::Decryption>(key, keyLength, iv);
  }
  return std::make_unique<typename CryptoPP::CBC_Mode<Block>::Encryption>(key, keyLength, iv);
}

CipherPtr makeArc4(const byte* key, size_t keyLength, const byte*, bool) {
  return std::make_unique<CryptoPP::Weak::ARC4>(key, keyLength);
}

struct CipherType {
  const char* name;
  size_t keyLength;
  size_t ivLength;
  unsigned blockSize;
  CipherPtr (*make)(const byte* key, size_t keyLength, const byte* iv, bool decrypt);
};

// In the order the names are looked up.
constexpr std::array<CipherType, 7> kCiphers{{
    {"none", 0, 0, 1, nullptr},
    {"aes256-cbc", 32, 16, 16, &makeCbc<CryptoPP::AES>},
    {"blowfish-cbc", 16, 8, 8, &makeCbc<CryptoPP::Blowfish>},
    {"3des-cbc", 24, 8, 8, &makeCbc<CryptoPP::DES_EDE3>},
    {"twofish-cbc", 32, 16, 16, &makeCbc<CryptoPP::Twofish>},
    {"arcfour", 16, 0, 1, &makeArc4},
    {"cast128-cbc", 16, 8, 8, &makeCbc<CryptoPP::CAST128>},
}};

const CipherType& findCipher(const std::string& name) {
  for (const CipherType& type : kCiphers) {
    if (name == type.name) return type;
  }
  throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR,
                            "SSH::Cipher: unsupported cipher type");
}

}  // namespace

Cipher::Cipher(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(new CryptoPP::MeterFilter, attachment) {}

Cipher::~Cipher() = default;

bool Cipher::isSupported(const std::string& name) {
  for (const CipherType& type : kCiphers) {
    if (name == type.name) return true;
  }
  return false;
}

size_t Cipher::keyLength(const std::string& name) { return findCipher(name).keyLength; }

size_t Cipher::ivLength(const std::string& name) { return findCipher(name).ivLength; }

void Cipher::create(const std::string& name, const CryptoPP::Integer& K,
                    const CryptoPP::SecByteBlock& H, const CryptoPP::SecByteBlock& sessionId,
                    unsigned direction, bool decrypt) {
  const CipherType& type = findCipher(name);
  const bool clientToServer = direction == 0;
  const CryptoPP::SecByteBlock key =
      deriveKey(K, H, clientToServer ? 'C' : 'D', sessionId, type.keyLength);
  const CryptoPP::SecByteBlock iv =
      deriveKey(K, H, clientToServer ? 'A' : 'B', sessionId, type.ivLength);
  createKeyed(name, key, iv, decrypt);
}

void Cipher::createKeyed(const std::string& name, const byte* key, const byte* iv,
                         bool decrypt) {
  const CipherType& type = findCipher(name);
  // Build the replacement completely before the old objects go, so a failure
  // leaves the filter in use untouched.
  CipherPtr cipher = type.make ? type.make(key, type.keyLength, iv, decrypt) : nullptr;
  std::unique_ptr<CryptoPP::Filter> inner;
  if (cipher) {
    inner = std::make_unique<CryptoPP::StreamTransformationFilter>(
        *cipher, nullptr, CryptoPP::BlockPaddingSchemeDef::NO_PADDING);
  } else {
    inner = std::make_unique<CryptoPP::MeterFilter>();
  }
  // The old inner filter refers to the old cipher: it goes first.
  SetFilter(inner.release());
  cipher_ = std::move(cipher);
  blockSize_ = type.blockSize;
}

}  // namespace SSH
