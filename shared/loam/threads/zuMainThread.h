#pragma once
// Stands for the process's main thread: one global object, built before main
// in state 1, unbound, with no operating-system thread of its own. Its stop
// event is the process's stop signal. attach binds it to the thread that runs
// the process's main work.
#include <atomic>

#include "loam/threads/zuThread.h"

class zuMainThread : public zuThread {
 public:
  // Seeds the calling thread's C run-time random generator, as a thread start
  // does.
  zuMainThread();
  // State 3 without the state change (no finished event); a bound object
  // leaves the registry.
  ~zuMainThread() override;

  static zuMainThread& instance();

  // Never bound: binds to the calling thread (its id, registered). Bound to
  // another thread and rebind true: takes the caller's id and registers it;
  // the earlier id stays in the registry.
  void attach(bool rebind = true);
  bool isBound() const { return bound_.load(std::memory_order_acquire); }

 protected:
  void run() override {}

 private:
  std::atomic<bool> bound_{false};
};
