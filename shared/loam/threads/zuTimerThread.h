#pragma once
// A thread that calls a function every interval until it is stopped.
#include <atomic>

#include "loam/threads/zuThread.h"

class zuTimerThread : public zuThread {
 public:
  using Callback = void (*)();

  // The callback may be null (the thread then only keeps time).
  zuTimerThread(Callback callback, u32 intervalMs);
  // Stops the thread and waits for it: run uses this object's fields.
  ~zuTimerThread() override;

  // Returns the previous callback; takes effect from the next call on.
  Callback setCallback(Callback callback);
  u32 interval() const { return intervalMs_; }

 protected:
  // Waits a whole interval on the stop event between calls; a stop event set
  // before the thread starts ends it before the first call.
  void run() override;

 private:
  std::atomic<Callback> callback_;
  u32 intervalMs_;
};
