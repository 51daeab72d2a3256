#include "loam/platform/zuPlatformHandle.h"

#include <unistd.h>

namespace zuPlatform {

bool closeHandle(Handle handle) {
  if (!isValidHandle(handle)) return true;
  // Linux releases the descriptor even when close reports EINTR; never retry.
  return ::close(handle) == 0;
}

}  // namespace zuPlatform
