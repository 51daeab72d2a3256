#include "loam/threads/zuMainThread.h"

#include <cstdint>

#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/platform/zuPlatformRandom.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuStMutex.h"

namespace {
ZU_INIT_ORDER(ZU_INIT_MAIN_THREAD) zuMainThread g_mainThread;
ZU_INIT_ORDER(ZU_INIT_MAIN_THREAD) zuPlatform::InitNote g_mainThreadNote{ZU_INIT_MAIN_THREAD};
}  // namespace

zuMainThread::zuMainThread() : zuThread(nullptr) {
  state_.store(kStateRunning, std::memory_order_release);
  zuPlatform::crtSrand(static_cast<u32>(reinterpret_cast<std::uintptr_t>(this)));
  zuPlatform::crtSrand(zuGetTickCount() ^ zuPlatform::crtRand());
}

zuMainThread::~zuMainThread() {
  zuStMutex hold(zuRegistryLock);
  state_.store(kStateEnded, std::memory_order_release);
  if (isBound()) unregisterThread(threadId());
}

zuMainThread& zuMainThread::instance() { return g_mainThread; }

void zuMainThread::attach(bool rebind) {
  const u32 me = zuPlatform::currentThreadId();
  zuStMutex hold(zuRegistryLock);
  if (!isBound()) {
    threadId_.store(me, std::memory_order_release);
    registerThread(me, this);
    bound_.store(true, std::memory_order_release);
  } else if (rebind && threadId() != me) {
    threadId_.store(me, std::memory_order_release);
    registerThread(me, this);
  }
}
