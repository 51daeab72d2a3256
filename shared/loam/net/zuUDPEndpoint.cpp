#include "loam/net/zuUDPEndpoint.h"

zuUDPEndpoint::zuUDPEndpoint(zuEvent* stopEvent, u32 timeout) : zuIPEndpoint(stopEvent, timeout) {
  kind_ = kKindDatagram;
}

std::unique_ptr<zuNetEndpoint> zuUDPEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuUDPEndpoint>(stopEvent, timeout);
}
