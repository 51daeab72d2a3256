// The packet layer's receive side over a scripted endpoint: arbitrary bytes
// in arbitrary pieces, with the statuses that keep the progress in between.
// The input is a list of records, each led by a control byte c:
//   c < 0x80:        a piece of c + 1 bytes (what follows, as far as it goes)
//   0x80, 0x81, 0x82: the endpoint reports 258, 257 or 513
//   0x83:            a read that delivers nothing
//   c >= 0x84:       a piece of (c - 0x83) * 256 bytes
// The script ends with 514 (the peer went away).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "loam/net/zuScriptedEndpoint.h"
#include "loam/netobjects/zuNetPacketLayer.h"

namespace {

constexpr u32 kForever = 0xFFFFFFFF;

bool quiet(u16 status) {
  return status == zuErrTimeout || status == zuErrStopped || status == zuErrNoData;
}

// A delivered payload survives a trip through a compressing sender.
void roundTrip(const u8* payload, u32 length) {
  auto out = std::make_unique<zuScriptedEndpoint>();
  zuScriptedEndpoint* wire = out.get();
  zuNetPacketLayer sender(std::move(out), true);
  zuNetBuffer buffer(length);
  if (length != 0) std::memcpy(buffer.payload(), payload, length);
  if (sender.send(buffer, length) != 0) std::abort();

  auto in = std::make_unique<zuScriptedEndpoint>();
  in->addBytes(wire->sent());
  zuNetPacketLayer receiver(std::move(in), true);
  zuNetBuffer back(16);
  u32 got = 0;
  if (receiver.receive(back, got, kForever) != 0 || got != length) std::abort();
  if (length != 0 && std::memcmp(back.payload(), payload, length) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto owned = std::make_unique<zuScriptedEndpoint>();
  zuScriptedEndpoint* endpoint = owned.get();
  std::size_t at = 0;
  while (at < size) {
    const u8 c = data[at++];
    if (c >= 0x80 && c <= 0x83) {
      const u16 statuses[] = {zuErrTimeout, zuErrStopped, zuErrNoData};
      if (c == 0x83)
        endpoint->addBytes({});
      else
        endpoint->addStatus(statuses[c - 0x80]);
      continue;
    }
    const std::size_t want = c < 0x80 ? std::size_t{c} + 1 : std::size_t{c - 0x83u} * 256;
    const std::size_t n = want < size - at ? want : size - at;
    if (n == 0) break;
    endpoint->addBytes(std::string_view(reinterpret_cast<const char*>(data) + at, n));
    at += n;
  }

  // Compression agreed: compressed frames are inflated, not refused.
  zuNetPacketLayer layer(std::move(owned), true);
  zuNetBuffer buffer(64);
  for (;;) {
    u32 length = 0xDEADBEEF;
    const u16 status = layer.receive(buffer, length, kForever);
    if (status == 0) {
      if (length > zuNetPacketLayer::kMaxPayload || length > buffer.capacity()) std::abort();
      if (layer.receiveState() != zuNetPacketLayer::kStateStart) std::abort();
      if (length <= 65536) roundTrip(buffer.payload(), length);
      continue;
    }
    if (quiet(status)) {
      if (layer.receiveState() == zuNetPacketLayer::kStateBroken) std::abort();
      continue;
    }
    // Anything else breaks the layer for good.
    if (layer.receiveState() != zuNetPacketLayer::kStateBroken) std::abort();
    if (layer.receive(buffer, length, kForever) != zuErrNetwork) std::abort();
    break;
  }
  return 0;
}
