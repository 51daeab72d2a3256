#include "loam/threads/zuThread.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformEvent.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformRandom.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuStMutex.h"

namespace {

using zuThreadRegistry = std::map<u32, zuThread*>;

// Guarded by zuRegistryLock.
ZU_INIT_ORDER(ZU_INIT_THREAD_REGISTRY) zuThreadRegistry g_threadRegistry;
ZU_INIT_ORDER(ZU_INIT_THREAD_REGISTRY)
zuPlatform::InitNote g_threadRegistryNote{ZU_INIT_THREAD_REGISTRY};

// Guards every thread's parent pointer and its entry in the parent's child
// list, so a parent and a child may be destroyed in either order. Taken
// before a thread's own lock, never the other way round.
constinit std::mutex g_familyMutex;

// Where the catch-all of the thread procedure stands, as its internal error
// names it.
constexpr const char* kThreadSourceFile = ".\\shared\\loam\\threads\\zuThread";
constexpr const char* kThreadCatchAllLine = "1010";

}  // namespace

zuThread::zuThread() { link(currentThread()); }

zuThread::zuThread(zuThread* parent) {
  if (parent) zuMainThread::instance().attach(false);
  link(parent);
}

void zuThread::link(zuThread* parent) {
  if (!parent) return;
  std::lock_guard<std::mutex> family(g_familyMutex);
  zuStMutex hold(parent->lock_);
  parent->children_.push_back(this);
  parent_ = parent;
}

zuThread::~zuThread() {
  if (native_.joinable()) {
    if (threadId() == zuPlatform::currentThreadId())
      native_.abandon();
    else
      native_.join();
  }
  std::lock_guard<std::mutex> family(g_familyMutex);
  if (parent_) {
    zuStMutex hold(parent_->lock_);
    auto& siblings = parent_->children_;
    const auto it = std::find(siblings.begin(), siblings.end(), this);
    if (it != siblings.end()) siblings.erase(it);
  }
  zuStMutex hold(lock_);
  for (zuThread* child : children_) child->parent_ = nullptr;
  children_.clear();
}

zuThread* zuThread::parent() const {
  std::lock_guard<std::mutex> family(g_familyMutex);
  return parent_;
}

std::vector<zuThread*> zuThread::children() const {
  zuStMutex hold(lock_);
  return children_;
}

// ---- life cycle ----

void zuThread::start() {
  const u32 previous = state();
  if (previous == kStateRunning || previous == kStateSuspended) return;
  if (native_.joinable()) {
    if (threadId() == zuPlatform::currentThreadId())
      native_.abandon();
    else
      native_.join();
  }
  stopEvent_.reset();
  finishedEvent_.reset();
  if (!canStart()) return;
  if (!native_.create(&zuThread::threadProcedure, this)) throw std::bad_alloc();
  try {
    threadId_.store(native_.id(), std::memory_order_release);
    // State before registration: a thread that ended before (state 3) would
    // otherwise not be entered again.
    zuStMutex hold(zuRegistryLock);
    setState(kStateRunning);
    registerThread(threadId(), this);
  } catch (...) {
    native_.cancel();
    zuStMutex hold(zuRegistryLock);
    unregisterThread(threadId());
    state_.store(previous, std::memory_order_release);
    throw;
  }
  native_.open();
}

void zuThread::stop(u32 exitCode) {
  if (!isRunning()) return;
  resume();
  exitCode_.store(exitCode, std::memory_order_release);
  stopEvent_.set();
}

void zuThread::suspend() {
  if (native_.joinable() && state() == kStateRunning) setState(kStateSuspended);
}

void zuThread::resume() {
  if (native_.joinable() && state() == kStateSuspended) setState(kStateRunning);
}

void zuThread::wait() {
  if (!native_.joinable() || threadId() == zuPlatform::currentThreadId()) return;
  native_.join();
}

void zuThread::terminate() {
  stop(0);
  if (!native_.joinable() || !isRunning()) return;
  if (threadId() != zuPlatform::currentThreadId()) {
    // Not killed: the thread is given up once the grace time is over, unless
    // it is already on its way out.
    if (native_.waitEnded(kTerminateGraceMs) || !native_.abandon()) native_.join();
  }
  setState(kStateEnded);
}

bool zuThread::isRunning() const {
  const u32 s = state();
  return s == kStateRunning || s == kStateSuspended;
}

void zuThread::setState(u32 state) {
  zuStMutex hold(zuRegistryLock);
  if (state_.load(std::memory_order_relaxed) == state) return;
  state_.store(state, std::memory_order_release);
  if (state == kStateEnded) {
    const auto it = g_threadRegistry.find(threadId());
    if (it != g_threadRegistry.end() && it->second == this) g_threadRegistry.erase(it);
    finishedEvent_.set();
  }
}

// ---- the thread itself ----

