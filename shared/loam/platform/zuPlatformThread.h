#pragma once
// Threads of the platform.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// The kernel's id of the calling thread (never 0). Stays right in the child
// of a fork.
u32 currentThreadId();

}  // namespace zuPlatform
