#pragma once
// The per-direction packet MAC: a proxy filter that starts as "none"
// (NullHash: no MAC bytes, every check passes).
#include <cryptopp/filters.h>

namespace SSH {

class Mac : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Mac(CryptoPP::BufferedTransformation* attachment = nullptr);

  // Bytes of MAC per packet; 0 for "none".
  unsigned macLength() const noexcept { return macLength_; }
  // Whether the MAC checked at the last end of message matched.
  virtual bool verified() const { return true; }

 protected:
  unsigned macLength_ = 0;
};

}  // namespace SSH
