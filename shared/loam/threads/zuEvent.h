#pragma once
// The abstract thing a thread can wait on: one operating-system event, or a
// set of them treated as one.
#include <vector>

#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuPlatformMessageQueue.h"
#include "loam/platform/zuTypes.h"

class zuThread;

class zuEvent {
 public:
  zuEvent() = default;
  zuEvent(const zuEvent&) = delete;
  zuEvent& operator=(const zuEvent&) = delete;
  virtual ~zuEvent() = default;

  // Tests without waiting.
  virtual bool isSet() const = 0;
  // The event itself (for a set, the member) when set, else null.
  virtual zuEvent* signalled() = 0;
  virtual void set() = 0;
  virtual void reset() = 0;
  virtual void pulse() = 0;
  // Number of operating-system events behind it.
  virtual u32 eventCount() const { return 1; }
  // How often it was set or pulsed.
  virtual u32 setCount() const = 0;
  // Appends its handles, in order, for a wait on several objects.
  virtual void collectHandles(std::vector<zuPlatform::Handle>& handles) const = 0;
  // A message posted on every set and pulse; a null window or thread 0 turns
  // that notification off.
  virtual void setNotifyWindow(zuPlatform::WindowId window, u32 message, u64 parameter) = 0;
  virtual void setNotifyThread(u32 threadId, u32 message, u64 parameter) = 0;
  // Remembers or forgets a container (a waiting thread) that holds this event.
  virtual void attach(zuThread* container) = 0;
  virtual void detach(zuThread* container) = 0;
};
