#pragma once
// A millisecond stopwatch on the 32-bit tick count, for time-outs and
// keep-alives. Its arithmetic survives the wrap of the tick count.
#include <string>

#include "loam/platform/zuTypes.h"

// The tick count in milliseconds, 0 to 0xFFFFFFFE (folded modulo 0xFFFFFFFF).
u32 zuGetTickCount();

class zuTimer {
 public:
  zuTimer() { start(); }
  zuTimer(const zuTimer&) = default;
  zuTimer& operator=(const zuTimer&) = default;
  virtual ~zuTimer() = default;

  // Stamps the tick count and takes the next sequence number.
  void start();
  // Both fields 0.
  void clear();

  u32 sequence() const { return sequence_; }
  u32 stamp() const { return stamp_; }

  // Milliseconds since the stamp.
  u32 elapsed() const;
  // Started before other, by sequence.
  bool isEarlier(const zuTimer& other) const { return sequence_ < other.sequence_; }

  // The span from a's stamp to b's when a was started first, at most
  // 0x7FFFFFFF; otherwise minus the span from b to a, -0x80000000 when that
  // span is 0x7FFFFFFF or more.
  static i32 difference(const zuTimer& a, const zuTimer& b);

  // Replaces out with the elapsed time as hours:minutes:seconds:milliseconds,
  // fields below 10 with a leading zero (01:02:03:04, 00:00:00:125).
  std::string& elapsedText(std::string& out) const;

  // Milliseconds from tick a to tick b; after a wrap the count runs one short
  // of 2^32, which the subtraction makes up for.
  static u32 span(u32 a, u32 b) { return a <= b ? b - a : b - a - 1; }

 private:
  u32 sequence_ = 0;
  u32 stamp_ = 0;
};
