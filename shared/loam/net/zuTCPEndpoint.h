#pragma once
// A stream (TCP) endpoint.
#include <memory>

#include "loam/net/zuIPEndpoint.h"

class zuTCPEndpoint : public zuIPEndpoint {
 public:
  zuTCPEndpoint(zuEvent* stopEvent, u32 timeout);
  std::unique_ptr<zuNetEndpoint> clone(zuEvent* stopEvent, u32 timeout) override;

  // Sends small writes at once instead of holding them for the peer's
  // acknowledgement (Nagle): interactive protocols need each keystroke and
  // each short packet out without delay. Set after connect; 515 when not
  // connected, 516 when the option fails.
  u16 setNoDelay(bool on);
  // The option as the socket has it; false when it cannot be read.
  bool noDelay() const;
};
