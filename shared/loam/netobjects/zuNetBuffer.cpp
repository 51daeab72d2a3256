#include "loam/netobjects/zuNetBuffer.h"

#include "loam/netobjects/zuGatherBudget.h"

zuNetBuffer::zuNetBuffer(u32 capacity) : storage_(std::size_t{capacity} + kFrameOverhead) {}

zuNetBuffer::~zuNetBuffer() { zuGatherBudget::giveProcess(chargeFor(capacity())); }

u32 zuNetBuffer::chargeFor(u32 capacity) const {
  return charged_ && capacity > freeCapacity_ ? capacity - freeCapacity_ : 0;
}

bool zuNetBuffer::ensureCapacity(u32 n) {
  if (n <= capacity()) return true;
  const u32 more = chargeFor(n) - chargeFor(capacity());
  if (!zuGatherBudget::takeProcess(more, true)) return false;
  try {
    storage_.resize(std::size_t{n} + kFrameOverhead);
  } catch (...) {
    zuGatherBudget::giveProcess(more);
    throw;
  }
  return true;
}

void zuNetBuffer::shrinkTo(u32 n) {
  if (capacity() <= n) return;
  const u32 less = chargeFor(capacity()) - chargeFor(n);
  // A new block: shrinking one in place would keep its storage.
  zuByteBlock(std::size_t{n} + kFrameOverhead).swap(storage_);
  zuGatherBudget::giveProcess(less);
}

void zuNetBuffer::chargeAbove(u32 freeCapacity) {
  zuGatherBudget::giveProcess(chargeFor(capacity()));
  charged_ = false;
  freeCapacity_ = freeCapacity;
  // What it holds already is charged too, within the budget or not: it is
  // held either way.
  const u32 now = capacity() > freeCapacity ? capacity() - freeCapacity : 0;
  if (now != 0 && !zuGatherBudget::takeProcess(now, true)) {
    shrinkTo(freeCapacity);
  }
  charged_ = true;
}
