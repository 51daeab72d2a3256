#include "loam/platform/zuPlatformThread.h"

#include <pthread.h>
#include <unistd.h>

namespace zuPlatform {

namespace {

// gettid() is a system call and every lock asks for it, so each thread
// remembers its own. A forked child is a new thread with the parent's copy,
// hence the reset.
thread_local u32 t_threadId = 0;

void forgetThreadId() { t_threadId = 0; }

}  // namespace

u32 currentThreadId() {
  if (t_threadId == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, &forgetThreadId);
    (void)registered;
    t_threadId = static_cast<u32>(::gettid());
  }
  return t_threadId;
}

}  // namespace zuPlatform
