#include "loam/net/zuCryptor.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/modes.h>
#include <cryptopp/secblock.h>

#include <algorithm>
#include <array>

#include "loam/base/zuString.h"
#include "loam/platform/zuTypes.h"

namespace {

constexpr size_t kKeyLength = 32;

// The key is the XOR of these two tables and the pass text, so it never
// appears whole in the program image.
constexpr std::array<u8, kKeyLength> kKeyTableA = {
    0x44, 0xc8, 0x41, 0xc5, 0x02, 0xf0, 0x82, 0xda, 0x54, 0x8c, 0xec, 0x81, 0x10, 0x94, 0xb3, 0xad,
    0xd1, 0x08, 0xd5, 0x3e, 0x03, 0x0a, 0xdd, 0xf5, 0x52, 0xab, 0xb0, 0x2c, 0x64, 0x30, 0xae, 0x45};
constexpr std::array<u8, kKeyLength> kKeyTableB = {
    0x68, 0xe5, 0xdd, 0x55, 0x82, 0x08, 0xd9, 0x6a, 0x0f, 0x48, 0x0a, 0x00, 0x7b, 0x9d, 0x64, 0x1a,
    0xaa, 0x80, 0xe0, 0x56, 0xa7, 0xce, 0x72, 0x74, 0xf2, 0x5d, 0xfa, 0xd5, 0x5a, 0x96, 0xd6, 0x96};
constexpr std::array<u8, CryptoPP::AES::BLOCKSIZE> kVector = {
    0xd2, 0x3a, 0x44, 0x64, 0x7c, 0xb1, 0xaa, 0x66, 0x06, 0xe8, 0x49, 0x65, 0x6d, 0x79, 0xec, 0x15};

constexpr size_t kMinimumLength = 9;
constexpr size_t kLengthStep = 3;

}  // namespace

zuCryptor::zuCryptor(const std::string& pass) {
  CryptoPP::SecByteBlock key(kKeyLength);
  for (size_t i = 0; i < kKeyLength; ++i) {
    u8 b = static_cast<u8>(kKeyTableA[i] ^ kKeyTableB[i]);
    if (i < pass.size()) b = static_cast<u8>(b ^ static_cast<u8>(pass[i]));
    key[i] = b;
  }
  aes_ = std::make_unique<CryptoPP::AES::Encryption>(key, key.size());
}

zuCryptor::~zuCryptor() = default;

void zuCryptor::encrypt(const std::string& plain, std::string& out) const {
  const size_t length = plain.size() < kMinimumLength
                            ? kMinimumLength
                            : (plain.size() + kLengthStep - 1) / kLengthStep * kLengthStep;
  CryptoPP::SecByteBlock buffer(length);
  std::fill(buffer.begin(), buffer.end(), u8{0});
  std::copy(plain.begin(), plain.end(), buffer.begin());
  CryptoPP::CFB_Mode_ExternalCipher::Encryption cfb(*aes_, kVector.data());
  cfb.ProcessData(buffer, buffer, buffer.size());
  out.clear();
  CryptoPP::ArraySource(buffer, buffer.size(), true,
                        new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), true));
}

void zuCryptor::decrypt(const std::string& hex, std::string& out) const {
  out.clear();
  if (hex.empty() || !std::all_of(hex.begin(), hex.end(), zuIsHexDigit)) return;
  // An odd last digit is a byte with only its high nibble.
  std::string bytes;
  CryptoPP::StringSource(hex.size() % 2 ? hex + "0" : hex, true,
                         new CryptoPP::HexDecoder(new CryptoPP::StringSink(bytes)));
  CryptoPP::CFB_Mode_ExternalCipher::Decryption cfb(*aes_, kVector.data());
  cfb.ProcessData(reinterpret_cast<u8*>(bytes.data()), reinterpret_cast<const u8*>(bytes.data()),
                  bytes.size());
  out.assign(bytes.c_str());
}
