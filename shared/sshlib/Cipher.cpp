#include "sshlib/Cipher.h"

namespace SSH {

Cipher::Cipher(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(nullptr, attachment) {
  SetFilter(new CryptoPP::MeterFilter);  // a transparent pass-through
}

}  // namespace SSH
