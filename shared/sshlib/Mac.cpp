#include "sshlib/Mac.h"

namespace SSH {

Mac::Mac(CryptoPP::BufferedTransformation* attachment)
    : CryptoPP::SimpleProxyFilter(nullptr, attachment) {
  SetFilter(new CryptoPP::MeterFilter);  // NullHash adds nothing to the data
}

}  // namespace SSH
