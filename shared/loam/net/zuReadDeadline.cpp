#include "loam/net/zuReadDeadline.h"

#include "loam/net/zuNetEndpoint.h"

bool zuReadDeadline::nextReceive(u32& wait) {
  if (budget_ == zuNetEndpoint::kNoTimeout) {
    wait = budget_;
    return true;
  }
  const u32 elapsed = timer_.elapsed();
  if (elapsed < budget_) {
    wait = budget_ - elapsed;
    return true;
  }
  if (polled_) return false;
  polled_ = true;
  wait = 0;
  return true;
}
