#pragma once
// A packet buffer: room for capacity payload bytes with the 5-byte frame head
// in front of them and the 1-byte trailer behind, so a frame goes to the
// endpoint in one write without copying.
#include <vector>

#include "loam/platform/zuTypes.h"

class zuNetBuffer {
 public:
  static constexpr u32 kHeadSize = 5;
  static constexpr u32 kFrameOverhead = 6;

  explicit zuNetBuffer(u32 capacity);

  // Where the payload starts, kHeadSize bytes into the storage.
  u8* payload() { return storage_.data() + kHeadSize; }
  const u8* payload() const { return storage_.data() + kHeadSize; }
  // The start of the storage (the frame head).
  u8* data() { return storage_.data(); }
  const u8* data() const { return storage_.data(); }
  u32 capacity() const { return static_cast<u32>(storage_.size() - kFrameOverhead); }
  // Grows the storage to n + 6 bytes, keeping its content, when n exceeds the
  // capacity.
  void ensureCapacity(u32 n);

 private:
  std::vector<u8> storage_;
};
