#include "loam/net/zuSessionCipher.h"

#include <algorithm>
#include <cstring>

zuSessionCipher::zuSessionCipher(std::span<const u8, kKeyBlockSize> keyBlock)
    : zuSessionCipher(keyBlock.subspan<kKeyOffset, kKeySize>(),
                      keyBlock.subspan<kVectorOffset, kVectorSize>()) {}

zuSessionCipher::zuSessionCipher(std::span<const u8, kKeySize> key,
                                 std::span<const u8, kVectorSize> vector)
    : aes_(key.data(), kKeySize),
      encryptor_(aes_, vector.data()) {
  std::memcpy(incoming_.data(), vector.data(), kBlock);
}

void zuSessionCipher::encrypt(const u8* in, u8* out, size_t n) {
  if (n != 0) encryptor_.ProcessData(out, in, n);
}

// Each keystream block of CFB decryption is the block cipher over the
// previous ciphertext block, which the receiver already has: whole blocks go
// through the cipher's parallel path instead of one after another (only
// encryption has to wait for each block).
void zuSessionCipher::decrypt(u8* data, size_t n) {
  size_t at = 0;
  while (used_ != 0 && at < n) decryptByte(data[at++]);
  while (n - at >= kBlock) {
    const size_t length = std::min((n - at) / kBlock * kBlock, kBatch);
    std::memcpy(incoming_.data() + kBlock, data + at, length);
    aes_.AdvancedProcessBlocks(incoming_.data(), incoming_.data() + kBlock, data + at, length, 0);
    std::memcpy(incoming_.data(), incoming_.data() + length, kBlock);
    at += length;
  }
  if (at == n) return;
  aes_.ProcessBlock(incoming_.data(), keystream_.data());
  while (at < n) decryptByte(data[at++]);
}

void zuSessionCipher::decryptByte(u8& byte) {
  partial_[used_] = byte;
  byte ^= keystream_[used_];
  if (++used_ == kBlock) {
    used_ = 0;
    std::memcpy(incoming_.data(), partial_.data(), kBlock);
  }
}
