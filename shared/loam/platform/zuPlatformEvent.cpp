#include "loam/platform/zuPlatformEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace zuPlatform {

Handle createEvent() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

bool setEvent(Handle event) {
  if (!isValidHandle(event)) {
    errno = EBADF;
    return false;
  }
  const eventfd_t one = 1;
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
    if (n == static_cast<ssize_t>(sizeof value)) return true;
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
    if (n > 0) return (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace zuPlatform
