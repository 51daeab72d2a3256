#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include "sshlib/Fingerprints.h"

#include <cryptopp/filters.h>
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include "sshlib/BubbleBabbleEncoder.h"

namespace SSH {

namespace {
constexpr char kDigits[] = "0123456789abcdef:";
}

std::string hexFingerprint(const CryptoPP::byte* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) text += kDigits[16];
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string md5Fingerprint(const std::string& keyBlob) {
  CryptoPP::Weak::MD5 md5;
  CryptoPP::byte digest[CryptoPP::Weak::MD5::DIGESTSIZE];
  md5.CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(keyBlob.data()),
                      keyBlob.size());
  return hexFingerprint(digest, sizeof digest);
}

std::string bubbleBabbleFingerprint(const std::string& keyBlob) {
  CryptoPP::byte digest[CryptoPP::SHA1::DIGESTSIZE];
  CryptoPP::SHA1().CalculateDigest(digest, reinterpret_cast<const CryptoPP::byte*>(keyBlob.data()),
                                   keyBlob.size());
  std::string text;
  CryptoPP::StringSource(digest, sizeof digest, true,
                         new CryptoPP::BubbleBabbleEncoder(new CryptoPP::StringSink(text)));
  return text;
}

}  // namespace SSH
