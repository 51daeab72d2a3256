#pragma once
// The connection manager and message dispatcher. So far it holds the two
// errors of its own; the dispatcher itself is added here.
#include <cryptopp/cryptlib.h>

namespace SSH {

class Manager {
 public:
  // Not SSH::Err: these report the host's own limits, not the peer's errors.
  class UnknownChannelType : public CryptoPP::Exception {
   public:
    UnknownChannelType() : CryptoPP::Exception(OTHER_ERROR, "unknown channel type") {}
    static constexpr unsigned kCategory = 5;
    unsigned category() const noexcept { return kCategory; }
  };

  class TooManyWaitObjects : public CryptoPP::Exception {
   public:
    TooManyWaitObjects() : CryptoPP::Exception(OTHER_ERROR, "too many wait objects") {}
    static constexpr unsigned kCategory = 5;
    unsigned category() const noexcept { return kCategory; }
  };
};

}  // namespace SSH
