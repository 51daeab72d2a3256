#pragma once
// Whether a system error code says the process or the machine has run out
// of descriptors or memory: a server that meets one goes on and tries again
// later rather than giving up.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

bool isResourceExhausted(u32 error);

}  // namespace zuPlatform
