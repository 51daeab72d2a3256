#pragma once
// Gives an endpoint another stop event for one step and puts back the one it
// keeps afterwards, however the step ends. A null endpoint is left alone.
#include "loam/net/zuNetEndpoint.h"

class zuEvent;

class zuStopEventSwap {
 public:
  zuStopEventSwap(zuNetEndpoint* endpoint, zuEvent* during, zuEvent* after)
      : endpoint_(endpoint), after_(after) {
    if (endpoint_) endpoint_->setStopEvent(during);
  }
  zuStopEventSwap(const zuStopEventSwap&) = delete;
  zuStopEventSwap& operator=(const zuStopEventSwap&) = delete;
  ~zuStopEventSwap() {
    if (endpoint_) endpoint_->setStopEvent(after_);
  }

 private:
  zuNetEndpoint* endpoint_;
  zuEvent* after_;
};
