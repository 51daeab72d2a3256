#pragma once
// The per-direction packet cipher: a proxy filter whose inner filter can be
// replaced while the pipeline runs. It starts as "none" (pass-through).
#include <cryptopp/filters.h>

namespace SSH {

class Cipher : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Cipher(CryptoPP::BufferedTransformation* attachment = nullptr);

  // The block cipher's block size; 1 without one.
  unsigned blockSize() const noexcept { return blockSize_; }
  // The block size, but at least 8 (the padding rule of the packet layer).
  unsigned paddingBlockSize() const noexcept { return blockSize_ < 8 ? 8 : blockSize_; }

 protected:
  unsigned blockSize_ = 1;
};

}  // namespace SSH
