#include "loam/platform/zuPlatformResourceError.h"

#include <cerrno>

namespace zuPlatform {

bool isResourceExhausted(u32 error) {
  switch (error) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
      return true;
    default:
      return false;
  }
}

}  // namespace zuPlatform
