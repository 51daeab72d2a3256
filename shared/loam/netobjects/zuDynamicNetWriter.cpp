#include "loam/netobjects/zuDynamicNetWriter.h"

#include <algorithm>
#include <cstring>

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
  auto fresh = std::make_unique_for_overwrite<u8[]>(static_cast<std::size_t>(grown));
  valid_ = wasValid;
  const u32 used = size();
  if (used != 0) std::memcpy(fresh.get(), start_, used);
  storage_ = std::move(fresh);
  start_ = storage_.get();
  current_ = start_ + used;
  capacity_ = static_cast<u32>(grown);
}
