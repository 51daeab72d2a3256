#include "loam/netobjects/zuDynamicNetWriter.h"

#include <algorithm>

zuDynamicNetWriter::zuDynamicNetWriter(u32 initialGrowth)
    : initialGrowth_(initialGrowth == 0 ? kInitialGrowth : initialGrowth) {}

zuDynamicNetWriter::zuDynamicNetWriter(const zuDynamicNetWriter& other)
    : zuNetWriter(), initialGrowth_(other.initialGrowth_) {
  zuNetWriter::operator=(other);
}

zuDynamicNetWriter& zuDynamicNetWriter::operator=(const zuDynamicNetWriter& other) {
  zuNetWriter::operator=(other);
  return *this;
}

void zuDynamicNetWriter::resizeIfNeeded(u64 needed) {
  if (needed <= capacity_) return;
  if (needed > kMaxCapacity) overrun();
  u64 grown = capacity_ != 0 ? capacity_ : initialGrowth_;
  while (grown < needed) grown *= 2;
  grown = std::min<u64>(grown, kMaxCapacity);

  // Validity drops while the allocation may fail; an earlier failure stays.
  const bool wasValid = valid_;
  valid_ = false;
  const u32 used = size();
  storage_.grow(static_cast<u32>(grown));  // keeps the old block when it throws
  valid_ = wasValid;
  start_ = static_cast<u8*>(storage_.ptr());
  current_ = start_ + used;
  capacity_ = storage_.size();
}
