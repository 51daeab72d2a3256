#pragma once
// A stream (TCP) endpoint.
#include <memory>

#include "loam/net/zuIPEndpoint.h"

class zuTCPEndpoint : public zuIPEndpoint {
 public:
  zuTCPEndpoint(zuEvent* stopEvent, u32 timeout);
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;
};
