#include "loam/threads/zuProgress.h"

namespace {

u64 percent(u32 position, u32 total) { return static_cast<u64>(position) * 100u / total; }

}  // namespace

zuProgress::zuProgress(u32 first, u32 total, u32 position)
    : first_(first), total_(total), position_(position) {}

void zuProgress::setPosition(u32 position) {
  const u32 total = total_.load(std::memory_order_relaxed);
  const u32 old = position_.exchange(position, std::memory_order_release);
  if (total >= 10 && position <= total - 10) {
    if (percent(position, total) != percent(old, total)) changed_.set();
  } else {
    changed_.set();
  }
}

void zuProgress::reset(u32 /*ignored*/, u32 total) {
  total_.store(total, std::memory_order_relaxed);
  first_.store(0, std::memory_order_relaxed);
  position_.store(0, std::memory_order_release);
  changed_.set();
}

void zuProgress::read(u32& first, u32& total, u32& position) {
  // Cleared before the values are read: a change made meanwhile is either in
  // the values or sets the event again.
  if (changed_.isSet()) changed_.reset();
  position = position_.load(std::memory_order_acquire);
  first = first_.load(std::memory_order_relaxed);
  total = total_.load(std::memory_order_relaxed);
}
