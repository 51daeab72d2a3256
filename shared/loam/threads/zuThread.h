#pragma once
// The base of every thread of the library. A subclass supplies run; the base
// starts the operating-system thread, keeps its state, a stop event and a
// finished event, turns an exception that escapes run into the last error,
// and enters every started thread in a process-wide registry keyed by thread
// id, so any code can find the zuThread it runs on.
//
// Life: created (0) -> start -> running (1) <-> suspended (2) -> ended (3)
// once run has returned and onExit was called (or by terminate). An ended
// thread may be started again.
//
// Suspend and resume change the state only: Linux cannot stop an arbitrary
// thread where it stands, so a "suspended" thread keeps running. terminate
// never kills a thread (a killed thread would leave the log, registry or
// heap locks held for ever); it stops the thread, waits a bounded time, and
// then abandons it (see terminate).
#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuTimer.h"
#include "loam/platform/zuPlatformPoll.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/threads/zuMemMutex.h"
#include "loam/threads/zuSingleEvent.h"

class zuMainThread;

class zuThread {
 public:
  static constexpr u32 kStateCreated = 0;
  static constexpr u32 kStateRunning = 1;
  static constexpr u32 kStateSuspended = 2;
  static constexpr u32 kStateEnded = 3;

  // How long terminate waits for a stopped thread before it gives it up.
  static constexpr u32 kTerminateGraceMs = 250;

  using PollEntry = zuPlatform::PollEntry;
  static constexpr u16 kPollReadable = zuPlatform::kPollReadable;
  static constexpr u16 kPollWritable = zuPlatform::kPollWritable;
  static constexpr u16 kPollExceptional = zuPlatform::kPollExceptional;

  // The parent is the calling thread's zuThread, none when it has none.
  zuThread();
  // The given parent (null allowed). A non-null parent first binds the main
  // thread object when it was never bound.
  explicit zuThread(zuThread* parent);
  zuThread(const zuThread&) = delete;
  zuThread& operator=(const zuThread&) = delete;
  // The owner stops and waits for a thread before destroying it. Should the
  // thread still be in its last steps, the destructor waits for them (it
  // only lets go when it runs on the thread itself), so the object is never
  // freed under running code. It leaves the parent's child list; children
  // left behind lose their parent.
  virtual ~zuThread();

  // Only in state 1 or 2: resumes, stores the exit code, sets the stop
  // event. Does not wait; run ends when it notices the event.
  virtual void stop(u32 exitCode = 0);
  virtual const zuSingleEvent* stopEvent() const { return &stopEvent_; }
  virtual zuSingleEvent* stopEvent() { return &stopEvent_; }
  // Set when the state becomes 3.
  virtual const zuSingleEvent* finishedEvent() const { return &finishedEvent_; }
  virtual zuSingleEvent* finishedEvent() { return &finishedEvent_; }

  // In state 0 or 3 (else nothing happens): reaps a thread left from an
  // earlier run, resets both events and, when canStart agrees, starts the
  // thread. Throws std::bad_alloc when it cannot be created; the state then
  // stays as it was. run begins only after the thread is registered and in
  // state 1, so even a run that returns at once goes 1 -> 3.
  void start();
  // State changes only (see above).
  void suspend();
  void resume();
  // Waits without limit for the thread to end, and reaps it. Returns at
  // once on the thread itself and when no thread was started.
  void wait();
  // stop(0), then waits up to kTerminateGraceMs for the end. A thread still
  // running then is abandoned: it goes on alone, detached, and the state it
  // shares with this object stays alive, so its own last steps never touch
  // this object; the run of a subclass that can be abandoned must keep what
  // it still touches alive itself. A thread in its last steps is waited
  // for instead. The state is 3 afterwards.
  void terminate();

  bool isRunning() const;
  u32 state() const { return state_.load(std::memory_order_acquire); }
  u32 threadId() const { return threadId_.load(std::memory_order_acquire); }
  u32 exitCode() const { return exitCode_.load(std::memory_order_acquire); }
  // The error of an exception that escaped run; code 0 when there was none.
  zuErrorMessage lastError() const;
  zuThread* parent() const;
  std::vector<zuThread*> children() const;
  // Free for subclasses; the base class does not use it.
  const std::string& text() const { return text_; }
  void setText(const std::string& text) { text_ = text; }

  // On a copy of the child list, in list order.
  void stopChildren(u32 exitCode);
  void waitChildren();
  // Destroys each child (they are owned by this thread then).
  void deleteChildren();

  // False at once when events is not null and already set; with null events
  // sleeps ms and returns true. Otherwise waits on all handles of events
  // until one is signalled or ms pass (0xFFFFFFFF: no limit); true only
  // when the time ran out.
  static bool waitForObjects(u32 ms, zuEvent* events);

  // Clears every entry's returned events and waits up to ms (0xFFFFFFFF: no
  // limit) for any wanted event (kPollReadable, kPollWritable,
  // kPollExceptional); returns the OR of the returned events, 0 on time-out,
  // 1 when the wait failed.
  static u16 pollSockets(std::vector<PollEntry>& entries, u32 ms);
  static u16 pollSockets(i32 socket, u16 wanted, u32 ms);

  // Begins a wait on event: the event itself (or its set member) when it is
  // set; otherwise attaches this thread to it and returns null (still
  // attached) unless it became set meanwhile.
  zuEvent* waitEvent(zuEvent* event);
  // Ends such a wait: detaches and returns what signalled, if anything.
  zuEvent* endWaitEvent(zuEvent* event);

  // The registry, all under the registry lock. A thread already in state 3
  // is not entered.
  static void registerThread(u32 id, zuThread* thread);
  static void unregisterThread(u32 id);
  static zuThread* findThread(u32 id);
  static u32 threadCount();
  static u32 currentThreadId();
  static zuThread* currentThread();

  // The one rule that turns a caught exception into an error message: a
  // zuException gives its own message, std::bad_alloc code 259, any other
  // std::exception code 261 with "e" its what() text.
  static zuErrorMessage exceptionMessage(const std::exception& e);

 protected:
  virtual bool canStart() { return true; }
  virtual void onStart() {}
  virtual void run() = 0;
  // Called on the thread after run, even when run threw.
  virtual void onExit() {}
  // Stores the exception's message as the last error.
  virtual void handleException(const std::exception& e);

  // Under the registry lock; nothing happens when the state is unchanged.
  // State 3 sets the finished event and leaves the registry.
  void setState(u32 state);
  void setLastError(const zuErrorMessage& error);

 private:
  friend class zuMainThread;

  void link(zuThread* parent);
  static void threadProcedure(void* self);
  void finish();

  zuThread* parent_ = nullptr;
  std::atomic<u32> threadId_{0};
  std::string text_;
  std::atomic<u32> state_{kStateCreated};
  std::atomic<u32> exitCode_{0};
  // Restarted on the thread when its body begins; read there only.
  zuTimer timer_;
  zuPlatform::Thread native_;
  zuErrorMessage lastError_;
  std::atomic<zuEvent*> signalledEvent_{nullptr};
  // Guards the child list and the last error.
  mutable zuMemMutex lock_;
  std::vector<zuThread*> children_;
  zuSingleEvent stopEvent_;
  zuSingleEvent finishedEvent_;
};
