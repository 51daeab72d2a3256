#pragma once
// A datagram (UDP) endpoint. Datagrams go to the destination set by connect
// or setPeerAddress; the sender of the last datagram received becomes the
// peer address and port.
#include <memory>

#include "loam/net/zuIPEndpoint.h"

class zuUDPEndpoint : public zuIPEndpoint {
 public:
  zuUDPEndpoint(zuEvent* stopEvent, u32 timeout);
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;
};
