#include "loam/net/zuTCPEndpoint.h"

zuTCPEndpoint::zuTCPEndpoint(zuEvent* stopEvent, u32 timeout) : zuIPEndpoint(stopEvent, timeout) {
  kind_ = kKindStream;
}

std::unique_ptr<zuNetEndpoint> zuTCPEndpoint::clone(zuEvent* stopEvent, u32 timeout) {
  return std::make_unique<zuTCPEndpoint>(stopEvent, timeout);
}
