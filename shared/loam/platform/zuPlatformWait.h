#pragma once
// Waiting on several waitable handles at once: one poll() over their
// descriptors.
#include <chrono>
#include <span>

#include "loam/platform/zuPlatformHandle.h"

namespace zuPlatform {

inline constexpr u32 kWaitForever = 0xFFFFFFFF;  // time-out meaning "no limit"
inline constexpr i32 kWaitTimeout = -1;
inline constexpr i32 kWaitFailed = -2;

// Waits until one of the handles is signalled (readable, hung up or in error)
// or ms pass. Returns the index of the first signalled handle, kWaitTimeout,
// or kWaitFailed (errno set) when the wait itself failed or a handle is not
// open. Invalid handles (negative) in the list are skipped, so a list built
// position by position keeps its indices. An empty list, or one of invalid
// handles only, just waits out the time (and fails for kWaitForever, which
// would never return).
i32 waitForAny(std::span<const Handle> handles, u32 ms);

// poll()'s time-out for the next slice of a wait of ms that ends at end:
// poll() takes an int of milliseconds, so longer waits are made in slices.
// -1 for kWaitForever, otherwise what is left, from 0 to INT_MAX.
int pollSlice(u32 ms, std::chrono::steady_clock::time_point end);

// The one-handle form: true when the handle is signalled within ms.
bool waitForOne(Handle handle, u32 ms);

}  // namespace zuPlatform
