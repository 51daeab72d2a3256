#pragma once
// The recursive in-process lock that guards all shared data of the library.
// It remembers its owner, so a nested lock by the owner only counts and an
// unlock by any other thread is ignored.
#include <atomic>

#include "loam/platform/zuPlatformCriticalSection.h"
#include "loam/platform/zuTypes.h"
#include "loam/threads/zuMutex.h"

class zuMemMutex : public zuMutex {
 public:
  zuMemMutex() = default;
  ~zuMemMutex() override = default;

  // Waits as long as needed; always true.
  bool lock() override;
  // Only by the owner; each lock needs its own unlock.
  void unlock() override;
  bool isLocked() const override { return owner_.load(std::memory_order_acquire) != 0; }

  // Thread id of the owner, 0 when free.
  u32 owner() const { return owner_.load(std::memory_order_acquire); }
  // Recursion depth; meaningful to the owner.
  u32 count() const { return count_.load(std::memory_order_acquire); }

 private:
  std::atomic<u32> count_{0};
  std::atomic<u32> owner_{0};
  zuPlatform::CriticalSection section_;
};
