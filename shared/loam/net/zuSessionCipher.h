#pragma once
// The secure endpoint's session cipher: AES-128 in CFB mode with full-block
// (16-byte) feedback, one continuous stream per direction, so bytes may be fed
// in any split and still match the peer.
//
// Both directions start from the same key and vector, and CFB carries no
// integrity check; peers rely on the wire as it is.
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <array>
#include <cstddef>
#include <span>

#include "loam/platform/zuTypes.h"

class zuSessionCipher {
 public:
  // Layout of the 64-byte key block the client wraps for the server; bytes
  // 16..31 and 48..63 are filler that nothing uses.
  static constexpr size_t kKeyBlockSize = 64;
  static constexpr size_t kVectorOffset = 0;
  static constexpr size_t kKeyOffset = 32;
  static constexpr size_t kKeySize = 16;
  static constexpr size_t kVectorSize = 16;
  static_assert(kKeyOffset + kKeySize <= kKeyBlockSize &&
                kVectorOffset + kVectorSize <= kKeyBlockSize);

  // Key from bytes 32..47 of the block, vector from bytes 0..15.
  explicit zuSessionCipher(std::span<const u8, kKeyBlockSize> keyBlock);
  zuSessionCipher(std::span<const u8, kKeySize> key, std::span<const u8, kVectorSize> vector);
  zuSessionCipher(const zuSessionCipher&) = delete;
  zuSessionCipher& operator=(const zuSessionCipher&) = delete;
  ~zuSessionCipher() = default;

  // Next n bytes of the outgoing stream; in and out may be the same buffer.
  void encrypt(const u8* in, u8* out, size_t n);
  // Next n bytes of the incoming stream, in place.
  void decrypt(u8* data, size_t n);

 private:
  static constexpr size_t kBlock = 16;
  static constexpr size_t kBatch = 4096;  // whole blocks decrypted at once

  void decryptByte(u8& byte);

  CryptoPP::AES::Encryption aes_;  // CFB runs the block cipher forwards both ways
  CryptoPP::CFB_Mode_ExternalCipher::Encryption encryptor_;
  // Incoming stream: the previous ciphertext block, then room for a batch of
  // ciphertext; the keystream and ciphertext of a block begun but not ended.
  std::array<u8, kBlock + kBatch> incoming_{};
  std::array<u8, kBlock> keystream_{};
  std::array<u8, kBlock> partial_{};
  size_t used_ = 0;  // bytes of the begun block
};
