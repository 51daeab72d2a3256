#include "loam/terminal/zuEndpointSource.h"

#include <algorithm>

#include "loam/base/zuException.h"
#include "loam/net/zuNetEndpoint.h"
#include "loam/net/zuReadDeadline.h"

namespace {

constexpr const char* kReadError = "error reading endpoint.";

}  // namespace

zuNetEndpoint& zuEndpointSource::requireEndpoint() const {
  if (endpoint_ == nullptr) throw zuException(zuErrFailed, "no endpoint defined.");
  return *endpoint_;
}

u32 zuEndpointSource::Pump2(u32 maxBytes, u32 maxTime, bool checkDelimiter,
                            CryptoPP::byte delimiter) {
  zuNetEndpoint& endpoint = requireEndpoint();
  endpoint.setTimeout(maxTime);
  if (maxBytes == 0) return 0;
  // The time bounds the pump, not each byte: a peer that dribbles cannot
  // stretch it.
  zuReadDeadline deadline(maxTime);
  u32 count = 0;
  for (;;) {
    CryptoPP::byte byte = 0;
    const u16 status = endpoint.readByte(byte, deadline);
    if (status == zuErrTimeout) return count;
    if (status != 0) throw zuException(status, kReadError);
    ++count;
    if (checkDelimiter && byte == delimiter) return count;
    AttachedTransformation()->Put(byte);
    if (count == maxBytes) return count;
  }
}

u32 zuEndpointSource::pumpAll(u32 ms) {
  zuNetEndpoint& endpoint = requireEndpoint();
  endpoint.setTimeout(ms);
  CryptoPP::byte piece[kReadPiece];
  u32 total = 0;
  while (total < kPumpAllLimit) {
    u32 got = std::min(kReadPiece, kPumpAllLimit - total);
    const u16 status = endpoint.readSome(piece, &got);
    // Only the first read waits; the rest take what is already there.
    endpoint.setTimeout(0);
    if (status == zuErrTimeout) return total;
    if (status != 0) throw zuException(status, kReadError);
    total += got;
    if (got != 0) AttachedTransformation()->Put(piece, got);
  }
  return total;
}

size_t zuEndpointSource::Pump2(CryptoPP::lword& byteCount, bool blocking) {
  zuNetEndpoint& endpoint = requireEndpoint();
  const u32 saved = endpoint.timeout();
  const u32 wanted = static_cast<u32>(std::min<CryptoPP::lword>(byteCount, 0xFFFFFFFF));
  const u32 taken = Pump2(wanted, blocking ? saved : 0, false, 0);
  endpoint.setTimeout(saved);
  byteCount = taken;
  return 0;
}

bool zuEndpointSource::SourceExhausted() const {
  return endpoint_ == nullptr || !endpoint_->isOpen();
}
