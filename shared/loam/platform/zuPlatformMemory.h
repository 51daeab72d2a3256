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

// Pages straight from the system, for large buffers: they go back to it
// the moment they are released, where the C heap may keep freed blocks for
// ever, and pages never written are never resident. Null when none can be
// had or for a size of 0. unmapPages takes the size that was mapped.
void* mapPages(std::size_t size);
void unmapPages(void* block, std::size_t size);

// Gives the free memory that the C heap holds in its arenas (every thread
// has one) back to the system. Takes a while: for after many blocks were
// freed, not for every free.
void returnFreeHeap();

// Test seam: the next count calls of allocateBlock with a non-zero size
// fail. 0 turns it off.
void failAllocationsForTest(u32 count);

}  // namespace zuPlatform
