#include "sshlib/Compressor.h"

namespace SSH {

Compressor::Compressor(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(nullptr, attachment) {
  SetFilter(new CryptoPP::MeterFilter);
}

}  // namespace SSH
