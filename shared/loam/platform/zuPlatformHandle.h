#pragma once
// Waitable objects of the platform are file descriptors: events, sockets and
// process handles alike, so one poll() waits on any mix of them.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

inline bool isValidHandle(Handle handle) { return handle >= 0; }

// Closes a handle; an invalid handle is ignored. False when the close failed.
bool closeHandle(Handle handle);

}  // namespace zuPlatform
