#pragma once
// A progress counter that sets its change event when the position moves by
// at least a whole percent (and on every step near the end), so a reader on
// another thread wakes once per visible change.
#include <atomic>

#include "loam/platform/zuTypes.h"
#include "loam/threads/zuSingleEvent.h"

class zuProgress {
 public:
  // Throws zuException 260 when the event cannot be created.
  zuProgress(u32 first, u32 total, u32 position);
  zuProgress(const zuProgress&) = delete;
  zuProgress& operator=(const zuProgress&) = delete;
  virtual ~zuProgress() = default;

  void setPosition(u32 position);
  void step() { setPosition(position_.load(std::memory_order_relaxed) + 1); }
  // Starts over: total, first value 0, position 0, and the event is set.
  void reset(u32 ignored, u32 total);
  // The three values; clears the event when it was set, so each change is
  // seen once.
  void read(u32& first, u32& total, u32& position);

  zuSingleEvent& changeEvent() { return changed_; }

 private:
  zuSingleEvent changed_;
  std::atomic<u32> first_;
  std::atomic<u32> total_;
  std::atomic<u32> position_;
};
