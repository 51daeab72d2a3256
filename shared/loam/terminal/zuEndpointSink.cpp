#include "loam/terminal/zuEndpointSink.h"

#include <algorithm>

#include "loam/base/zuException.h"
#include "loam/net/zuNetEndpoint.h"

namespace {

void check(u16 status) {
  if (status != 0) throw zuException(status, "error while writing to endpoint.");
}

}  // namespace

size_t zuEndpointSink::Put2(const CryptoPP::byte* bytes, size_t length, int, bool) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "no endpoint defined.");
  while (length != 0) {
    const u32 piece = static_cast<u32>(std::min<size_t>(length, 0x40000000));
    check(endpoint_->write(bytes, piece));
    bytes += piece;
    length -= piece;
  }
  check(endpoint_->flush());
  return 0;
}

bool zuEndpointSink::IsolatedFlush(bool, bool) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "no endpoint defined.");
  check(endpoint_->flush());
  return false;
}
