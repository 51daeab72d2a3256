#pragma once
// Raw memory blocks, with a seam that makes allocations fail on demand. The
// C allocator never calls the new-handler, so library code takes raw blocks
// only through a wrapper that throws (zuAlloc), never from malloc directly.
#include <cstddef>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// A block of size bytes, or null when none can be had (or the seam says so).
// A size of 0 gives null.
void* allocateBlock(std::size_t size);
// Null is allowed.
void releaseBlock(void* block);

// Test seam: the next count calls of allocateBlock with a non-zero size
// fail. 0 turns it off.
void failAllocationsForTest(u32 count);

}  // namespace zuPlatform
