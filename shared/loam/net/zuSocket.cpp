#include "loam/net/zuSocket.h"

#include <cstring>

#include "loam/net/zuNetEndpoint.h"
#include "loam/net/zuNetStatus.h"

namespace {

u16 lookup(const char* node, u32 flags, std::vector<zuPlatform::AddressInfo>& result) {
  zuPlatform::AddressHints hints;
  hints.flags = flags;
  hints.family = zuPlatform::kFamilyAny;
  hints.socketType = zuPlatform::kSocketStream;
  hints.protocol = zuPlatform::kProtocolTCP;
  if (!zuPlatform::getAddressInfo(node, nullptr, hints, result) || result.empty()) {
    result.clear();
    return zuErrHostLookup;
  }
  return 0;
}

}  // namespace

bool zuSocketStartup() { return zuPlatform::socketStartup(); }

bool zuSocketCleanup() { return zuPlatform::socketCleanup(); }

u16 zuResolveHost(const char* name, std::vector<zuPlatform::AddressInfo>& result) {
  result.clear();
  if (name == nullptr || *name == '\0') return zuErrFailed;
  return lookup(name, 0, result);
}

u16 zuResolveNumericHost(const zuIPAddress& address, std::vector<zuPlatform::AddressInfo>& result) {
  result.clear();
  if (!address.isValid()) return zuErrFailed;
  return lookup(address.toString().c_str(), zuPlatform::kAddressNumericHost, result);
}

bool zuSetNonBlocking(zuPlatform::Socket socket, bool nonBlocking) {
  return zuPlatform::setNonBlocking(socket, nonBlocking);
}

zuPlatform::AddressHints zuMakeAddressHints(u32 kind, const zuIPAddress& address,
                                            u32 familyFilter) {
  zuPlatform::AddressHints hints;
  hints.flags = zuPlatform::kAddressNumericHost;
  switch (kind) {
    case zuNetEndpoint::kKindRaw:
      hints.socketType = zuPlatform::kSocketRaw;
      hints.protocol = address.isIPv4() ? zuPlatform::kProtocolICMP : zuPlatform::kProtocolICMPv6;
      break;
    case zuNetEndpoint::kKindDatagram:
      hints.socketType = zuPlatform::kSocketDatagram;
      hints.protocol = zuPlatform::kProtocolUDP;
      break;
    default:
      hints.socketType = zuPlatform::kSocketStream;
      hints.protocol = zuPlatform::kProtocolTCP;
      break;
  }
  if (familyFilter != 0)
    hints.family = familyFilter;
  else if (address.isIPv4())
    hints.family = zuPlatform::kFamilyIPv4;
  else if (address.isValid())
    hints.family = zuPlatform::kFamilyIPv6;
  else
    hints.family = zuPlatform::kFamilyAny;
  return hints;
}

zuPlatform::SocketAddress zuToSocketAddress(const zuIPAddress& address, u16 port) {
  zuPlatform::SocketAddress out;
  out.port = port;
  if (address.isIPv4()) {
    out.family = zuPlatform::kFamilyIPv4;
    std::memcpy(out.address, address.bytes() + 12, 4);
  } else {
    out.family = zuPlatform::kFamilyIPv6;
    std::memcpy(out.address, address.bytes(), 16);
  }
  return out;
}

zuIPAddress zuFromSocketAddress(const zuPlatform::SocketAddress& address) {
  if (address.family == zuPlatform::kFamilyIPv4)
    return zuIPAddress(zuIPv4Address(address.address[0], address.address[1], address.address[2],
                                     address.address[3]));
  if (address.family == zuPlatform::kFamilyIPv6) return zuIPAddress(address.address);
  return zuIPAddress();
}
