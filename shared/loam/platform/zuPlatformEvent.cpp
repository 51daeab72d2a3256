#include "loam/platform/zuPlatformEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#if defined(__SANITIZE_THREAD__)
#define ZU_TSAN_EVENTS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZU_TSAN_EVENTS 1
#endif
#endif

#ifdef ZU_TSAN_EVENTS
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace zuPlatform {

namespace {

// ThreadSanitizer sees a set and a wait on the same eventfd as unrelated;
// these tell it that the set happens before whatever observes the event.
// One sync address per descriptor (modulo the table): a shared slot only
// adds ordering, never hides a real one.
#ifdef ZU_TSAN_EVENTS
char g_syncSlots[4096];
void* syncSlot(Handle h) { return &g_syncSlots[static_cast<unsigned>(h) % sizeof g_syncSlots]; }
void releaseFor(Handle h) { __tsan_release(syncSlot(h)); }
void acquireFor(Handle h) { __tsan_acquire(syncSlot(h)); }
#else
void releaseFor(Handle) {}
void acquireFor(Handle) {}
#endif

}  // namespace

void eventAcquired(Handle handle) {
  if (isValidHandle(handle)) acquireFor(handle);
}

Handle createEvent() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

bool setEvent(Handle event) {
  if (!isValidHandle(event)) {
    errno = EBADF;
    return false;
  }
  const eventfd_t one = 1;
  releaseFor(event);
  for (;;) {
    const ssize_t n = ::write(event, &one, sizeof one);
    if (n == static_cast<ssize_t>(sizeof one)) return true;
    // A counter at its ceiling is signalled already.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool resetEvent(Handle event) {
  if (!isValidHandle(event)) {
    errno = EBADF;
    return false;
  }
  eventfd_t value = 0;
  for (;;) {
    // One read takes the whole counter back to zero.
    const ssize_t n = ::read(event, &value, sizeof value);
    if (n == static_cast<ssize_t>(sizeof value)) {
      acquireFor(event);
      return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool pulseEvent(Handle event) { return setEvent(event) && resetEvent(event); }

bool isSignalled(Handle handle) {
  if (!isValidHandle(handle)) return false;
  pollfd entry{handle, POLLIN, 0};
  for (;;) {
    const int n = ::poll(&entry, 1, 0);
    if (n > 0) {
      const bool set = (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
      if (set) acquireFor(handle);
      return set;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace zuPlatform
