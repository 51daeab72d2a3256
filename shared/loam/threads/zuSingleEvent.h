#pragma once
// One manual-reset event, or another waitable handle such as a process
// handle, that can announce each set or pulse with a posted message.
#include <atomic>
#include <vector>

#include "loam/threads/zuEvent.h"

class zuSingleEvent : public zuEvent {
 public:
  // With a handle: wraps it, and closes it at the end when create is true
  // (a caller may hand over a handle that way). Without one: creates a new
  // event, initially clear, when create is true; else holds no handle.
  // Throws zuException 260 when creation fails.
  explicit zuSingleEvent(zuPlatform::Handle handle = zuPlatform::kInvalidHandle,
                         bool create = true);
  ~zuSingleEvent() override;

  bool isSet() const override;
  zuEvent* signalled() override;
  // set, reset and pulse throw zuException 260 when the operating system
  // fails; the state fields keep what was written before that call.
  void set() override;
  void reset() override;
  // Counts like set but leaves the event clear. Not a reliable hand-off: it
  // may wake no waiter at all.
  void pulse() override;
  u32 eventCount() const override { return 1; }
  u32 setCount() const override { return setCount_.load(std::memory_order_acquire); }
  void collectHandles(std::vector<zuPlatform::Handle>& handles) const override;
  void setNotifyWindow(zuPlatform::WindowId window, u32 message, u64 parameter) override;
  void setNotifyThread(u32 threadId, u32 message, u64 parameter) override;
  // attach appends (the same container may be entered twice); detach removes
  // the first equal entry.
  void attach(zuThread* container) override;
  void detach(zuThread* container) override;
  // Leaves the container list as it is.
  virtual void detachAll();

  zuPlatform::Handle handle() const { return handle_; }
  bool owned() const { return owned_ != 0; }
  // The state as last written by set, reset, pulse or isSet.
  bool lastState() const { return lastState_.load(std::memory_order_acquire) != 0; }
  std::vector<zuThread*> containers() const;

 private:
  struct Notify {
    zuPlatform::WindowId window = zuPlatform::kNoWindow;
    u32 thread = 0;
    u32 message = 0;
    u64 parameter = 0;
  };
  // Counts, records and copies the notify fields under the event lock.
  Notify markSignalled(u8 state);
  void post(const Notify& notify);

  mutable std::atomic<u8> lastState_{0};
  std::atomic<u32> setCount_{0};
  zuPlatform::Handle handle_ = zuPlatform::kInvalidHandle;
  u8 owned_ = 0;
  Notify notify_;
  std::vector<zuThread*> containers_;
};
