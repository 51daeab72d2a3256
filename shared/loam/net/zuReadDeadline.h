#pragma once
// One time budget for a read made of many receives from the transport (a
// line, a reply, a telnet receive), so that a peer that dribbles bytes cannot
// stretch it: each receive waits at most the time that is left.
//
// The clock never cuts off bytes the endpoint already holds; those are always
// delivered. Once the time is used up, one more receive is allowed that does
// not wait (so a budget of 0 is a poll, and bytes that are already on their
// way are not refused because the millisecond tick moved); after that the
// read ends with 258 as soon as it would have to receive again.
#include "loam/base/zuTimer.h"
#include "loam/platform/zuTypes.h"

class zuReadDeadline {
 public:
  // 0xFFFFFFFF: no limit.
  explicit zuReadDeadline(u32 budget) : budget_(budget) {}

  // Before a receive from the transport: true with the longest wait for it
  // (0: must not wait), or false when the budget allows no more receives.
  [[nodiscard]] bool nextReceive(u32& wait);

  u32 budget() const { return budget_; }

 private:
  const zuTimer timer_;
  const u32 budget_;
  bool polled_ = false;
};
