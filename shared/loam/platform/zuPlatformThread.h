#pragma once
// Threads of the platform: the calling thread's id, sleeping, and Thread, a
// pthread that is created "suspended" behind a start gate.
//
// Suspending and resuming an arbitrary running thread has no Linux
// counterpart; the library keeps them as state changes only. Killing a thread
// is not offered either: a killed thread would leave whatever it held (the
// log, registry or heap locks) held for ever. An owner that cannot wait any
// longer abandons the thread instead (see Thread::abandon).
#include <atomic>
#include <memory>
#include <mutex>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// The kernel's id of the calling thread (never 0). Stays right in the child
// of a fork.
u32 currentThreadId();

// Sleeps ms milliseconds; 0xFFFFFFFF sleeps for ever.
void sleepFor(u32 ms);

class Thread {
 public:
  using Procedure = void (*)(void* argument);

  Thread() = default;
  // A thread still joinable is detached: its procedure may go on, the
  // state it shares with this object stays alive until it ends.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts a thread (default attributes) that stops at its start gate before
  // it calls procedure(argument). Returns once the new thread's id is known.
  // False (errno set) when the thread could not be created; a thread still
  // joinable from an earlier create must be joined or detached first.
  bool create(Procedure procedure, void* argument);
  // Opens the start gate: the procedure runs.
  void open();
  // Opens the gate without running the procedure, then joins.
  void cancel();

  // The id of the thread last created; 0 before.
  u32 id() const { return id_.load(std::memory_order_acquire); }
  // Created and neither joined nor detached.
  bool joinable() const { return joinable_.load(std::memory_order_acquire); }

  // Waits up to ms (0xFFFFFFFF: no limit) for the thread's procedure to have
  // returned. True when it has, or when no thread was ever created.
  bool waitEnded(u32 ms) const;
  // Waits for the end without limit and reaps the thread. Not from the
  // thread itself. Safe to call from several threads at once.
  void join();
  // Gives the thread up: it is detached and goes on alone. Refused (false)
  // when the procedure has already returned or has begun its tail (see
  // enterTail); the caller then joins, which takes only as long as the tail.
  // Called on the thread itself it always succeeds.
  bool abandon();

  // Called by a procedure on its own thread after its body, before it
  // touches its owner again: false when the owner has abandoned the thread,
  // whose owner may then be gone. From then on abandon is refused.
  static bool enterTail();

  // Test seam: the next count calls of create fail with EAGAIN.
  static void failCreationsForTest(u32 count);

 private:
  struct Control;
  static void* entry(void* control);

  // Guards control_ (and the native thread in it) against joins and
  // detaches from several threads; never held while waiting for the thread.
  mutable std::mutex mutex_;
  std::shared_ptr<Control> control_;
  std::atomic<u32> id_{0};
  std::atomic<bool> joinable_{false};
};

}  // namespace zuPlatform
