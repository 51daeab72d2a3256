#include "loam/platform/zuPlatformThread.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "loam/platform/zuPlatformSignals.h"

namespace zuPlatform {

namespace {

// gettid() is a system call and every lock asks for it, so each thread
// remembers its own. A forked child is a new thread with the parent's copy,
// hence the reset.
thread_local u32 t_threadId = 0;

void forgetThreadId() { t_threadId = 0; }

constinit std::atomic<u32> g_failCreations{0};

constexpr u32 kForever = 0xFFFFFFFF;

}  // namespace

u32 currentThreadId() {
  if (t_threadId == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, &forgetThreadId);
    (void)registered;
    t_threadId = static_cast<u32>(::gettid());
  }
  return t_threadId;
}

void sleepFor(u32 ms) {
  if (ms == kForever) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// What the thread and its owner share. The thread holds its own reference,
// so an owner that abandons the thread, or is destroyed, never frees it
// under the running thread.
struct Thread::Control {
  // Set by the creator, used only by the owner's calls under Thread::mutex_.
  pthread_t native{};
  std::mutex mutex;
  std::condition_variable changed;
  Procedure procedure = nullptr;
  void* argument = nullptr;
  u32 id = 0;
  bool gateOpen = false;
  bool runProcedure = true;
  bool inTail = false;
  bool abandoned = false;
  bool ended = false;
};

namespace {
// The Control of the zuPlatform::Thread running on this thread, if any.
thread_local void* t_control = nullptr;
}  // namespace

void* Thread::entry(void* raw) {
  // So that even a stack overflow here reaches the crash filter.
  prepareCrashStack();
  std::shared_ptr<Control> control;
  {
    std::unique_ptr<std::shared_ptr<Control>> handover(static_cast<std::shared_ptr<Control>*>(raw));
    control = std::move(*handover);
  }
  bool run = false;
  {
    std::unique_lock<std::mutex> lock(control->mutex);
    control->id = currentThreadId();
    control->changed.notify_all();
    control->changed.wait(lock, [&] { return control->gateOpen; });
    run = control->runProcedure;
  }
  if (run) {
    t_control = control.get();
    control->procedure(control->argument);
    t_control = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(control->mutex);
    control->ended = true;
  }
  control->changed.notify_all();
  return nullptr;
}

Thread::~Thread() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!joinable_.load(std::memory_order_relaxed)) return;
  {
    std::lock_guard<std::mutex> hold(control_->mutex);
    control_->abandoned = true;
  }
  control_->changed.notify_all();
  pthread_detach(control_->native);
  joinable_.store(false, std::memory_order_release);
}

bool Thread::create(Procedure procedure, void* argument) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (joinable_.load(std::memory_order_relaxed)) {
    errno = EBUSY;
    return false;
  }
  u32 failures = g_failCreations.load(std::memory_order_relaxed);
  while (failures != 0 && !g_failCreations.compare_exchange_weak(failures, failures - 1,
                                                                 std::memory_order_relaxed)) {
  }
  if (failures != 0) {
    errno = EAGAIN;
    return false;
  }
  auto control = std::make_shared<Control>();
  control->procedure = procedure;
  control->argument = argument;
  auto handover = std::make_unique<std::shared_ptr<Control>>(control);
  pthread_t native{};
  const int rc = pthread_create(&native, nullptr, &Thread::entry, handover.get());
  if (rc != 0) {
    errno = rc;
    return false;
  }
  (void)handover.release();  // the new thread owns it now
  {
    // The thread reports its id before it stops at the gate.
    std::unique_lock<std::mutex> hold(control->mutex);
    control->changed.wait(hold, [&] { return control->id != 0; });
  }
  control->native = native;
  control_ = std::move(control);
  id_.store(control_->id, std::memory_order_release);
  joinable_.store(true, std::memory_order_release);
  return true;
}

void Thread::open() {
  std::shared_ptr<Control> control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    control = control_;
  }
  if (!control) return;
  {
    std::lock_guard<std::mutex> lock(control->mutex);
    control->gateOpen = true;
  }
  control->changed.notify_all();
}

void Thread::cancel() {
  std::shared_ptr<Control> control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    control = control_;
  }
  if (!control) return;
  {
    std::lock_guard<std::mutex> lock(control->mutex);
    if (!control->gateOpen) control->runProcedure = false;
    control->gateOpen = true;
  }
  control->changed.notify_all();
  join();
}

bool Thread::waitEnded(u32 ms) const {
  std::shared_ptr<Control> control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    control = control_;
  }
  if (!control) return true;
  std::unique_lock<std::mutex> lock(control->mutex);
  const auto ended = [&] { return control->ended; };
  if (ms == kForever) {
    control->changed.wait(lock, ended);
    return true;
  }
  return control->changed.wait_for(lock, std::chrono::milliseconds(ms), ended);
}

void Thread::join() {
  std::shared_ptr<Control> control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!joinable_.load(std::memory_order_relaxed)) return;
    control = control_;
  }
  {
    // Waiting here, not in pthread_join under mutex_, keeps abandon and
    // other joiners free to proceed; an abandoned thread ends the wait too.
    std::unique_lock<std::mutex> lock(control->mutex);
    control->changed.wait(lock, [&] { return control->ended || control->abandoned; });
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (joinable_.load(std::memory_order_relaxed) && control_ == control) {
    pthread_join(control_->native, nullptr);
    joinable_.store(false, std::memory_order_release);
  }
}

bool Thread::abandon() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!joinable_.load(std::memory_order_relaxed)) return false;
  const bool self = pthread_equal(pthread_self(), control_->native) != 0;
  {
    std::lock_guard<std::mutex> hold(control_->mutex);
    if (!self && (control_->ended || control_->inTail)) return false;
    control_->abandoned = true;
  }
  control_->changed.notify_all();
  pthread_detach(control_->native);
  joinable_.store(false, std::memory_order_release);
  return true;
}

bool Thread::enterTail() {
  auto* control = static_cast<Control*>(t_control);
  if (!control) return true;
  std::lock_guard<std::mutex> lock(control->mutex);
  if (control->abandoned) return false;
  control->inTail = true;
  return true;
}

void Thread::failCreationsForTest(u32 count) {
  g_failCreations.store(count, std::memory_order_relaxed);
}

}  // namespace zuPlatform
