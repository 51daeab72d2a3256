#include "loam/netobjects/zuNetResConnect.h"

#include "loam/threads/zuOSInfo.h"

namespace {

// Markers that stand before the system text and the version text.
constexpr u8 kSystemMarker = 8;
constexpr u8 kVersionMarker = 2;

}  // namespace

zuNetResConnect::zuNetResConnect(u16, const std::string& versionText, bool)
    : versionText_(versionText) {}

zuNetResConnect::~zuNetResConnect() = default;

bool zuNetResConnect::requiresAuthority() const { return false; }

u16 zuNetResConnect::processData(zuNetReader&, u32) {
  zuNetWriter& out = outgoing();
  out.reset();
  out.putUInt16(protocolValue_);
  out.putUInt8(firstFlag_);
  out.putUInt8(kSystemMarker);
  out.putString(zuGetOSDescription());
  out.putUInt8(kVersionMarker);
  out.putString(versionText_);
  out.putUInt8(lastFlag_);
  return 0;
}
