#include "loam/terminal/zuEndpointSink.h"

#include <algorithm>

#include "loam/base/zuException.h"
#include "loam/net/zuNetEndpoint.h"

namespace {

void check(u16 status) {
  if (status != 0) throw zuException(status, "error while writing to endpoint.");
}

}  // namespace

void zuEndpointSink::send(const CryptoPP::byte* bytes, size_t length) {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "no endpoint defined.");
  const u32 saved = endpoint_->timeout();
  endpoint_->setTimeout(writeTimeout_);
  u16 status = 0;
  while (status == 0 && length != 0) {
    const u32 piece = static_cast<u32>(std::min<size_t>(length, 0x40000000));
    status = endpoint_->write(bytes, piece);
    bytes += piece;
    length -= piece;
  }
  if (status == 0) status = endpoint_->flush();
  endpoint_->setTimeout(saved);
  check(status);
}

size_t zuEndpointSink::Put2(const CryptoPP::byte* bytes, size_t length, int, bool) {
  send(bytes, length);
  return 0;
}

bool zuEndpointSink::IsolatedFlush(bool, bool) {
  send(nullptr, 0);
  return false;
}
