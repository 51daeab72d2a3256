#include "loam/net/zuTCPEndpoint.h"

#include "loam/net/zuNetStatus.h"
#include "loam/platform/zuPlatformSocket.h"

zuTCPEndpoint::zuTCPEndpoint(zuEvent* stopEvent, u32 timeout) : zuIPEndpoint(stopEvent, timeout) {
  kind_ = kKindStream;
}

std::unique_ptr<zuNetEndpoint> zuTCPEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuTCPEndpoint>(stopEvent, timeout);
}

u16 zuTCPEndpoint::setNoDelay(bool on) {
  if (!isOpen()) return zuErrFailed;
  if (!zuPlatform::setSocketOption(connectedSocket(), zuPlatform::kLevelTCP,
                                   zuPlatform::kOptionNoDelay, on ? 1 : 0)) {
    noteError();
    return zuErrNetwork;
  }
  return 0;
}

bool zuTCPEndpoint::noDelay() const {
  i32 value = 0;
  if (!isOpen()) return false;
  return zuPlatform::getSocketOption(connectedSocket(), zuPlatform::kLevelTCP,
                                     zuPlatform::kOptionNoDelay, value) &&
         value != 0;
}