void zuThread::threadProcedure(void* raw) {
  auto* self = static_cast<zuThread*>(raw);
  // Each thread its own C run-time random sequence.
  zuPlatform::crtSrand(static_cast<u32>(reinterpret_cast<std::uintptr_t>(self)));
  zuPlatform::crtSrand(zuGetTickCount() ^ zuPlatform::crtRand());
  self->timer_.start();
  std::exception_ptr failure;
  try {
    self->onStart();
    self->run();
  } catch (...) {
    failure = std::current_exception();
  }
  // An owner that abandoned the thread may be gone: touch nothing of it.
  if (!zuPlatform::Thread::enterTail()) return;
  if (failure) {
    try {
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        self->handleException(e);
      } catch (...) {
        self->handleException(zuException(kzuCodeInternalError, kzuInternalErrorAtText, 'f',
                                          kThreadSourceFile, 'l', kThreadCatchAllLine));
      }
    } catch (...) {
      // An override that throws must not end the process.
    }
  }
  self->finish();
}

void zuThread::finish() {
  // State 3 even when onExit throws: owners wait for it and reap by it.
  try {
    onExit();
  } catch (...) {
  }
  try {
    setState(kStateEnded);
  } catch (...) {
    // The finished event failed; the state is 3 and the registry entry gone.
  }
}

void zuThread::handleException(const std::exception& e) { setLastError(exceptionMessage(e)); }

void zuThread::setLastError(const zuErrorMessage& error) {
  zuStMutex hold(lock_);
  lastError_ = error;
}

zuErrorMessage zuThread::lastError() const {
  zuStMutex hold(lock_);
  return lastError_;
}

// ---- children ----

void zuThread::stopChildren(u32 exitCode) {
  for (zuThread* child : children()) child->stop(exitCode);
}

void zuThread::waitChildren() {
  for (zuThread* child : children()) child->wait();
}

void zuThread::deleteChildren() {
  for (zuThread* child : children()) delete child;
}

// ---- waiting ----

bool zuThread::waitForObjects(u32 ms, zuEvent* events) {
  if (!events) {
    zuPlatform::sleepFor(ms);
    return true;
  }
  if (events->isSet()) return false;
  std::vector<zuPlatform::Handle> handles;
  events->collectHandles(handles);
  const i32 result = zuPlatform::waitForAny(handles, ms);
  if (result >= 0 && static_cast<std::size_t>(result) < handles.size())
    zuPlatform::eventAcquired(handles[static_cast<std::size_t>(result)]);
  return result == zuPlatform::kWaitTimeout;
}

u16 zuThread::pollSockets(std::vector<PollEntry>& entries, u32 ms) {
  return zuPlatform::pollSockets(entries, ms);
}

u16 zuThread::pollSockets(i32 socket, u16 wanted, u32 ms) {
  PollEntry entry{socket, wanted, 0};
  return zuPlatform::pollSockets(std::span<PollEntry>(&entry, 1), ms);
}

zuEvent* zuThread::waitEvent(zuEvent* event) {
  signalledEvent_.store(nullptr, std::memory_order_release);
  if (!event) return nullptr;
  if (event->isSet()) return event->signalled();
  event->attach(this);
  if (event->isSet()) {
    event->detach(this);
    return event->signalled();
  }
  if (zuEvent* filled = signalledEvent_.load(std::memory_order_acquire)) {
    event->detach(this);
    return filled;
  }
  return nullptr;
}

zuEvent* zuThread::endWaitEvent(zuEvent* event) {
  zuEvent* filled = signalledEvent_.load(std::memory_order_acquire);
  if (!event) return filled;
  event->detach(this);
  return filled ? filled : event->signalled();
}

// ---- registry ----

void zuThread::registerThread(u32 id, zuThread* thread) {
  zuStMutex hold(zuRegistryLock);
  if (thread && thread->state() == kStateEnded) return;
  g_threadRegistry[id] = thread;
}

void zuThread::unregisterThread(u32 id) {
  zuStMutex hold(zuRegistryLock);
  g_threadRegistry.erase(id);
}

zuThread* zuThread::findThread(u32 id) {
  zuStMutex hold(zuRegistryLock);
  const auto it = g_threadRegistry.find(id);
  return it == g_threadRegistry.end() ? nullptr : it->second;
}

u32 zuThread::threadCount() {
  zuStMutex hold(zuRegistryLock);
  return static_cast<u32>(g_threadRegistry.size());
}

u32 zuThread::currentThreadId() { return zuPlatform::currentThreadId(); }

zuThread* zuThread::currentThread() { return findThread(currentThreadId()); }

// ---- exceptions ----

zuErrorMessage zuThread::exceptionMessage(const std::exception& e) {
  zuErrorMessage result(0, "");
  if (const auto* ze = dynamic_cast<const zuException*>(&e)) {
    result = ze->message();
    if (result.text() == kzuUnspecifiedErrorText && !result.hasParam('e'))
      result.setParamNumber('e', static_cast<u32>(result.code()));
  } else if (dynamic_cast<const std::bad_alloc*>(&e)) {
    result = zuErrorMessage(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
  } else {
    result = zuErrorMessage(kzuCodeInternalError, kzuUnexpectedExceptionText, 'e',
                            std::string(e.what()));
  }
  return result;
}
