#include "loam/netobjects/zuNetBuffer.h"

zuNetBuffer::zuNetBuffer(u32 capacity) : storage_(std::size_t{capacity} + kFrameOverhead) {}

void zuNetBuffer::ensureCapacity(u32 n) {
  if (n > capacity()) storage_.resize(std::size_t{n} + kFrameOverhead);
}
