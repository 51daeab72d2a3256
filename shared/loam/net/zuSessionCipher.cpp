#include "loam/net/zuSessionCipher.h"

zuSessionCipher::zuSessionCipher(std::span<const u8, kKeyBlockSize> keyBlock)
    : zuSessionCipher(keyBlock.subspan<kKeyOffset, kKeySize>(),
                      keyBlock.subspan<kVectorOffset, kVectorSize>()) {}

zuSessionCipher::zuSessionCipher(std::span<const u8, kKeySize> key,
                                 std::span<const u8, kVectorSize> vector)
    : aes_(key.data(), kKeySize),
      encryptor_(aes_, vector.data()),
      decryptor_(aes_, vector.data()) {}

void zuSessionCipher::encrypt(const u8* in, u8* out, size_t n) {
  if (n != 0) encryptor_.ProcessData(out, in, n);
}

void zuSessionCipher::decrypt(u8* data, size_t n) {
  if (n != 0) decryptor_.ProcessData(data, data, n);
}
