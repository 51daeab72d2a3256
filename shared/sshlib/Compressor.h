#pragma once
// The per-direction payload compressor: a proxy filter that starts as "none"
// (pass-through).
#include <cryptopp/filters.h>

namespace SSH {

class Compressor : public CryptoPP::SimpleProxyFilter {
 public:
  explicit Compressor(CryptoPP::BufferedTransformation* attachment = nullptr);

  // Negative: deflate level 4.
  int level() const noexcept { return level_; }

 protected:
  int level_ = -1;
};

}  // namespace SSH
