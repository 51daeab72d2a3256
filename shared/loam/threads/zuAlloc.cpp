#include "loam/threads/zuAlloc.h"

#include <cstring>

#include "loam/platform/zuPlatformMemory.h"
#include "loam/threads/zuAllocGuard.h"

namespace {

void* allocateOrThrow(u32 size) {
  if (size == 0) return nullptr;
  void* block = zuPlatform::allocateBlock(size);
  if (!block) zuThrowBadAlloc();
  return block;
}

}  // namespace

zuAlloc::zuAlloc(u32 size) { resize(size); }

zuAlloc::~zuAlloc() { free(); }

void zuAlloc::free() {
  zuPlatform::releaseBlock(ptr_);
  ptr_ = nullptr;
  size_ = 0;
}

bool zuAlloc::resize(u32 size) {
  // Released first, and forgotten before the new allocation may throw, so
  // the destructor never releases the old block a second time.
  free();
  ptr_ = allocateOrThrow(size);
  size_ = size;
  return true;
}

bool zuAlloc::grow(u32 size) {
  if (size <= size_) return true;
  void* block = allocateOrThrow(size);
  if (size_ > 0) std::memcpy(block, ptr_, size_);
  zuPlatform::releaseBlock(ptr_);
  ptr_ = block;
  size_ = size;
  return true;
}

void zuAlloc::attach(void* block, u32 size) {
  if (block != ptr_) zuPlatform::releaseBlock(ptr_);
  ptr_ = block;
  size_ = block ? size : 0;
}
