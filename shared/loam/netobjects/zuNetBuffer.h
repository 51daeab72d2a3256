#pragma once
// A packet buffer: room for capacity payload bytes with the 5-byte frame head
// in front of them and the 1-byte trailer behind, so a frame goes to the
// endpoint in one write without copying.
//
// A buffer that a peer can make large (up to a packet's largest size) may be
// charged to the process's gathering budget for what it holds beyond the
// size that every connection has anyway; it is given back when the buffer
// shrinks or goes.
#include "loam/base/zuByteBlock.h"
#include "loam/platform/zuTypes.h"

class zuNetBuffer {
 public:
  static constexpr u32 kHeadSize = 5;
  static constexpr u32 kFrameOverhead = 6;

  explicit zuNetBuffer(u32 capacity);
  ~zuNetBuffer();
  zuNetBuffer(const zuNetBuffer&) = delete;
  zuNetBuffer& operator=(const zuNetBuffer&) = delete;

  // Where the payload starts, kHeadSize bytes into the storage.
  u8* payload() { return storage_.data() + kHeadSize; }
  const u8* payload() const { return storage_.data() + kHeadSize; }
  // The start of the storage (the frame head).
  u8* data() { return storage_.data(); }
  const u8* data() const { return storage_.data(); }
  u32 capacity() const { return static_cast<u32>(storage_.size() - kFrameOverhead); }
  // Grows the storage to n + 6 bytes, keeping its content, when n exceeds the
  // capacity. False, and nothing changed, when the budget refuses the growth.
  bool ensureCapacity(u32 n);
  // Back to a capacity of n, dropping the content, when it is larger.
  void shrinkTo(u32 n);
  // Charges the capacity beyond freeCapacity to the process's gathering
  // budget (as large bytes) from now on.
  void chargeAbove(u32 freeCapacity);

 private:
  u32 chargeFor(u32 capacity) const;

  zuByteBlock storage_;
  bool charged_ = false;
  u32 freeCapacity_ = 0;
};
